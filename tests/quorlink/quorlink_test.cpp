// quorlink's window against Veltrane's real live-feed server, over real sockets.
#include "frm_client.h"
#include "platform/dde.h"
#include "tests/support/unix_line_client.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using veltrane::test::pumpUntil;

// A server that takes connections and never answers: a hung Veltrane, or a spy on what a client sends.
class SilentServer {
public:
    explicit SilentServer(const QString& path) : m_fd(veltrane::test::bindUnixSocket(path, 4)) {}
    ~SilentServer() { ::close(m_fd); }
    int accept() { return ::accept(m_fd, nullptr, nullptr); }
    // Bytes received on the next waiting connection, or -1 when no one connected.
    ssize_t receivedOnNextConnection() {
        const int conn = accept();
        if (conn < 0) return -1;
        char buf[256];
        const ssize_t n = ::recv(conn, buf, sizeof buf, MSG_DONTWAIT);
        ::close(conn);
        return n < 0 ? 0 : n;
    }

private:
    int m_fd;
};

class QuorlinkTest : public ::testing::Test {
protected:
    std::unique_ptr<veltrane::DdeServer> startVeltrane(const QString& weight = QStringLiteral("12345.6")) {
        auto server = veltrane::createLocalDdeServer(QStringLiteral("veltrane"));
        server->setTopic(QStringLiteral("veltrane"));
        server->setItem(QStringLiteral("weightdata"), weight);
        return server;
    }
    template <typename W>
    W* control(const char* name) {
        W* w = m_window.findChild<W*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString weight() { return control<QLineEdit>("weight")->text(); }
    bool errorShown() { return !control<QLabel>("LabelError")->isHidden(); }
    QString error() { return control<QLabel>("LabelError")->text(); }
    void readByHand() { control<QPushButton>("READveltrane")->click(); }

    veltrane::test::RuntimeFolder m_runtime;
    int m_beeps = 0;
    quorlink::FrmClient m_window{[this] { ++m_beeps; }};
};

TEST_F(QuorlinkTest, ManualReadShowsTheWeightAndTheTimeOfTheRead) {
    auto veltrane = startVeltrane();
    EXPECT_FALSE(errorShown()) << "an error before any read";
    readByHand();
    EXPECT_EQ(weight(), "12345.6");
    EXPECT_FALSE(errorShown());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                    .match(control<QGroupBox>("Frame2")->title())
                    .hasMatch());
    EXPECT_EQ(m_beeps, 0);

    veltrane->setItem(QStringLiteral("weightdata"), QStringLiteral("0"));
    readByHand();
    EXPECT_EQ(weight(), "0");
}

TEST_F(QuorlinkTest, EveryKindOfFailureBeepsEmptiesTheBoxAndShowsTheError) {
    struct Case {
        const char* what;
        const char* service;
        const char* topic;
        const char* item;
        bool veltraneOn;
    };
    const Case cases[]{
        {"Veltrane not running", "veltrane", "veltrane", "weightdata", false},
        {"other service", "notveltrane", "veltrane", "weightdata", true},
        {"wrong topic", "veltrane", "other", "weightdata", true},
        {"empty topic", "veltrane", "", "weightdata", true},
        {"unknown item", "veltrane", "veltrane", "nothing", true},
        {"item that would break the line", "veltrane", "veltrane", "weightdata\nREQUEST", true},
        {"service that is a path", "../veltrane", "veltrane", "weightdata", true},
    };
    for (const Case& c : cases) {
        auto veltrane = c.veltraneOn ? startVeltrane() : nullptr;
        control<QLineEdit>("textServerApp")->setText(QString::fromUtf8(c.service));
        control<QLineEdit>("texttopic")->setText(QString::fromUtf8(c.topic));
        control<QLineEdit>("weightlink")->setText(QString::fromUtf8(c.item));
        control<QLineEdit>("weight")->setText(QStringLiteral("old"));
        const int beeps = m_beeps;
        readByHand();
        EXPECT_EQ(weight(), "") << c.what;
        EXPECT_TRUE(errorShown()) << c.what;
        EXPECT_EQ(error(), "Error : Veltrane is not on!!") << c.what;
        EXPECT_EQ(m_beeps, beeps + 1) << c.what;
    }
}

TEST_F(QuorlinkTest, AutomaticModeRecoversWhenVeltraneStarts) {
    auto* check1 = control<QCheckBox>("Check1");
    auto* button = control<QPushButton>("READveltrane");
    auto* timer = control<QTimer>("Timer1");
    check1->click();
    EXPECT_TRUE(timer->isActive());
    EXPECT_FALSE(button->isEnabled());

    ASSERT_TRUE(pumpUntil([&] { return m_beeps >= 2; }));
    EXPECT_EQ(error(), "Error : Veltrane is not on!!");

    auto veltrane = startVeltrane(QStringLiteral("2000.5"));
    ASSERT_TRUE(pumpUntil([&] { return weight() == "2000.5" && !errorShown(); }));
    veltrane->setItem(QStringLiteral("weightdata"), QStringLiteral("2010"));
    ASSERT_TRUE(pumpUntil([&] { return weight() == "2010"; }));

    check1->click();
    EXPECT_FALSE(timer->isActive());
    EXPECT_TRUE(button->isEnabled());
    // Set by the program rather than clicked: the mode stays.
    check1->setChecked(true);
    EXPECT_FALSE(timer->isActive());
}

// A server that never answers: a request ends in the error instead of freezing the window; an empty item
// opens the conversation and asks nothing, so nothing is waited for.
TEST_F(QuorlinkTest, ASilentServerIsAskedOnlyForAnItemAndNeverFreezesTheWindow) {
    SilentServer hung(veltrane::ddeSocketPath(QStringLiteral("veltrane")));
    readByHand();
    EXPECT_TRUE(errorShown());
    EXPECT_EQ(weight(), "");
    EXPECT_EQ(hung.receivedOnNextConnection(),
              static_cast<ssize_t>(sizeof "REQUEST veltrane weightdata\n" - 1));

    control<QLineEdit>("weightlink")->clear();
    control<QLineEdit>("weight")->setText(QStringLiteral("kept"));
    readByHand();
    EXPECT_FALSE(errorShown());
    EXPECT_EQ(weight(), "kept");
    EXPECT_EQ(hung.receivedOnNextConnection(), 0);
}

// A server of another user at the feed's path answers every connection with a weight of its own.
TEST_F(QuorlinkTest, AServerOfAnotherUserIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can start a server as another user";
    }
    ::chmod(QFile::encodeName(m_runtime.path()).constData(), 0777);
    const QString path = veltrane::ddeSocketPath(QStringLiteral("veltrane"));
    const pid_t impostor = ::fork();
    if (impostor == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(1);
        SilentServer server(path);
        ::alarm(60);
        for (;;) {
            const int conn = server.accept();
            if (conn >= 0 && ::write(conn, "DATA 666\n", 9) == 9) ::close(conn);
            ::usleep(1000);
        }
    }
    ASSERT_TRUE(pumpUntil([&] { return veltrane::test::UnixLineClient(path).connected(); }));
    readByHand();
    ::kill(impostor, SIGKILL);
    ::waitpid(impostor, nullptr, 0);
    EXPECT_EQ(error(), "Error : the server at " + path + " is run by another user (uid 65534), not read");
    EXPECT_TRUE(errorShown());
    EXPECT_EQ(weight(), "");
}

}  // namespace
