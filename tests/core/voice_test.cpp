#include "core/voice.h"

#include "tests/support/fakes.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

namespace {

// An application folder with every word file present (empty files: the fake sound only records).
struct WordFolder {
    WordFolder() {
        QStringList words{"point", "hundred", "thousand", "million", "billion", "trillion", "truckout"};
        for (int i = 0; i < 100; ++i) words << QString::number(i);
        for (const QString& w : words) writeFile(folder.file(w + ".wav"));
    }
    TempFolder folder;
};

QStringList spoken(const QString& text, bool digits, const QString& appFolder, int* events = nullptr) {
    FakeServices fakes(appFolder);
    Settings s;
    s.activateVoiceAlert = true;
    s.voicealertnormal = digits;
    Voice voice(s, fakes.services);
    voice.AnnounceWeight(text);
    if (events) *events = fakes.events.calls;
    QStringList names = fakes.sound.playedNames();
    for (QString& n : names) n.chop(4);
    return names;
}

}  // namespace

TEST(Voice, PlayedSequences) {
    WordFolder words;
    struct Case {
        QString text;
        QStringList digitMode;
        QStringList wordMode;
    };
    const Case cases[] = {
        {"12345.6", {"1", "2", "3", "4", "5", "point", "6"}, {"12", "thousand", "3", "hundred", "45"}},
        {"6600", {"6", "6", "0", "0"}, {"6", "thousand", "6", "hundred"}},
        {"100000", {"1", "0", "0", "0", "0", "0"}, {"1", "hundred", "thousand"}},
        {"2000.5", {"2", "0", "0", "0", "point", "5"}, {"2", "thousand"}},
        {"0.5", {"0", "point", "5"}, {}},
        {"999.99", {"9", "9", "9", "point", "9", "9"}, {"9", "hundred", "99"}},
        {"1100", {"1", "1", "0", "0"}, {"1", "thousand", "1", "hundred"}},
        {"1E+12", {"1", "E", "+", "1", "2"}, {"1", "trillion"}},
        {"922337203685477",
         {},
         {"9", "hundred", "22", "trillion", "3", "hundred", "37", "billion", "2", "hundred", "3", "million",
          "6", "hundred", "85", "thousand", "4", "hundred", "77"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(spoken(c.text, true, words.folder.path()), c.digitMode) << c.text.toStdString();
        EXPECT_EQ(spoken(c.text, false, words.folder.path()), c.wordMode) << c.text.toStdString();
    }
}

TEST(Voice, EventsRunBetweenDigitsAndMissingWordsAreSkipped) {
    int events = 0;
    TempFolder empty;
    // Digits are played without looking for the file (the sound service makes a missing one silent);
    // words are only played when their file exists.
    EXPECT_EQ(spoken("12.5", true, empty.path(), &events), (QStringList{"1", "2", "point", "5"}));
    EXPECT_EQ(events, 8);
    EXPECT_EQ(spoken("1200", false, empty.path(), &events), QStringList{});
}

TEST(Voice, WeightBeyondTheCurrencyRangeOverflows) {
    WordFolder words;
    EXPECT_THROW(spoken("1E+15", false, words.folder.path()), std::overflow_error);
    EXPECT_THROW(spoken("1E+30", false, words.folder.path()), std::overflow_error);
    EXPECT_NO_THROW(spoken("1E+30", true, words.folder.path()));
}
