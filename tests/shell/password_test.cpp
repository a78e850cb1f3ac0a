#include "shell/password.h"
#include "tests/support/fakes.h"

#include <gtest/gtest.h>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace veltrane;

namespace {

TEST(AccessEntry, ComparisonRules) {
    struct Case {
        const char* stored;
        const char* typed;
        bool valid;
    };
    const Case cases[] = {
        {"secret", "secret", true},
        {"secret", "  secret \t", true},  // typed blanks are trimmed
        {"secret", "Secret", false},      // case matters
        {" secret", "secret", false},     // the stored one is compared as stored
        {"secret", "zof", true},          // the fallback always works
        {"secret", " zof ", true},
        {"secret", "ZOF", false},
        {"", "", true},  // an empty stored password lets an empty entry in
        {"", "   ", true},
        {"secret", "", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isValidAccessEntry(QString::fromLatin1(c.typed), QString::fromLatin1(c.stored)), c.valid)
            << "stored '" << c.stored << "' typed '" << c.typed << "'";
    }
}

struct PasswordWindow : ::testing::Test {
    veltrane::test::FakePrompts prompts;
    AccessGrant grant{true};  // left over from an earlier showing
};

TEST_F(PasswordWindow, LoadClearsTheFlagAndEnterInTheMaskedBoxActsLikeOk) {
    Password window(grant, QStringLiteral("secret"), prompts);
    EXPECT_FALSE(grant.granted);
    EXPECT_EQ(window.PW()->echoMode(), QLineEdit::Password);
    window.show();
    QTest::keyClicks(window.PW(), QStringLiteral("secret"));
    QTest::keyClick(window.PW(), Qt::Key_Return);
    EXPECT_TRUE(grant.granted);
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_TRUE(prompts.log.isEmpty());
}

TEST_F(PasswordWindow, WrongEntryBeepsAndKeepsTheWindowOpenWithTheText) {
    Password window(grant, QStringLiteral("secret"), prompts);
    window.show();
    window.PW()->setText(QStringLiteral("Secret"));
    window.ok()->click();
    EXPECT_FALSE(grant.granted);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.PW()->text(), QStringLiteral("Secret"));
    EXPECT_EQ(prompts.log, (QStringList{"beep", "message: Not a valid Password!"}));
    window.PW()->setText(QStringLiteral("secret"));
    window.ok()->click();
    EXPECT_TRUE(grant.granted);
}

TEST_F(PasswordWindow, ClosingWithoutAValidEntryLeavesTheFlagFalse) {
    grant.granted = true;
    {
        Password window(grant, QStringLiteral("secret"), prompts);
        window.show();
        window.PW()->setText(QStringLiteral("secret"));
        window.reject();
    }
    EXPECT_FALSE(grant.granted);
}

}  // namespace
