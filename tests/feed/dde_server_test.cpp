// The live feed server over real Unix sockets, each test in its own runtime folder.
#include "platform/dde.h"
#include "platform/dde_protocol.h"
#include "tests/support/unix_line_client.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/socket.h>

#include <sys/stat.h>
#include <sys/un.h>

#include <fstream>
#include <set>
#include <sstream>

namespace veltrane {
namespace {

using test::UnixLineClient;

class DdeServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    }
    std::unique_ptr<DdeServer> startFeed() {
        auto server = createLocalDdeServer(QStringLiteral("veltrane"));
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

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

TEST_F(DdeServerTest, ClientThatNeverReadsIsDroppedWithWholeLinesAndBoundedMemory) {
    auto server = startFeed();
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

TEST_F(DdeServerTest, StartUpRemovesOnlyStaleSocketsOfItsOwn) {
    const QString p = path();
    {  // A socket file left behind by a crash: bound, never listened on, not removed.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, QFile::encodeName(p).constData(), sizeof addr.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
    }
    auto live = startFeed();
    UnixLineClient client(p);
    client.send("REQUEST veltrane weightdata\n");
    EXPECT_EQ(client.line(), "DATA 1234");

    {  // A second program does not take the feed away from a running one.
        auto second = createLocalDdeServer(QStringLiteral("veltrane"));
        UnixLineClient again(p);
        again.send("REQUEST veltrane weightdata\n");
        EXPECT_EQ(again.line(), "DATA 1234");
    }
    live.reset();

    // Something that is not a socket is left alone.
    QFile::remove(p);
    QFile other(p);
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("keep");
    other.close();
    auto refused = createLocalDdeServer(QStringLiteral("veltrane"));
    EXPECT_FALSE(UnixLineClient(p).connected());
    ASSERT_TRUE(other.open(QIODevice::ReadOnly));
    EXPECT_EQ(other.readAll(), "keep");
}

TEST_F(DdeServerTest, SocketPathFollowsTheRuntimeFolder) {
    EXPECT_EQ(ddeSocketPath(QStringLiteral("Veltrane")), m_runtime.path() + QStringLiteral("/veltrane.dde"));
    qputenv("XDG_RUNTIME_DIR", "");
    const QString fallback = QStringLiteral("/tmp/veltrane-%1.dde").arg(::getuid());
    EXPECT_EQ(ddeSocketPath(QStringLiteral("veltrane")), fallback);
    qputenv("XDG_RUNTIME_DIR", "/nonexistent/runtime");
    EXPECT_EQ(ddeSocketPath(QStringLiteral("veltrane")), fallback);
}

}  // namespace
}  // namespace veltrane
