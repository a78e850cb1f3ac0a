// The serial port against a real pseudo-terminal: the test owns the master side and plays the device.
#include "platform/qt_serial_port.h"
#include "tests/support/pty_pair.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

using namespace veltrane;
using veltrane::test::PtyPair;
using veltrane::test::pumpUntil;

namespace {

struct OpenPort {
    PtyPair pty;
    QtSerialPort port{[this](int n) { return n == 3 ? pty.slavePath() : QString(); }};
    QByteArray received;

    OpenPort() {
        port.setPortNumber(3);
        QObject::connect(&port, &SerialPort::byteReceived, [this](char c) { received.append(c); });
    }
};

}  // namespace

TEST(SerialSettings, ParsesAndRefusesWithDescription) {
    struct Case {
        const char* text;
        std::optional<SerialSettings> expected;
        const char* errorPart;
    };
    // clang-format off
    const Case cases[] = {
        {"9600,n,8,1", SerialSettings{9600, 'n', 8, 1}, nullptr},
        {" 19200 , E , 7 , 2 ", SerialSettings{19200, 'e', 7, 2}, nullptr},
        {"300,o,5,1.5", SerialSettings{300, 'o', 5, 3}, nullptr},
        {"9600,n,8", std::nullopt, "four fields"}, {"9600,n,8,1,", std::nullopt, "four fields"},
        {"", std::nullopt, "four fields"}, {"96OO,n,8,1", std::nullopt, "baud"}, {"0,n,8,1", std::nullopt, "baud"},
        {"-9600,n,8,1", std::nullopt, "baud"}, {"9600,x,8,1", std::nullopt, "parity"},
        {"9600,,8,1", std::nullopt, "parity"}, {"9600,no,8,1", std::nullopt, "parity"},
        {"9600,n,9,1", std::nullopt, "data bits"}, {"9600,n,4,1", std::nullopt, "data bits"},
        {"9600,n,8,3", std::nullopt, "stop bits"}, {"9600,n,8,", std::nullopt, "stop bits"},
    };
    // clang-format on
    for (const Case& c : cases) {
        QString error = QStringLiteral("stale");
        const auto parsed = SerialSettings::parse(QString::fromLatin1(c.text), &error);
        EXPECT_EQ(parsed, c.expected) << c.text;
        if (c.errorPart) {
            EXPECT_TRUE(error.contains(QLatin1String(c.errorPart)))
                << c.text << " -> " << error.toStdString();
            EXPECT_TRUE(error.contains(QString::fromLatin1(c.text))) << error.toStdString();
        } else {
            EXPECT_TRUE(error.isEmpty()) << c.text;
        }
    }
    EXPECT_EQ(SerialSettings::parse(QStringLiteral(" 19200 , E , 7 , 2 "))->text(),
              QStringLiteral("19200,e,7,2"));
    EXPECT_EQ(SerialSettings::parse(QStringLiteral("300,o,5,1.5"))->text(), QStringLiteral("300,o,5,1.5"));
}

TEST(QtSerialPort, DefaultDeviceIsTtySOfPortMinusOne) {
    QtSerialPort port;
    port.setPortNumber(1);
    EXPECT_EQ(port.deviceName(), QStringLiteral("/dev/ttyS0"));
    port.setPortNumber(12);
    EXPECT_EQ(port.deviceName(), QStringLiteral("/dev/ttyS11"));
}

TEST(QtSerialPort, RefusesBadSettingsBusyAndMissingDevice) {
    OpenPort p;
    ASSERT_TRUE(p.pty.ok());
    p.port.setSettingsText(QStringLiteral("9600,q,8,1"));
    EXPECT_FALSE(p.port.open());
    EXPECT_FALSE(p.port.isOpen());
    EXPECT_TRUE(p.port.lastError().contains(QLatin1String("parity"))) << p.port.lastError().toStdString();

    p.port.setSettingsText(QStringLiteral("9600,n,8,1"));
    ASSERT_TRUE(p.port.open());
    QtSerialPort second([&](int) { return p.pty.slavePath(); });
    EXPECT_FALSE(second.open()) << "a port already in use must not open twice";
    EXPECT_FALSE(second.lastError().isEmpty());
    EXPECT_FALSE(second.lastError().contains(QLatin1String("adduser")))
        << "a port in use is not a matter of permissions: " << second.lastError().toStdString();
    EXPECT_FALSE(p.port.open()) << "already open";
    EXPECT_TRUE(p.port.isOpen());
    p.port.close();

    QtSerialPort missing([](int) { return QStringLiteral("/dev/veltrane-no-such-tty"); });
    EXPECT_FALSE(missing.open());
    EXPECT_FALSE(missing.isOpen());
    EXPECT_TRUE(missing.lastError().contains(QLatin1String("/dev/veltrane-no-such-tty")));
    EXPECT_FALSE(missing.write("x"));
}

TEST(QtSerialPort, EachByteArrivesInOrderOnceEvenToAHandlerLettingEventsRun) {
    // Later bytes arrive inside the handler that lets events run, still in order; but each nested delivery
    // is a stack level, and a burst of thousands of bytes must not become thousands of levels. What the
    // device sent before the port opened is not delivered.
    OpenPort p;
    ASSERT_TRUE(p.pty.ok());
    ASSERT_TRUE(p.pty.write("stale before open"));
    ASSERT_TRUE(p.port.open()) << p.port.lastError().toStdString();
    int depth = 0;
    int deepest = 0;
    QByteArray order;
    QObject::connect(&p.port, &SerialPort::byteReceived, [&](char c) {
        order.append(c);
        ++depth;
        deepest = std::max(deepest, depth);
        QCoreApplication::processEvents();
        --depth;
    });
    QByteArray sent;
    for (int i = 0; i < 50000; ++i) sent.append(static_cast<char>(i * 7));
    ASSERT_TRUE(p.pty.write(sent));
    ASSERT_TRUE(pumpUntil([&] { return order.size() >= sent.size(); }));
    EXPECT_EQ(order, sent);
    EXPECT_EQ(p.received, sent);
    EXPECT_GT(deepest, 1);
    EXPECT_LE(deepest, 100);
}

TEST(QtSerialPort, VanishingDeviceClosesThePortAndIsToldOnce) {
    // Noticed by the reader, or first met by a write before the event loop notices: told once either way.
    for (bool writeFirst : {false, true}) {
        OpenPort p;
        ASSERT_TRUE(p.pty.ok());
        ASSERT_TRUE(p.port.open());
        QSignalSpy lost(&p.port, &SerialPort::deviceLost);
        ASSERT_TRUE(p.pty.write("12"));
        ASSERT_TRUE(pumpUntil([&] { return p.received.size() == 2; }));
        p.pty.closeMaster();
        if (writeFirst) p.port.write("$");
        ASSERT_TRUE(pumpUntil([&] { return lost.count() > 0; })) << writeFirst;
        EXPECT_FALSE(p.port.isOpen());
        // Let any further error notifications arrive: none may become a second loss.
        pumpUntil([] { return false; }, 300);
        EXPECT_EQ(lost.count(), 1) << writeFirst;
        EXPECT_FALSE(lost.at(0).at(0).toString().isEmpty());
        EXPECT_FALSE(p.port.write("x"));
    }
}

// Root opens any device, so the refusal is met as the user nobody for the length of one open (root's
// groups dropped, the saved id kept to come back).
TEST(QtSerialPort, RefusedDeviceNamesItsGroupAndANewLogin) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the device away and to become nobody";
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const QByteArray slave = QFile::encodeName(pty.slavePath());
    const group* dialout = ::getgrnam("dialout");
    const gid_t gid = dialout ? dialout->gr_gid : 20;
    const QString groupName = QString::fromLocal8Bit(::getgrgid(gid)->gr_name);
    ASSERT_EQ(::chown(slave.constData(), 0, gid), 0);
    ASSERT_EQ(::chmod(slave.constData(), 0660), 0);

    QtSerialPort port([&](int) { return pty.slavePath(); });
    std::vector<gid_t> groups(static_cast<size_t>(::getgroups(0, nullptr)));
    ::getgroups(static_cast<int>(groups.size()), groups.data());
    ASSERT_TRUE(::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 0) == 0 &&
                ::setresuid(65534, 65534, 0) == 0);
    EXPECT_FALSE(port.open());
    if (::setresuid(0, 0, 0) != 0 || ::setresgid(0, 0, 0) != 0 ||
        ::setgroups(groups.size(), groups.data()) != 0)
        std::abort();  // the other tests would run as the wrong user

    const QString error = port.lastError();
    for (const QString& part :
         {QStringLiteral("Permission denied"), QStringLiteral("group ") + groupName,
          QStringLiteral("adduser nobody ") + groupName, QStringLiteral("log out and log in again")})
        EXPECT_TRUE(error.contains(part)) << error.toStdString();
    EXPECT_TRUE(port.open()) << "the same device opens for a user it allows";
}
