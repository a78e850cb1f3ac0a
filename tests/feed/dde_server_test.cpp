// The live feed server over real Unix sockets, each test in its own runtime folder.
#include "platform/dde.h"
#include "platform/dde_protocol.h"
#include "tests/support/unix_line_client.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

namespace veltrane {
namespace {

using test::UnixLineClient;

class DdeServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    }
    std::unique_ptr<DdeServer> startFeed(const DdeServerLimits& limits = {}) {
        auto server = createLocalDdeServer(QStringLiteral("veltrane"), nullptr, limits);
        server->setTopic(QStringLiteral("veltrane"));
        server->setItem(QStringLiteral("weightdata"), QStringLiteral("1234"));
        return server;
    }
    QString path() const { return ddeSocketPath(QStringLiteral("veltrane")); }

    QTemporaryDir m_runtime;
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
        {std::string("REQUEST velt\0rane weightdata", 29), "NACK bad request"},
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
    server->setItem(QStringLiteral("weightdata"), QStringLiteral("12345.6"));
    EXPECT_EQ(ask(), "DATA 12345.6");
    server->setTopic(QString());
    EXPECT_EQ(server->topic(), QString());
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

// AddressSanitizer holds freed memory back in quarantine, so the resident size says nothing there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentSizeMeaningful = false;
#elif defined(__has_feature)
constexpr bool kResidentSizeMeaningful = !__has_feature(address_sanitizer);
#else
constexpr bool kResidentSizeMeaningful = true;
#endif

QByteArray readFileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

TEST_F(DdeServerTest, ClientThatNeverReadsIsDroppedWithWholeLinesAndBoundedMemory) {
    DdeServerLimits limits;
    limits.drainTimeout = std::chrono::minutes(10);  // however slow this machine is, the lines stay whole
    auto server = startFeed(limits);
    UnixLineClient stuck(path()), reader(path());
    stuck.send("ADVISE veltrane weightdata\n");
    test::pumpUntil([] { return false; }, 100);

    // 100,000 updates of 200 bytes: 20 MB if the server kept them all for the stuck client.
    const QString pad(190, QLatin1Char('w'));
    const long before = residentKiB();
    for (int i = 0; i < 100000; ++i) {
        server->setItem(QStringLiteral("weightdata"), QString::number(i) + QLatin1Char(' ') + pad);
        if (i % 1000 == 0) QCoreApplication::processEvents();
    }
    if (kResidentSizeMeaningful) {
        EXPECT_LT(residentKiB() - before, 8 * 1024);
    }

    reader.send("REQUEST veltrane weightdata\n");
    EXPECT_EQ(reader.line(), "DATA 99999 " + pad.toStdString());

    const std::optional<std::string> got = stuck.readToEnd();
    ASSERT_TRUE(got.has_value()) << "the stuck client was never disconnected";
    ASSERT_FALSE(got->empty());
    EXPECT_EQ(got->back(), '\n');
    std::istringstream lines(*got);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "DATA 1234");
    int count = 0;
    for (; std::getline(lines, line); ++count) {
        ASSERT_EQ(line, "DATA " + std::to_string(count) + ' ' + pad.toStdString());
    }
    EXPECT_LT(count, 100000);
}

TEST_F(DdeServerTest, SocketIsPrivateLocalAndNeverOnTheNetwork) {
    auto server = startFeed();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, ::getuid());

    UnixLineClient client(path());
    ASSERT_TRUE(client.connected());
    // Every socket this process holds must be absent from the IP tables.
    std::set<std::string> inodes;
    for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System)) {
        const QString target = fd.symLinkTarget().section(QLatin1Char('/'), -1);
        if (target.startsWith(QStringLiteral("socket:[")))
            inodes.insert(target.mid(8, target.size() - 9).toStdString());
    }
    ASSERT_FALSE(inodes.empty());
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6", "/proc/net/udp", "/proc/net/udp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string field;
            for (int i = 0; i < 10; ++i) fields >> field;
            EXPECT_EQ(inodes.count(field), 0u) << table << ": " << line;
        }
    }
}

// The reasons a server gave for not serving, once the event loop has run.
QStringList reasonsOf(DdeServer& server) {
    auto reasons = std::make_shared<QStringList>();
    QObject::connect(&server, &DdeServer::unavailable, [reasons](const QString& r) { *reasons << r; });
    test::pumpUntil([] { return false; }, 50);
    return *reasons;
}

void bindSocketFile(const QString& path) {  // as a crashed program leaves it: bound, not listening
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, QFile::encodeName(path).constData(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
}

uid_t nobody() {
    const passwd* user = ::getpwnam("nobody");
    return user ? user->pw_uid : 65534;
}

TEST_F(DdeServerTest, StartUpRemovesOnlyStaleSocketsOfItsOwnAndReportsATakenNameOnce) {
    const QString p = path();
    bindSocketFile(p);
    auto live = startFeed();
    EXPECT_EQ(reasonsOf(*live), QStringList{});
    UnixLineClient client(p);
    client.send("REQUEST veltrane weightdata\n");
    EXPECT_EQ(client.line(), "DATA 1234");

    {  // A second program does not take the feed away from a running one.
        auto second = createLocalDdeServer(QStringLiteral("veltrane"));
        EXPECT_EQ(reasonsOf(*second), QStringList{"Live feed off: another program already serves " + p});
        UnixLineClient again(p);
        again.send("REQUEST veltrane weightdata\n");
        EXPECT_EQ(again.line(), "DATA 1234");
    }
    live.reset();
    EXPECT_FALSE(QFile::exists(p)) << "a server removes its socket when it ends";

    // Something that is not a socket, or a socket of another user, is left alone.
    QFile other(p);
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("keep");
    other.close();
    auto refused = createLocalDdeServer(QStringLiteral("veltrane"));
    EXPECT_EQ(reasonsOf(*refused), QStringList{"Live feed off: " + p + " is not a socket"});
    EXPECT_EQ(readFileBytes(p), "keep");
    refused.reset();
    EXPECT_EQ(readFileBytes(p), "keep");

    if (::geteuid() != 0) return;  // only root can give a file away
    QFile::remove(p);
    bindSocketFile(p);
    ASSERT_EQ(::lchown(QFile::encodeName(p).constData(), nobody(), gid_t(-1)), 0);
    auto squatted = createLocalDdeServer(QStringLiteral("veltrane"));
    EXPECT_EQ(reasonsOf(*squatted), QStringList{"Live feed off: " + p + " belongs to another user"});
    EXPECT_TRUE(QFileInfo(p).exists());
}

TEST_F(DdeServerTest, WithoutARuntimeFolderTheSocketLivesInAPrivateFolder) {
    EXPECT_EQ(ddeSocketPath(QStringLiteral("Veltrane")), m_runtime.path() + QStringLiteral("/veltrane.dde"));
    // A service name of this test's own: other programs of this user may use the real one meanwhile.
    const QString service = QStringLiteral("feedtest%1").arg(::getpid());
    const QString folder = QStringLiteral("/tmp/%1-%2").arg(service).arg(::getuid());
    for (const char* runtime : {"", "/nonexistent/runtime"}) {
        qputenv("XDG_RUNTIME_DIR", runtime);
        EXPECT_EQ(ddeSocketPath(service), folder + QLatin1Char('/') + service + QStringLiteral(".dde"));
    }
    struct Case {
        const char* kind;
        std::function<void()> prepare;
        QString reason;  // empty: served
    };
    const QString elsewhere = m_runtime.path() + QStringLiteral("/elsewhere");
    const QByteArray native = QFile::encodeName(folder);
    const std::vector<Case> cases{
        {"absent", [] {}, {}},
        {"open to others",
         [&] {
             QDir().mkdir(folder);
             ::chmod(native.constData(), 0777);
         },
         {}},
        {"a link",
         [&] {
             QDir().mkdir(elsewhere);
             QFile::link(elsewhere, folder);
         },
         folder + " is not a folder"},
        {"another user's",
         [&] {
             QDir().mkdir(folder);
             ::chown(native.constData(), nobody(), gid_t(-1));
         },
         "the folder " + folder + " belongs to another user"},
    };
    for (const Case& c : cases) {
        if (c.kind == std::string("another user's") && ::geteuid() != 0) continue;
        QFile::remove(folder);
        QDir(folder).removeRecursively();
        c.prepare();
        auto server = createLocalDdeServer(service);
        server->setTopic(QStringLiteral("veltrane"));
        server->setItem(QStringLiteral("weightdata"), QStringLiteral("1"));
        const QStringList reasons = reasonsOf(*server);
        struct stat st {};
        ASSERT_EQ(::lstat(QFile::encodeName(folder).constData(), &st), 0) << c.kind;
        if (c.reason.isEmpty()) {
            EXPECT_EQ(reasons, QStringList{}) << c.kind;
            EXPECT_TRUE(S_ISDIR(st.st_mode)) << c.kind;
            EXPECT_EQ(st.st_mode & 07777, 0700u) << c.kind;
            EXPECT_EQ(st.st_uid, ::getuid()) << c.kind;
            UnixLineClient client(ddeSocketPath(service));
            client.send("REQUEST veltrane weightdata\n");
            EXPECT_EQ(client.line(), "DATA 1") << c.kind;
        } else {
            EXPECT_EQ(reasons, QStringList{"Live feed off: " + c.reason}) << c.kind;
            EXPECT_FALSE(QFileInfo::exists(elsewhere + QLatin1Char('/') + service + QStringLiteral(".dde")));
        }
    }
    QFile::remove(folder);
    QDir(folder).removeRecursively();
}

// ---- Abuse: many clients, silent ones, ones that never read, no descriptors left.

// Enough descriptors for n more, as far as the system allows; false when it does not.
bool allowDescriptors(rlim_t n) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur >= n) return true;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < n) return false;
    limit.rlim_cur = n;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

TEST_F(DdeServerTest, OfTwoThousandConnectionsSixtyFourAreServedAndTheRestClosedAtOnce) {
    if (!allowDescriptors(4096)) {
        GTEST_SKIP() << "fewer than 4096 descriptors allowed";
    }
    auto server = startFeed();
    std::vector<std::unique_ptr<UnixLineClient>> clients;
    while (clients.size() < 2000) {
        auto client = std::make_unique<UnixLineClient>(path());
        if (client->connected())
            clients.push_back(std::move(client));
        else
            QCoreApplication::processEvents();  // the backlog is full: let the server take some
    }
    int servedFirst = 0, servedLater = 0, closed = 0;  // the first 64 to come are served, not any 64
    for (std::size_t i = 0; i < clients.size(); ++i) {
        clients[i]->send("REQUEST veltrane weightdata\n");
        const std::optional<std::string> reply = clients[i]->line();
        if (reply == "DATA 1234")
            ++(i < 64 ? servedFirst : servedLater);
        else if (!reply)
            ++closed;
    }
    EXPECT_EQ(servedFirst, 64);
    EXPECT_EQ(servedLater, 0);
    EXPECT_EQ(closed, 2000 - 64);
    clients.clear();  // the places come free again
    EXPECT_TRUE(test::pumpUntil([&] {
        UnixLineClient probe(path());
        probe.send("REQUEST veltrane weightdata\n");
        return probe.line(2000) == "DATA 1234";
    }));
}

TEST_F(DdeServerTest, SilentClientsAndClientsThatDoNotTakeTheirLinesLoseTheirPlace) {
    DdeServerLimits limits;
    limits.idleTimeout = std::chrono::milliseconds(300);
    auto server = startFeed(limits);
    UnixLineClient silent(path()), talking(path());
    // The talking client asks every 100 ms and keeps its place; the silent one is dropped.
    for (int i = 0; i < 10; ++i) {
        talking.send("REQUEST veltrane weightdata\n");
        EXPECT_EQ(talking.line(), "DATA 1234") << i;
        test::pumpUntil([] { return false; }, 100);
    }
    EXPECT_EQ(silent.readToEnd(5000), std::optional<std::string>(""));
    server.reset();

    // An advised client that never reads what is queued for it is cut off, and its place is free again.
    limits = DdeServerLimits{};
    limits.maxClients = 1;
    limits.drainTimeout = std::chrono::milliseconds(300);
    server = startFeed(limits);
    UnixLineClient stuck(path());
    stuck.send("ADVISE veltrane weightdata\n");
    test::pumpUntil([] { return false; }, 50);
    const QString pad(1000, QLatin1Char('w'));
    for (int i = 0; i < 5000; ++i) server->setItem(QStringLiteral("weightdata"), QString::number(i) + pad);
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
    ASSERT_TRUE(waiting.connected());
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    rlimit low = saved;
    low.rlim_cur = rlim_t(QDir(QStringLiteral("/proc/self/fd")).count()) + 16;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> taken;
    for (int fd; (fd = ::dup(0)) >= 0;) taken.push_back(fd);
    const int error = errno;
    test::pumpUntil([] { return false; }, 600);  // the server meets EMFILE, more than once
    for (int fd : taken) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_EQ(error, EMFILE);
    waiting.send("REQUEST veltrane weightdata\n");
    EXPECT_EQ(waiting.line(), "DATA 1234");
    UnixLineClient later(path());
    later.send("REQUEST veltrane weightdata\n");
    EXPECT_EQ(later.line(), "DATA 1234");
}

}  // namespace
}  // namespace veltrane
