// The live feed server over real Unix sockets, each test in its own runtime folder.
#include "platform/dde.h"
#include "platform/dde_protocol.h"
#include "tests/support/fakes.h"
#include "tests/support/unix_line_client.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>
#include <vector>

namespace veltrane {
namespace {

using test::UnixLineClient;

class DdeServerTest : public ::testing::Test {
protected:
    std::unique_ptr<DdeServer> startFeed(const DdeServerLimits& limits = {}) {
        auto server = createLocalDdeServer(QStringLiteral("veltrane"), nullptr, limits);
        server->setTopic(QStringLiteral("veltrane"));
        server->setItem(QStringLiteral("weightdata"), QStringLiteral("1234"));
        return server;
    }
    QString path() const { return ddeSocketPath(QStringLiteral("veltrane")); }

    test::RuntimeFolder m_runtime;
};

TEST_F(DdeServerTest, AnswersEachLineInOrderEvenWhenSentTogether) {
    auto server = startFeed();
    struct Case {
        std::string line;
        std::string reply;
    };
    // The grammar itself is covered by dde_protocol_test; these are the server's answers to it.
    const std::vector<Case> cases{
        {"REQUEST veltrane weightdata", "DATA 1234"},
        {"request VELTRANE WeightData\r", "DATA 1234"},  // names ignore case, as DDE names do
        {"REQUEST other weightdata", "NACK no such topic"},
        {"REQUEST veltrane nothing", "NACK no such item"},
        {"UNADVISE veltrane weightdata", "OK"},
        {std::string("REQUEST velt\0rane weightdata", 28), "NACK bad request"},
        {"", "NACK bad request"},
        {std::string(kDdeMaxLine + 1, 'A'), "NACK line too long"},
        {"REQUEST veltrane weightdata", "DATA 1234"},
    };
    std::string all;
    for (const auto& c : cases) all += c.line + '\n';
    UnixLineClient client(path());
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.send(all));
    for (const auto& c : cases)
        EXPECT_EQ(client.line(), c.reply) << "for line of " << c.line.size() << " bytes";
}

// What `echo REQUEST ... | socat - UNIX-CONNECT:...` does: the request, then the client's side shut.
TEST_F(DdeServerTest, AnswersAClientThatShutsItsSideAfterTheRequest) {
    auto server = startFeed();
    for (int round = 0; round < 20; ++round) {
        UnixLineClient client(path());
        ASSERT_TRUE(client.connected());
        ASSERT_TRUE(client.send("REQUEST veltrane weightdata\n"));
        ::shutdown(client.fd(), SHUT_WR);
        EXPECT_EQ(client.line(), std::optional<std::string>("DATA 1234")) << "round " << round;
    }
}

TEST_F(DdeServerTest, TopicAndItemExistOnlyOnceSet) {
    auto server = createLocalDdeServer(QStringLiteral("veltrane"));
    UnixLineClient client(path());
    const auto ask = [&] {
        client.send("REQUEST veltrane weightdata\n");
        return client.line();
    };
    EXPECT_EQ(ask(), "NACK no such topic");
    server->setTopic(QStringLiteral("veltrane"));
    EXPECT_EQ(ask(), "NACK no such item");
    server->setItem(QStringLiteral("weightdata"), QString());
    EXPECT_EQ(ask(), "DATA ");
    server->setTopic(QString());
    EXPECT_EQ(ask(), "NACK no such topic");
}

TEST_F(DdeServerTest, AdvisedClientsGetEveryChangeUntilUnadvise) {
    auto server = startFeed();
    UnixLineClient first(path()), second(path()), bystander(path());
    first.send("ADVISE veltrane weightdata\n");
    second.send("advise veltrane WEIGHTDATA\n");
    EXPECT_EQ(first.line(), "DATA 1234");
    EXPECT_EQ(second.line(), "DATA 1234");

    server->setItem(QStringLiteral("weightdata"), QStringLiteral("1240"));
    server->setItem(QStringLiteral("weightdata"), QStringLiteral("1240"));  // no change, no update
    server->setItem(QStringLiteral("other"), QStringLiteral("x"));
    server->setItem(QStringLiteral("weightdata"), QStringLiteral("12\r\n50"));  // stays one line
    for (auto* c : {&first, &second}) {
        EXPECT_EQ(c->line(), "DATA 1240");
        EXPECT_EQ(c->line(), "DATA 12  50");
    }

    first.send("UNADVISE veltrane weightdata\n");
    EXPECT_EQ(first.line(), "OK");
    server->setItem(QStringLiteral("weightdata"), QStringLiteral("0"));
    EXPECT_EQ(second.line(), "DATA 0");
    EXPECT_TRUE(first.quietFor(100));
    EXPECT_TRUE(bystander.quietFor(0));

    // An advise on a topic that is gone stays silent, and a client leaving mid-line harms no one.
    second.send("ADVISE veltrane wei");
    second.close();
    server->setTopic(QString());
    server->setItem(QStringLiteral("weightdata"), QStringLiteral("7"));
    first.send("ADVISE veltrane weightdata\n");
    EXPECT_EQ(first.line(), "NACK no such topic");
}

TEST_F(DdeServerTest, ClientThatNeverReadsIsDroppedWithWholeLinesAndBoundedMemory) {
    DdeServerLimits limits;
    limits.drainTimeout = std::chrono::minutes(10);  // however slow this machine is, the lines stay whole
    auto server = startFeed(limits);
    UnixLineClient stuck(path()), reader(path());
    stuck.send("ADVISE veltrane weightdata\n");
    ASSERT_EQ(stuck.line(), "DATA 1234");  // the last line it reads itself

    // 100,000 updates of 200 bytes: 20 MB if the server kept them all for the stuck client, which would
    // then read them all. (What the process holds meanwhile is the soak benchmark's to measure.)
    const QString pad(190, QLatin1Char('w'));
    for (int i = 0; i < 100000; ++i) {
        server->setItem(QStringLiteral("weightdata"), QString::number(i) + QLatin1Char(' ') + pad);
        if (i % 1000 == 0) QCoreApplication::processEvents();
    }

    reader.send("REQUEST veltrane weightdata\n");
    EXPECT_EQ(reader.line(), "DATA 99999 " + pad.toStdString());

    const std::optional<std::string> got = stuck.readToEnd();
    ASSERT_TRUE(got.has_value()) << "the stuck client was never disconnected";
    ASSERT_FALSE(got->empty());
    EXPECT_EQ(got->back(), '\n');
    std::istringstream lines(*got);
    std::string line;
    int count = 0;
    for (; std::getline(lines, line); ++count) {
        ASSERT_EQ(line, "DATA " + std::to_string(count) + ' ' + pad.toStdString());
    }
    EXPECT_LT(count, 100000);
}

// The reasons a server gave for not serving, once the event loop has run.
QStringList reasonsOf(DdeServer& server) {
    auto reasons = std::make_shared<QStringList>();
    QObject::connect(&server, &DdeServer::unavailable, [reasons](const QString& r) { *reasons << r; });
    test::pumpUntil([] { return false; }, 50);
    return *reasons;
}

TEST_F(DdeServerTest, StartUpRemovesOnlyStaleSocketsOfItsOwnAndReportsATakenNameOnce) {
    const QString p = path();
    const auto bindOnly = [&] {  // what a crashed program leaves: a socket file no one listens on
        const int fd = test::bindUnixSocket(p);
        EXPECT_GE(fd, 0);
        ::close(fd);
    };
    bindOnly();
    auto live = startFeed();
    EXPECT_EQ(reasonsOf(*live), QStringList{});
    {  // A second program does not take the feed away from a running one.
        auto second = createLocalDdeServer(QStringLiteral("veltrane"));
        EXPECT_EQ(reasonsOf(*second), QStringList{"Live feed off: another program already serves " + p});
        UnixLineClient client(p);
        client.send("REQUEST veltrane weightdata\n");
        EXPECT_EQ(client.line(), "DATA 1234");
    }
    live.reset();
    EXPECT_FALSE(QFile::exists(p)) << "a server removes its socket when it ends";

    // Something that is not a socket, or a socket of another user, is left alone.
    ASSERT_TRUE(test::writeFile(p, "keep"));
    EXPECT_EQ(reasonsOf(*createLocalDdeServer(QStringLiteral("veltrane"))),
              QStringList{"Live feed off: " + p + " is not a socket"});
    EXPECT_EQ(test::readFile(p), "keep");
    if (::geteuid() != 0) return;  // only root can give a file away
    QFile::remove(p);
    bindOnly();
    ASSERT_EQ(::lchown(QFile::encodeName(p).constData(), 65534, gid_t(-1)), 0);
    EXPECT_EQ(reasonsOf(*createLocalDdeServer(QStringLiteral("veltrane"))),
              QStringList{"Live feed off: " + p + " belongs to another user"});
    EXPECT_TRUE(QFileInfo(p).exists());
}

TEST_F(DdeServerTest, WithoutARuntimeFolderTheSocketLivesInAPrivateFolder) {
    EXPECT_EQ(ddeSocketPath(QStringLiteral("Veltrane")), m_runtime.path() + QStringLiteral("/veltrane.dde"));
    qputenv("XDG_RUNTIME_DIR", "/nonexistent/runtime");
    // A service name of this test's own: other programs of this user may use the real one meanwhile.
    const QString service = QStringLiteral("feedtest%1").arg(::getpid());
    const QString folder = QStringLiteral("/tmp/%1-%2").arg(service).arg(::getuid());
    const QString elsewhere = m_runtime.path() + QStringLiteral("/elsewhere");
    QDir().mkdir(elsewhere);
    struct Case {
        std::function<bool()> prepare;
        QString reason;  // empty: served
    };
    const std::vector<Case> cases{
        {[] { return true; }, {}},
        {[&] { return QDir().mkdir(folder) && ::chmod(QFile::encodeName(folder).constData(), 0777) == 0; },
         {}},
        {[&] { return QFile::link(elsewhere, folder); }, folder + " is not a folder"},
    };
    for (const Case& c : cases) {
        QFile::remove(folder);
        QDir(folder).removeRecursively();
        ASSERT_TRUE(c.prepare());
        auto server = createLocalDdeServer(service);
        server->setTopic(QStringLiteral("veltrane"));
        server->setItem(QStringLiteral("weightdata"), QStringLiteral("1"));
        EXPECT_EQ(reasonsOf(*server),
                  c.reason.isEmpty() ? QStringList{} : QStringList{"Live feed off: " + c.reason});
        struct stat folderStat {
        }, socketStat{};
        ::lstat(QFile::encodeName(folder).constData(), &folderStat);
        const bool served = ::stat(QFile::encodeName(ddeSocketPath(service)).constData(), &socketStat) == 0;
        EXPECT_EQ(served, c.reason.isEmpty()) << c.reason.toStdString();
        if (!served) continue;
        EXPECT_EQ(ddeSocketPath(service), folder + QLatin1Char('/') + service + QStringLiteral(".dde"));
        EXPECT_EQ(folderStat.st_mode & 07777, 0700u);
        EXPECT_EQ(socketStat.st_mode & 0777, 0600u);
        EXPECT_EQ(folderStat.st_uid, ::getuid());
        EXPECT_EQ(socketStat.st_uid, ::getuid());
        UnixLineClient client(ddeSocketPath(service));
        client.send("REQUEST veltrane weightdata\n");
        EXPECT_EQ(client.line(), "DATA 1");
    }
    QFile::remove(folder);
    QDir(folder).removeRecursively();
}

// ---- Abuse: many clients, silent ones, ones that never read, no descriptors left.

TEST_F(DdeServerTest, OfTwoThousandConnectionsTheFirstSixtyFourAreServedAndTheRestClosedAtOnce) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, std::min<rlim_t>(limit.rlim_max, 4096));
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur < 4096) {
        GTEST_SKIP() << "fewer than 4096 descriptors allowed";
    }
    auto server = startFeed();
    std::vector<std::unique_ptr<UnixLineClient>> clients;
    while (clients.size() < 2000) {
        clients.push_back(std::make_unique<UnixLineClient>(path()));
        if (!clients.back()->connected()) {  // the backlog is full: let the server take some
            clients.pop_back();
            QCoreApplication::processEvents();
        }
    }
    std::string replies;  // 'D' served, 'x' closed
    for (auto& client : clients) {
        client->send("REQUEST veltrane weightdata\n");
        const std::optional<std::string> reply = client->line();
        replies += reply == "DATA 1234" ? 'D' : reply ? '?' : 'x';
    }
    EXPECT_EQ(replies, std::string(64, 'D') + std::string(2000 - 64, 'x'));
    clients.clear();  // the places come free again, once the server has seen them go
    EXPECT_TRUE(test::pumpUntil([&] {
        UnixLineClient later(path());
        later.send("REQUEST veltrane weightdata\n");
        return later.line(1000) == "DATA 1234";
    }));
}

TEST_F(DdeServerTest, SilentClientsAndClientsThatDoNotTakeTheirLinesLoseTheirPlace) {
    DdeServerLimits limits;
    limits.idleTimeout = std::chrono::milliseconds(300);
    auto server = startFeed(limits);
    UnixLineClient silent(path()), talking(path()), listening(path());
    listening.send("ADVISE veltrane weightdata\n");  // a linked client only listens: it stays
    EXPECT_EQ(listening.line(), "DATA 1234");
    for (int i = 0; i < 10; ++i) {  // a request every 100 ms keeps a client's place
        talking.send("REQUEST veltrane weightdata\n");
        EXPECT_EQ(talking.line(), "DATA 1234") << i;
        test::pumpUntil([] { return false; }, 100);
    }
    EXPECT_EQ(silent.readToEnd(5000), std::optional<std::string>(""));
    server->setItem(QStringLiteral("weightdata"), QStringLiteral("1240"));
    EXPECT_EQ(listening.line(), "DATA 1240");
    server.reset();

    // The only place, taken by an advised client that never reads: it is cut off and the place is free.
    limits = DdeServerLimits{1, std::chrono::minutes(10), std::chrono::milliseconds(300)};
    server = startFeed(limits);
    UnixLineClient stuck(path());
    stuck.send("ADVISE veltrane weightdata\n");
    ASSERT_EQ(stuck.line(), "DATA 1234");
    for (int i = 0; i < 5000; ++i)
        server->setItem(QStringLiteral("weightdata"), QString(1000, QLatin1Char('0' + i % 10)));
    EXPECT_TRUE(test::pumpUntil(
        [&] {
            UnixLineClient probe(path());
            probe.send("REQUEST veltrane weightdata\n");
            return probe.line(500).has_value();
        },
        5000));
}

TEST_F(DdeServerTest, RunningOutOfDescriptorsDelaysConnectionsButNeverEndsTheFeed) {
    auto server = startFeed();
    UnixLineClient waiting(path());  // in the backlog; the server takes it at its next turn
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    rlimit low{rlim_t(QDir(QStringLiteral("/proc/self/fd")).count()) + 16, saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> taken;
    for (int fd; (fd = ::dup(0)) >= 0;) taken.push_back(fd);
    const int error = errno;
    test::pumpUntil([] { return false; }, 600);  // the server meets EMFILE, more than once
    for (int fd : taken) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_EQ(error, EMFILE);
    UnixLineClient later(path());
    for (UnixLineClient* client : {&waiting, &later}) {
        client->send("REQUEST veltrane weightdata\n");
        EXPECT_EQ(client->line(), "DATA 1234");
    }
}

}  // namespace
}  // namespace veltrane
