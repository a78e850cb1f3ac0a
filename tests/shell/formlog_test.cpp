#include "shell/formlog.h"
#include "config/chain_check.h"
#include "config/schema.h"
#include "config/settings.h"
#include "config/weight_chain.h"
#include "platform/database.h"
#include "shell/weight_log_model.h"
#include "tests/core/core_fixture.h"
#include "tests/shell/scripted_gate.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>

using namespace veltrane;
using namespace veltrane::test;

namespace {

struct LogViewer : ::testing::Test {
    AppFolder app;
    FakeServices fakes{app.path()};
    ScriptedGate gate{fakes.prompts.log};
    std::unique_ptr<Database> db = app.settingsDb();

    void add(const char* datetime, const char* weight) {
        db->execute(QStringLiteral("insert into weightlog (Datetime, weight) values (?, ?)"),
                    {QString::fromLatin1(datetime), QString::fromLatin1(weight)});
    }
    int stored() const { return app.weightLogRows(); }
    std::unique_ptr<Formlog> open() {
        return std::make_unique<Formlog>(
            Formlog::Deps{fakes.prompts, fakes.clock, fakes.events, gate, app.settingsPath()});
    }
    QStringList shownDates(Formlog& w) {
        QStringList out;
        for (int r = 0; r < w.model().rowCount(); ++r) out << w.model().index(r, 0).data().toString();
        return out;
    }
};

TEST_F(LogViewer, RangeRunsFromMidnightOfTheFirstDayToMidnightAfterTheLastInclusive) {
    for (const char* t : {"2026-03-09 23:59:59", "2026-03-10 00:00:00", "2026-03-11 12:00:00",
                          "2026-03-12 00:00:00", "2026-03-12 00:00:01"}) {
        add(t, "500");
    }
    add("2026-03-10 08:00:00", "700");  // added later, listed by time
    auto w = open();
    // It opens on today, which has nothing.
    EXPECT_EQ(w->eventdate(0)->text(), QStringLiteral("2026-03-14"));
    EXPECT_EQ(w->eventdate(1)->text(), QStringLiteral("2026-03-14"));
    EXPECT_EQ(w->gridCaption(), QStringLiteral("0 of 0"));
    w->eventdate(0)->setText(QStringLiteral("2026-03-10"));
    w->eventdate(1)->setText(QStringLiteral("2026-03-11"));
    w->showall();
    EXPECT_EQ(shownDates(*w), (QStringList{"2026-03-10 00:00:00", "2026-03-10 08:00:00",
                                           "2026-03-11 12:00:00", "2026-03-12 00:00:00"}));
    EXPECT_EQ(w->gridCaption(), QStringLiteral("1 of 4"));
    w->DBGrid1()->setCurrentIndex(w->model().index(2, 0));
    EXPECT_EQ(w->gridCaption(), QStringLiteral("3 of 4"));

    // First day after the last: nothing.
    w->eventdate(0)->setText(QStringLiteral("2026-03-13"));
    w->showall();
    EXPECT_EQ(w->gridCaption(), QStringLiteral("0 of 0"));
}

TEST_F(LogViewer, DateChecks) {
    add("2026-03-14 10:00:00", "500");
    auto w = open();
    w->eventdate(1)->clear();
    w->checkDate(1);  // an empty box stays empty
    EXPECT_TRUE(fakes.prompts.log.isEmpty());
    w->showall();
    EXPECT_EQ(fakes.prompts.log, (QStringList{"beep", "message: Enter the date range!!"}));
    EXPECT_EQ(w->gridCaption(), QStringLiteral("1 of 1"));  // the result stays

    fakes.prompts.log.clear();
    w->eventdate(0)->setText(QStringLiteral("2026-02-30"));
    w->checkDate(0);
    EXPECT_EQ(fakes.prompts.log, (QStringList{"beep", "message: Not a valid date!"}));
    EXPECT_EQ(w->eventdate(0)->text(), QStringLiteral("2026-03-14"));

    // Leaving the box for another control of the viewer checks it; another window taking the focus does not.
    const std::pair<Qt::FocusReason, bool> leaving[] = {{Qt::ActiveWindowFocusReason, false},
                                                        {Qt::PopupFocusReason, false},
                                                        {Qt::TabFocusReason, true},
                                                        {Qt::MouseFocusReason, true}};
    for (const auto& [reason, checked] : leaving) {
        fakes.prompts.log.clear();
        w->eventdate(1)->setText(QStringLiteral("no date"));
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(w->eventdate(1), &out);
        EXPECT_EQ(fakes.prompts.log.size(), checked ? 2 : 0) << reason;
    }
}

TEST_F(LogViewer, TrackingNumbersShowWithoutGroupingWhateverTheLocale) {
    db->execute(QStringLiteral(
        "insert into weightlog (slno, Datetime, weight) values (1234567, '2026-03-14 10:00:00', '12.5')"));
    auto w = open();
    auto* delegate = static_cast<QStyledItemDelegate*>(w->DBGrid1()->itemDelegate());
    QStringList shown;
    for (int column = 0; column < 3; ++column)
        shown << delegate->displayText(w->model().index(0, column).data(), QLocale(QLocale::German));
    EXPECT_EQ(shown.join(u'|').toStdString(), "2026-03-14 10:00:00|12.5|1234567");
}

TEST_F(LogViewer, TextMadeToReachTheQueryIsNotADateAndDeletesNothing) {
    add("2026-03-14 10:00:00", "500");
    add("2025-01-01 10:00:00", "600");
    auto w = open();
    w->eventdate(1)->setText(QStringLiteral("2099-01-01'); delete from weightlog; --"));
    w->showall();
    EXPECT_EQ(fakes.prompts.log, (QStringList{"beep", "message: Enter the date range!!"}));
    EXPECT_EQ(w->gridCaption(), QStringLiteral("1 of 1"));
    EXPECT_EQ(stored(), 2);
}

TEST_F(LogViewer, DeletingThreeRecordsAsksTwiceWithThePasswordBetween) {
    for (const char* t : {"2026-03-14 08:00:00", "2026-03-14 09:00:00", "2026-03-14 10:00:00"}) add(t, "500");
    add("2026-03-15 10:00:00", "900");  // outside the range: stays
    auto w = open();
    w->show();
    int eventsDuringDeletion = 0;
    fakes.events.onProcess = [&] {
        ++eventsDuringDeletion;
        EXPECT_FALSE(w->wipeButton()->isEnabled());
    };
    fakes.prompts.yesNoAnswers = {true, true};
    w->wipe();
    EXPECT_EQ(fakes.prompts.log,
              (QStringList{"ask: Confirm that you really want to delete 3 alarm records ?", "password",
                           "ask: Re-confirm that you really want to delete all these weight records ?"}));
    EXPECT_EQ(eventsDuringDeletion, 1) << "a page at a time";
    EXPECT_TRUE(w->wipeButton()->isEnabled());
    EXPECT_EQ(w->model().rowCount(), 0);
    EXPECT_EQ(w->gridCaption(), QStringLiteral("0 of 0"));
    EXPECT_EQ(stored(), 1);
}

TEST_F(LogViewer, RefusalsDeleteNothing) {
    open()->wipe();  // an empty range asks nothing
    EXPECT_EQ(fakes.prompts.log, QStringList{"message: Nothing to delete!"});
    add("2026-03-14 08:00:00", "500");
    struct Case {
        std::deque<bool> answers;
        bool password;
        QStringList log;
    };
    const QString first = QStringLiteral("ask: Confirm that you really want to delete 1 alarm records ?");
    const QString second =
        QStringLiteral("ask: Re-confirm that you really want to delete all these weight records ?");
    const Case cases[] = {
        {{false}, true, {first}},
        {{true}, false, {first, "password"}},  // password window closed without entry: no message
        {{true, false}, true, {first, "password", second}},
    };
    for (const Case& c : cases) {
        auto w = open();
        fakes.prompts.log.clear();
        fakes.prompts.yesNoAnswers = c.answers;
        gate.answer = c.password;
        w->wipe();
        EXPECT_EQ(fakes.prompts.log, c.log);
        EXPECT_EQ(stored(), 1);
    }
}

TEST_F(LogViewer, RecordsServedDuringADeletionStay) {
    for (int i = 0; i < 3; ++i) add("2026-03-14 08:00:00", "500");
    auto w = open();
    bool served = false;
    fakes.events.onProcess = [&] {
        if (!served) add("2026-03-14 09:00:00", "777");
        served = true;
    };
    fakes.prompts.yesNoAnswers = {true, true};
    w->wipe();
    EXPECT_EQ(stored(), 1);
}

TEST_F(LogViewer, DeletedRowsAreRecordedSoThatTheChainStillVerifies) {
    ensureChainTables(*db);
    for (const char* t :
         {"2026-03-13 08:00:00", "2026-03-14 08:00:00", "2026-03-14 09:00:00", "2026-03-15 08:00:00"})
        appendChainedRow(*db, QStringLiteral("500"), QString::fromLatin1(t));
    auto w = open();  // today: rows 2 and 3
    fakes.prompts.yesNoAnswers = {true, true};
    w->wipe();
    ASSERT_EQ(stored(), 2);
    const ChainReport report = checkChains(*db);
    EXPECT_TRUE(report.explained()) << report.text().toStdString();
    ASSERT_EQ(report.gaps.size(), 1u);
    EXPECT_EQ(report.gaps[0].from, 2);
    EXPECT_EQ(report.gaps[0].to, 3);
    EXPECT_EQ(report.rowsChecked, 2);
    EXPECT_TRUE(w->verifyReport().contains(
        QStringLiteral("Gap slno 2 to 3: deleted in the log viewer at 2026-03-14")));
}

TEST(LogDates, AcceptedForms) {
    // Short dates of the locales named; a two-digit year is this century's.
    const struct {
        const char* locale;
        const char* typed;
        QDate date;
    } cases[] = {
        {"C", "2026-03-14", {2026, 3, 14}},
        {"de_DE", " 2026-03-14 ", {2026, 3, 14}},
        {"C", "", {}},
        {"en_GB", "14/03/2026x", {}},
        {"en_US", "3/14/26", {2026, 3, 14}},
        {"en_US", "3/14/2026", {2026, 3, 14}},
        {"en_US", "12/31/99", {2099, 12, 31}},
        {"en_US", "2/29/24", {2024, 2, 29}},
        {"de_DE", "14.03.26", {2026, 3, 14}},
        {"es_ES", "14/3/26", {2026, 3, 14}},
        {"en_GB", "14/03/26", {2026, 3, 14}},
        {"en_GB", "14/03/2026", {2026, 3, 14}},
        {"C", "14 Mar 26", {2026, 3, 14}},
        {"en_US", "2/30/26", {}},
    };
    for (const auto& c : cases) {
        const std::optional<QDate> parsed =
            parseLogDate(QString::fromLatin1(c.typed), QLocale(QString::fromLatin1(c.locale)));
        EXPECT_EQ(parsed.value_or(QDate()), c.date) << c.locale << " " << c.typed;
    }
    const QString local = QLocale::system().toString(QDate(2026, 3, 14), QLocale::ShortFormat);
    EXPECT_EQ(parseLogDate(local), QDate(2026, 3, 14)) << local.toStdString();
    const LogRange r = logRangeFor(QDate(2026, 2, 28), QDate(2026, 2, 28));
    EXPECT_EQ(r.from, QStringLiteral("2026-02-28 00:00:00"));
    EXPECT_EQ(r.to, QStringLiteral("2026-03-01 00:00:00"));
}

}  // namespace
