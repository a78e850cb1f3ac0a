#include "config/schema.h"
#include "config/settings.h"
#include "platform/database.h"
#include "shell/startup_sequence.h"
#include "tests/support/fakes.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

using namespace veltrane;
using veltrane::test::FakeServices;
using veltrane::test::TempFolder;

namespace {

// Records the window's start-up steps and the prompts in one list, so that their order shows.
struct RecordingHost final : StartupHost {
    explicit RecordingHost(QStringList& log) : log(log) {}
    void setLastRecordTime(const QDateTime& t) override { log << "lastRecordTime " + generalDate(t); }
    void setDateTimeText(const QString& d, const QString& t) override { log << "dat1 " + d + " tim " + t; }
    void createTray() override { log << "tray"; }
    void emptyWeightBox() override { log << "weightdata ''"; }
    LoadResult loadConfiguration() override {
        log << "load";
        return loadResult;
    }
    void changeTrayIcon(const QString& path) override { log << "icon " + path; }
    void setTrayToolTip(const QString& tip) override { log << "tip " + tip; }
    void openSerialPort() override { log << "OpenSerialPort"; }
    void minToSysTray() override { log << "MinToSysTray"; }
    QStringList& log;
    LoadResult loadResult = LoadResult::Completed;
};

struct Startup : ::testing::Test {
    TempFolder folder;
    FakeServices fakes{folder.path()};
    Settings settings;
    RecordingHost host{fakes.prompts.log};
    StartupSequence startup{fakes.prompts, fakes.clock, settings, host};

    void SetUp() override {
        createVersionDatabase(folder.file(QStringLiteral("config.mdb")));
        settings.accessPassword = QStringLiteral("secret");
        settings.Startauto = true;
    }
    void setMarker(const QVariant& marker) {
        auto db = Database::open(folder.file(QStringLiteral("config.mdb")),
                                 QString::fromLatin1(kVersionDatabaseConnect));
        db->execute(QStringLiteral("update config set dummy = ?"), {marker});
    }
    // The program folder as Qt gives it: without the trailing "/".
    QString programFolder() const { return folder.path().chopped(1); }
};

TEST_F(Startup, StepsRunInOrderAndEndInTheTray) {
    settings.FORWEIGHBRIDGE = true;
    EXPECT_EQ(startup.run(programFolder()), StartupResult::Running);
    EXPECT_EQ(fakes.prompts.log, (QStringList{
                                     "lastRecordTime 2026-03-14 09:30:00",
                                     "dat1 2026-03-14 tim 09:30",
                                     "pointer: custom",
                                     "tray",
                                     "weightdata ''",
                                     "load",
                                     "icon " + folder.path() + "PN.ICO",
                                     "tip Marlume Veltrane",
                                     "OpenSerialPort",
                                     "MinToSysTray",
                                 }));
}

TEST_F(Startup, DefaultPasswordAndManualPortAreToldAndStartUpGoesOn) {
    settings.accessPassword = QStringLiteral("pavix");
    settings.Startauto = false;
    EXPECT_EQ(startup.run(folder.path()), StartupResult::Running);
    const QStringList tail =
        fakes.prompts.log.mid(fakes.prompts.log.indexOf("icon " + folder.path() + "SCALE.ICO"));
    EXPECT_EQ(tail,
              (QStringList{
                  "icon " + folder.path() + "SCALE.ICO",
                  "tip Marlume Veltrane",
                  "message: Please change the password from 'pavix' !",
                  "beep",
                  // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one message, split for its length
                  "message: Currently, Veltrane is not configured to open the com port automatically when it "
                  "starts. You need to press 'Open port' button to receive data from indicator.",
                  "MinToSysTray",
              }));
}

TEST_F(Startup, VersionMarkers) {
    struct Case {
        QVariant marker;
        bool accepted;
    };
    const Case cases[] = {
        {QStringLiteral("8.x"), true},     {QStringLiteral("9.x"), true},
        {QStringLiteral("  9.x  "), true}, {QStringLiteral("11.x"), true},
        {QStringLiteral("12.x"), true},    {QStringLiteral("10.x"), false},
        {QStringLiteral("8.X"), false},    {QStringLiteral(""), false},
        {QStringLiteral("0"), false},      {QVariant(), false},  // Null
    };
    for (const Case& c : cases) {
        setMarker(c.marker);
        fakes.prompts.log.clear();
        const StartupResult result = startup.run(programFolder());
        EXPECT_EQ(result == StartupResult::Running, c.accepted) << c.marker.toString().toStdString();
        if (!c.accepted) {
            // Nothing after the check ran: no settings, no tray.
            EXPECT_EQ(fakes.prompts.log, (QStringList{"beep", "message: Error! Older version of database!"}))
                << c.marker.toString().toStdString();
        }
    }
}

TEST_F(Startup, EndsBeforeAnythingElseWhenTheVersionFileIsMissingOrDamaged) {
    QFile::remove(folder.file(QStringLiteral("config.mdb")));
    EXPECT_EQ(startup.run(programFolder()), StartupResult::EndProgram);
    EXPECT_EQ(fakes.prompts.log, QStringList{"message: Error! configuration database not found!"});

    fakes.prompts.log.clear();
    ASSERT_TRUE(veltrane::test::writeFile(folder.file(QStringLiteral("config.mdb")), QByteArray(4096, 'x')));
    EXPECT_EQ(startup.run(programFolder()), StartupResult::EndProgram);
    ASSERT_EQ(fakes.prompts.log.size(), 1);
    EXPECT_TRUE(fakes.prompts.log[0].startsWith("message-critical: ")) << fakes.prompts.log[0].toStdString();
}

// As the package keeps it: the program folder's link leads into a folder only a group may enter. Root
// enters any folder, so the start runs as the user nobody (root's groups dropped, the saved id kept).
TEST_F(Startup, AVersionFileOutOfReachNamesTheFolderTheGroupAndTheCommand) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the folder away and to become nobody";
    const group* dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    const QString state = folder.file(QStringLiteral("state"));
    ASSERT_TRUE(QDir().mkdir(state));
    ASSERT_TRUE(
        QFile::rename(folder.file(QStringLiteral("config.mdb")), state + QStringLiteral("/config.mdb")));
    ASSERT_TRUE(
        QFile::link(state + QStringLiteral("/config.mdb"), folder.file(QStringLiteral("config.mdb"))));
    ASSERT_EQ(::chmod(QFile::encodeName(folder.path()).constData(), 0755), 0);
    ASSERT_EQ(::chown(QFile::encodeName(state).constData(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(state).constData(), 02770), 0);

    std::vector<gid_t> groups(static_cast<size_t>(::getgroups(0, nullptr)));
    ::getgroups(static_cast<int>(groups.size()), groups.data());
    ASSERT_TRUE(::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 0) == 0 &&
                ::setresuid(65534, 65534, 0) == 0);
    const StartupResult result = startup.run(programFolder());
    if (::setresuid(0, 0, 0) != 0 || ::setresgid(0, 0, 0) != 0 ||
        ::setgroups(groups.size(), groups.data()) != 0)
        std::abort();  // later tests need root

    EXPECT_EQ(result, StartupResult::EndProgram);
    ASSERT_EQ(fakes.prompts.log.size(), 1);
    const QString message = fakes.prompts.log[0];
    for (const QString& part :
         {QStringLiteral("message-critical: Error! configuration database ") +
              folder.file(QStringLiteral("config.mdb")) + QStringLiteral(" cannot be read."),
          state + QStringLiteral(" (the folder of "), QStringLiteral("group dialout"),
          QStringLiteral("adduser nobody dialout")})
        EXPECT_TRUE(message.contains(part)) << message.toStdString();
}

TEST_F(Startup, LoaderEndingTheProgramStopsStartUpThere) {
    host.loadResult = LoadResult::EndProgram;
    EXPECT_EQ(startup.run(programFolder()), StartupResult::EndProgram);
    EXPECT_EQ(fakes.prompts.log.last(), QStringLiteral("load"));
}

TEST(ApplicationFolder, OneTrailingSeparatorAndCaseKept) {
    EXPECT_EQ(applicationFolderOf(QStringLiteral("/opt/Veltrane")), QStringLiteral("/opt/Veltrane/"));
    EXPECT_EQ(applicationFolderOf(QStringLiteral("/")), QStringLiteral("/"));
}

}  // namespace
