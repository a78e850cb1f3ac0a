#include "wizard/wizard_files.h"

#include "tests/support/fakes.h"

#include <gtest/gtest.h>
#include <QFile>

using namespace veltrane;
using veltrane::test::FakeServices;
using veltrane::test::readFile;
using veltrane::test::TempFolder;

TEST(SettingsTexts, ReadableTextAndComments) {
    EXPECT_EQ(SettingsText(QStringLiteral("2400,n,8,1")),
              QStringLiteral("Baud : 2400  Data bits : 8   Stop bits : 1  Parity : n"));
    EXPECT_EQ(SettingsText(QStringLiteral("38400,e,8,2")),
              QStringLiteral("Baud : 38400  Data bits : 8   Stop bits : 2  Parity : e"));
    EXPECT_EQ(SettingsComments(QStringLiteral("9600,n,8,1")), QString());
    EXPECT_EQ(SettingsComments(QStringLiteral("300,e,7,2")),
              QStringLiteral(
                  "\r\nComments: Parity = 'n' (none) is preferred. If you find a suggested configuration "
                  "in the report with parity='n', then use that configuration.  Databits = 8 is "
                  "preferred. If you find a suggested configuration in the report with databits=8, then "
                  "use that configuration. Stop bits = 1 is preferred. If you find a suggested "
                  "configuration in the report with stop bits=1, then use that configuration."));
    // One comment alone loses its final blank too.
    EXPECT_EQ(SettingsComments(QStringLiteral("4800,o,8,1")),
              QStringLiteral(
                  "\r\nComments: Parity = 'n' (none) is preferred. If you find a suggested configuration "
                  "in the report with parity='n', then use that configuration."));
}

TEST(WizardFiles, ReportParagraphAndLogBlockAreAppendedByteForByte) {
    TempFolder folder;
    FakeServices fakes(folder.path());
    fakes.clock.set(QDateTime(QDate(2026, 3, 14), QTime(9, 30, 5)));
    WizardFiles files(fakes.services);

    QByteArray entry = reportEntryHead(
        {4, 10, 13, QStringLiteral("CR"), QStringLiteral("2400,n,8,1"), "ST,GS,+001234kg", "1234"});
    entry += "\r\n" + QByteArray(kOneNumberLine);
    entry += SettingsComments(QStringLiteral("2400,n,8,1")).toLatin1();
    entry += reportEntryTail(fakes.clock.now());
    ASSERT_TRUE(files.WriteWizardReport(entry, QStringLiteral("1234")));

    const QByteArray paragraph =
        "\r\n\r\n"
        "Protocol No: 4\r\n"
        " Settings: Uncheck autosense, Start position: 10 End position 13  Delimiter: CR\r\n"
        "Com port settings : Baud : 2400  Data bits : 8   Stop bits : 1  Parity : n\r\n"
        "(Data from indicator: ST,GS,+001234kg Actual weight : 1234)\r\n"
        "OR, Just enable (tick) autosense option. Same Com port settings \r\n"
        "2026-03-14 09:30:05------------------------------------------ (Sample weight used :1234)\r\n\r\n";
    EXPECT_EQ(readFile(folder.file("wizardreport.txt")), paragraph);

    QByteArray log = "\r\n(1-300,n,8,1-CR)-48-49-13";
    ASSERT_TRUE(files.WriteWizardLog(log, QStringLiteral("1234")));
    QByteArray second;  // a later block of the same run carries only its closing line
    ASSERT_TRUE(files.WriteWizardLog(second, QStringLiteral("1234")));
    EXPECT_EQ(readFile(folder.file("wizardlog.txt")),
              QByteArray("\r\n(1-300,n,8,1-CR)-48-49-13(2026-03-14 09:30:05 Search:1234)\r\n\r\n\r\n"
                         "(2026-03-14 09:30:05 Search:1234)\r\n\r\n\r\n"));
    EXPECT_TRUE(fakes.prompts.log.isEmpty());
}

TEST(WizardFiles, FailedWriteIsShown) {
    TempFolder folder;
    FakeServices fakes(folder.path() + QStringLiteral("missing/"));
    WizardFiles files(fakes.services);
    QByteArray log = "\r\n(1-300,n,8,1-CR)";
    EXPECT_FALSE(files.WriteWizardLog(log, QStringLiteral("5")));
    ASSERT_EQ(fakes.prompts.log.size(), 1);
    EXPECT_TRUE(fakes.prompts.log[0].startsWith(QStringLiteral("message: ")));
    EXPECT_TRUE(fakes.prompts.log[0].contains(QStringLiteral("wizardlog.txt")));
}

TEST(WizardFiles, OpensReportThenLogAndReportsEachFailure) {
    FakeServices fakes(QStringLiteral("/srv/scale/"));
    fakes.shell.result = false;
    WizardFiles(fakes.services).OpenWizardFiles();
    EXPECT_EQ(fakes.shell.opened, QStringList({QStringLiteral("/srv/scale/wizardreport.txt"),
                                               QStringLiteral("/srv/scale/wizardlog.txt")}));
    EXPECT_EQ(fakes.prompts.log,
              QStringList({QStringLiteral("message-info: Failed to start '/srv/scale/wizardreport.txt'"),
                           QStringLiteral("message-info: Failed to start '/srv/scale/wizardlog.txt'")}));
}
