// The log-in start entry under a temporary HOME: where it goes, what it holds, and that the desktop's own
// validator accepts it.

#include "config/autostart.h"
#include "tests/support/fakes.h"
#include "tests/support/program_run.h"

#include <QDir>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

namespace {

TEST(Autostart, WrittenRemovedAndSwitchedOffByTheDesktop) {
    TempHome home;
    const QString file = home.path() + QStringLiteral(".config/autostart/veltrane.desktop");
    const AutostartEntry entry(QStringLiteral("/opt/veltrane/veltrane"));
    EXPECT_EQ(entry.path(), file);
    qputenv("XDG_CONFIG_HOME", "relative/config");  // not absolute: ignored
    EXPECT_EQ(entry.path(), file);
    EXPECT_FALSE(entry.enabled());
    EXPECT_EQ(entry.set(true), std::nullopt);
    EXPECT_TRUE(readFile(file).contains("\nExec=/opt/veltrane/veltrane\n"));

    // The desktop's start-up settings switch an entry off by adding a key; ticking again writes it anew.
    for (const char* off : {"Hidden=true\n", "X-GNOME-Autostart-enabled=false\n"}) {
        EXPECT_TRUE(entry.enabled()) << off;
        QFile text(file);
        ASSERT_TRUE(text.open(QIODevice::Append));
        text.write(off);
        text.close();
        EXPECT_FALSE(entry.enabled()) << off;
        EXPECT_EQ(entry.set(true), std::nullopt);
    }
    EXPECT_EQ(entry.set(false), std::nullopt);
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_EQ(entry.set(false), std::nullopt);  // nothing left to remove is no failure

    // A file where the folder belongs: the reason comes back instead of a success.
    ASSERT_TRUE(QDir(QFileInfo(file).path()).removeRecursively());
    ASSERT_TRUE(writeFile(QFileInfo(file).path()));
    EXPECT_TRUE(entry.set(true).value_or(QString()).contains(file));

    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("cfg")).toUtf8());
    EXPECT_EQ(entry.path(), home.path() + QStringLiteral("cfg/autostart/veltrane.desktop"));
}

TEST(Autostart, ExecLineAsDesktopsReadIt) {
    TempHome home;
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    const std::pair<const char*, const char*> cases[] = {
        {"/opt/veltrane/veltrane", "/opt/veltrane/veltrane"},
        {"/home/op/My Programs/veltrane", "\"/home/op/My Programs/veltrane\""},
        {"/srv/a\"b$c`d\\e/veltrane", "\"/srv/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e/veltrane\""},
        {"/srv/100%/it's/veltrane", "\"/srv/100%%/it's/veltrane\""},
        {"/srv/line\nbreak/veltrane", nullptr},  // no entry can name these
        {"veltrane", nullptr},
    };
    for (const auto& [program, exec] : cases) {
        const AutostartEntry entry{QString::fromUtf8(program)};
        const std::optional<QByteArray> text = AutostartEntry::entryText(QString::fromUtf8(program));
        EXPECT_EQ(text.has_value(), exec != nullptr) << program;
        EXPECT_EQ(entry.set(true).has_value(), exec == nullptr) << program;
        if (!exec) continue;
        EXPECT_TRUE(text->contains("\nExec=" + QByteArray(exec) + "\n")) << text->toStdString();
        if (validator.isEmpty()) continue;
        const ProgramRun validated = runProgram(validator, {entry.path()});
        EXPECT_EQ(validated.exitCode, 0) << program << ": " << validated.out.toStdString();
    }
    if (validator.isEmpty()) GTEST_SKIP() << "desktop-file-validate is not installed";
}

}  // namespace
