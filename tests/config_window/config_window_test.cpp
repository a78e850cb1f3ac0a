// The configuration window offscreen, over a real settings database: what it shows, the check-box
// rules, the focus checks, help and samples, Save and Exit as the super-user meets them.

#include "config/feed_settings.h"
#include "config/window/config_scrn1bin.h"
#include "core/port_control.h"
#include "tests/config_window/config_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

namespace {

class WindowTest : public ConfigFixture {
protected:
    ConfigScrn1BIN& open() {
        fake.prompts.log.clear();
        window = std::make_unique<ConfigScrn1BIN>(settings, fake.services, port, accessGranted);
        return *window;
    }
    template <typename T = QWidget>
    T* w(const char* name) {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QCheckBox* chk(int i) {
        return w<QCheckBox>(QStringLiteral("chkFields_%1").arg(i).toLatin1().constData());
    }
    void leave(QWidget* box) {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(box, &out);
    }

    PortControl port{fake.services, view, {}};
    bool accessGranted = true;
    std::unique_ptr<ConfigScrn1BIN> window;
};

TEST_F(WindowTest, ShowsTheStoredRowNotTheProgramWideValues) {
    set({{"port", 7},
         {"baud", 14400},
         {"parity", QStringLiteral("e")},
         {"outstring", QStringLiteral("ENQ")},
         {"delimiter", QStringLiteral("SPACE")},
         {"activateVoiceAlert", -1},
         {"voicealertnormal", -1},
         {"outputFiletype", QStringLiteral("Access file with three fields")}});
    settings.port = 2;
    open();
    EXPECT_FALSE(accessGranted);
    EXPECT_EQ(w<QTabWidget>("SSTab1")->currentIndex(), 0);

    // The baud rate lies outside the list's entries and is still shown.
    // clang-format off
    const std::pair<const char*, const char*> combos[] = {{"Combo2", "7"}, {"Combo1", "14400"}, {"Combo5", "e"},
        {"Combo6", "SPACE"}, {"Combo8", "Access file with three fields"}, {"text1", "ENQ"}, {"portDevice", "/dev/ttyS6"}};
    // clang-format on
    for (const auto& [name, text] : combos)
        EXPECT_EQ(w<QComboBox>(name)->currentText(), QString::fromLatin1(text));
    // The rates current indicators use follow the list's first entries; the stored one comes last.
    QStringList rates;
    for (int i = 0; i < w<QComboBox>("Combo1")->count(); ++i) rates << w<QComboBox>("Combo1")->itemText(i);
    EXPECT_EQ(rates.join(' '), QStringLiteral("300 600 1200 2400 4800 9600 19200 38400 57600 115200 14400"));
    EXPECT_EQ(w<QLineEdit>("Text7")->text(), QStringLiteral("250.5"));
    EXPECT_EQ(w<QLineEdit>("Text10")->text(), QStringLiteral("250.5"));
    EXPECT_EQ(w<QLineEdit>("txtFields_3")->text(), outFolder());
    EXPECT_EQ(w<QLineEdit>("txtFields_7")->text(), QStringLiteral("pavix"));
    EXPECT_FALSE(w<QLineEdit>("txtFields_7")->isVisibleTo(window.get()));
    EXPECT_EQ(w<QLineEdit>("txtFields_0")->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(chk(9)->isChecked());
    EXPECT_TRUE(chk(5)->isChecked());
    EXPECT_TRUE(fake.prompts.log.isEmpty());
}

TEST_F(WindowTest, CheckBoxRulesRunOnScreenChangesOnly) {
    // Filling runs no rule: an inconsistent stored row is shown as it is.
    set({{"AutosaveonStableWeight", -1},
         {"saveonbutton", -1},
         {"activateVoiceAlert", 0},
         {"voicealertnormal", -1}});
    open();
    EXPECT_TRUE(chk(22)->isChecked() && chk(26)->isChecked() && chk(5)->isChecked());

    struct Step {
        int click;
        std::vector<std::pair<int, bool>> before;
        std::vector<std::pair<int, bool>> after;
    };
    const Step steps[] = {
        {22,
         {{22, false}, {26, false}},
         {{22, true}, {26, false}}},  // ticking 22 unticks 26 (26 came back first)
        {26, {{22, false}, {26, true}}, {{22, false}, {26, true}}},  // unticking 26 alone ticks it again
        {22, {{22, false}, {26, true}}, {{22, true}, {26, false}}},
        {12, {{9, false}, {12, true}}, {{9, true}, {12, false}}},  // unticking 12 with 9 unticked ticks 9
        {9, {{9, true}, {12, false}}, {{9, false}, {12, true}}},   // unticking 9 with 12 unticked ticks 12
        {9, {{9, false}, {12, true}}, {{9, true}, {12, false}}},   // ticking 9 unticks 12
        {12, {{9, true}, {12, false}}, {{9, false}, {12, true}}},
        {14, {{14, true}, {5, true}}, {{14, false}, {5, false}}},   // unticking 14 unticks 5
        {5, {{14, false}, {5, false}}, {{14, false}, {5, false}}},  // 5 cannot be ticked without 14
        {5, {{14, true}, {5, false}}, {{14, true}, {5, true}}},
    };
    for (const Step& s : steps) {
        for (auto [i, on] : s.before) {
            QSignalBlocker quiet(chk(i));
            chk(i)->setChecked(on);
        }
        chk(s.click)->click();
        for (auto [i, on] : s.after)
            EXPECT_EQ(chk(i)->isChecked(), on) << "click " << s.click << " box " << i;
    }
}

TEST_F(WindowTest, FocusChecks) {
    open();
    struct Case {
        const char* box;
        const char* typed;
        const char* result;
        int beeps;
    };
    const Case cases[] = {
        {"Text5", "12", "0", 2}, {"Text5", "abc", "0", 1}, {"Text5", "", "0", 1}, {"Text5", "11", "11", 0},
        {"Text5", "-1", "0", 2}, {"Text2", "abc", "0", 0}, {"Text3", "", "0", 0}, {"Text3", "12", "12", 0},
    };
    for (const Case& c : cases) {
        fake.prompts.log.clear();
        auto* box = w<QLineEdit>(c.box);
        box->setText(QString::fromLatin1(c.typed));
        leave(box);
        EXPECT_EQ(box->text(), QString::fromLatin1(c.result)) << c.box << " " << c.typed;
        EXPECT_EQ(fake.prompts.beeps(), c.beeps) << c.box << " " << c.typed;
        EXPECT_TRUE(fake.prompts.messages().isEmpty());
    }
    auto* port = w<QComboBox>("Combo2");
    port->setCurrentIndex(-1);
    leave(port);
    EXPECT_EQ(port->currentText(), QStringLiteral("1"));

    // Switching to another window is not leaving the box.
    auto* places = w<QLineEdit>("Text5");
    places->setText(QStringLiteral("99"));
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(places, &away);
    EXPECT_EQ(places->text(), QStringLiteral("99"));
}

TEST_F(WindowTest, OutputFolderMustHoldAFile) {
    open();
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    w<QTabWidget>("SSTab1")->setCurrentIndex(2);
    auto* folder = w<QLineEdit>("txtFields_3");
    auto* other = w<QCheckBox>("chkFields_10");

    const QString onlySubfolders = app.path() + QStringLiteral("deep");
    QDir().mkpath(onlySubfolders + QStringLiteral("/inner"));
    folder->setFocus();
    folder->setText(onlySubfolders);
    other->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == folder; }));
    EXPECT_EQ(folder->text(), onlySubfolders + QLatin1Char('/'));
    EXPECT_EQ(fake.prompts.log,
              QStringList({QStringLiteral("beep"),
                           QStringLiteral(
                               "message: Folder does not exist or folder is empty!! Folder should exist and "
                               "there should be at least one file (any file) inside the folder!!")}));

    fake.prompts.log.clear();
    folder->setText(QString());
    other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(folder->text(), app.path());
    EXPECT_EQ(fake.prompts.log, QStringList({QStringLiteral("beep"),
                                             QStringLiteral("message: Defaulting to application folder..")}));

    fake.prompts.log.clear();
    folder->setFocus();
    folder->setText(outFolder().chopped(1));
    other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(folder->text(), outFolder());
    EXPECT_TRUE(fake.prompts.log.isEmpty());
}

TEST_F(WindowTest, HelpTextsAndSamples) {
    open();
    // Help 0 follows the installation kind as loaded, not the box on the screen.
    settings.FORWEIGHBRIDGE = true;
    chk(2)->setChecked(false);
    w<QPushButton>("help1_0")->click();
    settings.FORWEIGHBRIDGE = false;
    chk(2)->setChecked(true);
    w<QPushButton>("help1_0")->click();
    const QStringList shown = fake.prompts.messages();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("a truck is on the platform")));
    EXPECT_TRUE(shown[1].contains(QStringLiteral("the material (product) to be weighed")));

    // The sample client starts as a program, the sample web page opens in the browser; either failing
    // (a file that is not there) is said.
    for (bool result : {true, false}) {
        fake.prompts.log.clear();
        fake.shell.result = result;
        w<QPushButton>("showsample_1")->click();
        w<QPushButton>("showsample_0")->click();
        const QStringList failed{
            QStringLiteral("message-info: Failed to start '") + app.file("quorlink") + "'",
            QStringLiteral("message-info: Failed to start '") + app.file("veltrane-sample.html") + "'"};
        EXPECT_EQ(fake.prompts.log, result ? QStringList() : failed);
    }
    EXPECT_EQ(fake.shell.started, QStringList(2, app.file(QStringLiteral("quorlink"))));
    EXPECT_EQ(fake.shell.opened, QStringList(2, app.file(QStringLiteral("veltrane-sample.html"))));
}

TEST_F(WindowTest, StartAtLoginShowsTheEntryAndOnlySaveAppliesIt) {
    TempHome home;
    const QString entry = home.path() + QStringLiteral(".config/autostart/veltrane.desktop");
    for (const char* button : {"CancelButton", "OKButton", "OKButton"}) {
        open();
        auto* box = w<QCheckBox>("startAtLogin");
        EXPECT_EQ(box->isChecked(), QFile::exists(entry)) << button;
        box->toggle();
        w<QPushButton>(button)->click();
        EXPECT_EQ(QFile::exists(entry), box->isChecked() == (button[0] == 'O')) << button;
        if (QFile::exists(entry)) {
            EXPECT_TRUE(readFile(entry).contains(QCoreApplication::applicationFilePath().toUtf8()));
        }
    }
    EXPECT_TRUE(fake.prompts.log.isEmpty()) << fake.prompts.log.join('|').toStdString();
}

TEST_F(WindowTest, BrokerFieldsAreCheckedBeforeAnythingIsSaved) {
    const auto feeds = [this] {
        return readFeedSettings(*Database::open(dbPath(), QStringLiteral(";pwd=qd584")));
    };
    open();
    w<QLineEdit>("Text6")->setText(QStringLiteral("8"));
    w<QCheckBox>("mqttfeed")->setChecked(true);
    for (const auto& [port, message] :
         {std::pair{"x", "Broker port: \"x\" is not a port number from 1 to 65535."},
          std::pair{"1883", "Broker host: the broker's host name or address is needed."}}) {
        w<QLineEdit>("mqttport")->setText(QString::fromLatin1(port));
        fake.prompts.log.clear();
        w<QPushButton>("OKButton")->click();
        EXPECT_EQ(fake.prompts.messages(), QStringList{QString::fromUtf8(message)});
        EXPECT_EQ(stored("minstablereadings").toInt(), 3) << "nothing saved";
        EXPECT_FALSE(feeds().mqttfeed);
    }
    w<QLineEdit>("mqtthost")->setText(QStringLiteral("broker.example"));
    w<QLineEdit>("mqtttopic")->setText(QStringLiteral("north/bridge1"));
    w<QPushButton>("OKButton")->click();
    EXPECT_EQ(stored("minstablereadings").toInt(), 8);
    const FeedSettings saved = feeds();
    EXPECT_TRUE(saved.mqttfeed);
    EXPECT_EQ(saved.mqtthost, QStringLiteral("broker.example"));
    EXPECT_EQ(saved.mqtttopic, QStringLiteral("north/bridge1"));

    // An empty topic stores nothing and reads as this computer's default.
    w<QLineEdit>("mqtttopic")->clear();
    w<QPushButton>("OKButton")->click();
    EXPECT_EQ(feeds().mqtttopic, defaultMqttTopic());
}

TEST_F(WindowTest, WebFeedFieldsAreCheckedBeforeAnythingIsSaved) {
    const auto feeds = [this] {
        return readFeedSettings(*Database::open(dbPath(), QStringLiteral(";pwd=qd584")));
    };
    open();
    QSignalSpy restarts(window.get(), &ConfigScrn1BIN::feedsSaved);
    w<QCheckBox>("httpfeed")->setChecked(true);
    const char* const refused[][3] = {
        {"70000", "127.0.0.1", "Web feed port: 70000 is not a port number from 1 to 65535."},
        {"8080", "scale.local",
         "Web feed address: \"scale.local\" is not an IP address (127.0.0.1 for this computer only, 0.0.0.0 "
         "for every network)."},
        {"8080", "0.0.0.0",
         "Web feed token: a token is needed when the feed listens beyond this computer (address 0.0.0.0)."}};
    for (const auto& row : refused) {
        w<QLineEdit>("httpport")->setText(QString::fromLatin1(row[0]));
        w<QLineEdit>("httpaddress")->setText(QString::fromLatin1(row[1]));
        w<QTabWidget>("SSTab1")->setCurrentIndex(0);
        fake.prompts.log.clear();
        w<QPushButton>("OKButton")->click();
        EXPECT_EQ(fake.prompts.messages(), QStringList{QString::fromUtf8(row[2])});
        EXPECT_TRUE(w<QWidget>("webFeed")->isVisibleTo(window.get())) << "its tab is shown";
        EXPECT_FALSE(feeds().httpfeed) << "nothing saved";
    }
    w<QLineEdit>("httptoken")->setText(QStringLiteral("erp-7Qx"));
    w<QPushButton>("OKButton")->click();
    EXPECT_EQ(restarts.count(), 1) << "the feed restarts at the save";
    const FeedSettings saved = feeds();
    EXPECT_TRUE(saved.httpfeed);
    EXPECT_EQ(saved.httpaddress, QStringLiteral("0.0.0.0"));
    EXPECT_EQ(saved.httpport, 8080);
    EXPECT_EQ(saved.httptoken, QStringLiteral("erp-7Qx"));
}

// No caption is cut off at the smallest size the window can take, on any tab, at the scale the test runs
// with (config_window_test at 100%, config_window_scaled_test at 150%); and the window fits a 1920x1080
// screen at 150% (1280x720 points) with room left for a title bar and a panel. (The documents' pictures
// of the tabs are scripts/screenshots.sh's.)
TEST_F(WindowTest, EveryCaptionFitsAndTheWindowFitsTheScreen) {
    open();
    window->show();
    EXPECT_LE(window->sizeHint().width(), 1240);
    EXPECT_LE(window->sizeHint().height(), 650);
    window->resize(0, 0);  // the least the layout allows
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"));
    auto* tabs = w<QTabWidget>("SSTab1");
    EXPECT_GE(tabs->tabBar()->width(), tabs->tabBar()->sizeHint().width());
    const char* names[] = {"interface", "weighment", "veltrane", "password", "feeds", "web"};
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QCoreApplication::processEvents();
        int captions = 0;
        for (QWidget* c : tabs->widget(i)->findChildren<QWidget*>()) {
            if ((!qobject_cast<QLabel*>(c) && !qobject_cast<QAbstractButton*>(c)) ||
                !c->isVisibleTo(window.get()))
                continue;
            ++captions;
            const QRect shown(c->mapTo(window.get(), QPoint()), c->size());
            const QSize needed = c->sizeHint();
            EXPECT_TRUE(shown.width() >= needed.width() && shown.height() >= needed.height() &&
                        window->rect().contains(shown))
                << names[i] << " at " << scale.toStdString() << ": " << c->objectName().toStdString() << " "
                << c->property("text").toString().toStdString() << " needs " << needed.width() << "x"
                << needed.height() << ", has " << shown.width() << "x" << shown.height();
        }
        EXPECT_GT(captions, 2) << names[i];
    }
}

}  // namespace
