#include "wizard/wizard_files.h"

#include "tests/support/fakes.h"

#include <gtest/gtest.h>
#include <QFile>

using namespace veltrane;
using veltrane::test::FakeServices;
using veltrane::test::TempFolder;

// The report's comments on settings other than the preferred n,8,1 (the settings text itself is in every
// report the search tests read back).
TEST(SettingsTexts, CommentsOnEachSettingThatIsNotThePreferredOne) {
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
