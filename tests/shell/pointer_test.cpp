#include "platform/gui/message_box_prompts.h"
#include "tests/support/fakes.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QFile>

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

}  // namespace
