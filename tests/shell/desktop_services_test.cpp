#include "platform/gui/desktop_shell_open.h"
#include "platform/gui/message_box_prompts.h"
#include "tests/support/fakes.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QTimer>

using namespace veltrane;

namespace {

QString appFile(const char* name) {
    return qEnvironmentVariable("VELTRANE_APP_DIR") + QLatin1Char('/') + QLatin1String(name);
}

TEST(Pointer, OurCursorLoadsWithTheFingertipAsHotSpot) {
    const std::optional<QCursor> cursor = loadCursorFile(appFile("h_point.cur"));
    ASSERT_TRUE(cursor);
    EXPECT_EQ(cursor->pixmap().size(), QSize(32, 32));
    EXPECT_EQ(cursor->hotSpot(), QPoint(13, 1));
}

TEST(Pointer, MissingOrForeignFileFallsBackToTheNormalPointer) {
    veltrane::test::TempFolder folder;
    EXPECT_FALSE(loadCursorFile(folder.file(QStringLiteral("h_point.cur"))));
    EXPECT_FALSE(loadCursorFile(appFile("PN.ICO")));  // an icon is not a cursor

    MessageBoxPrompts prompts(folder.file(QStringLiteral("h_point.cur")));
    prompts.setPointer(Pointer::Custom);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    MessageBoxPrompts ours(appFile("h_point.cur"));
    ours.setPointer(Pointer::Custom);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->hotSpot(), QPoint(13, 1));
    ours.setPointer(Pointer::Normal);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// A record, a file name or a database message holding markup is shown as the characters it holds.
TEST(Boxes, ShowMarkupInTheirTextLiterally) {
    MessageBoxPrompts prompts{QString()};
    const QString text =
        QStringLiteral("Record <b>0012.50</b> <img src=\"/tmp/x.png\"> from /tmp/<i>a</i>.csv");
    QStringList formats;
    auto readAndCloseNextBox = [&] {
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            for (const QLabel* label : box->findChildren<QLabel*>()) {
                if (label->text() == text)
                    formats << (label->textFormat() == Qt::PlainText ? QStringLiteral("plain")
                                                                     : QStringLiteral("markup"));
            }
            box->reject();
        });
    };
    readAndCloseNextBox();
    prompts.message(text, MessageIcon::Critical, {});
    readAndCloseNextBox();
    prompts.askYesNo(text, {});
    readAndCloseNextBox();
    prompts.input(text, QStringLiteral("Veltrane"), {});
    EXPECT_EQ(formats, QStringList({"plain", "plain", "plain"}));
}

// A program starts as a process of its own; a file that is not there fails at once rather than in a
// viewer started in the background.
TEST(ShellOpen, StartsProgramsAndRefusesMissingFiles) {
    veltrane::test::TempFolder folder;
    const QString program = folder.file(QStringLiteral("sample"));
    ASSERT_TRUE(veltrane::test::writeFile(program, "#!/bin/sh\ntouch \"$0.ran\"\n"));
    DesktopShellOpen shell;
    EXPECT_FALSE(shell.startProgram(program));  // not executable yet
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_TRUE(shell.startProgram(program));
    EXPECT_TRUE(veltrane::test::pumpUntil([&] { return QFile::exists(program + QStringLiteral(".ran")); }));
    EXPECT_FALSE(shell.startProgram(folder.file(QStringLiteral("missing"))));
    EXPECT_FALSE(shell.open(folder.file(QStringLiteral("missing.html"))));
}

}  // namespace
