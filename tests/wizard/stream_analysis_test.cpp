// The stream analysis over the simulator's frames as a UART receives them at 8N1: the right baud tells
// the frame, the delimiter and the weight's place; wrong bauds, garbage and an idle line tell nothing.
#include "wizard/stream_analysis.h"
#include "tools/indicator-sim/frame_format.h"
#include "tools/indicator-sim/line_settings.h"

#include <gtest/gtest.h>

using namespace veltrane;

namespace {

QByteArray stream(const char* format, const sim::LineSettings& tx, const sim::LineSettings& rx) {
    sim::Reading reading;
    reading.weight = 1234;
    return sim::receivedAs(sim::makeFrame(QLatin1String(format), reading)->repeated(6), tx, rx);
}

}  // namespace

TEST(StreamAnalysis, TheRightBaudTellsFrameDelimiterAndWeight) {
    struct Case {
        const char* format;
        sim::LineSettings tx;
        Frame frame;
        const char* delimiter;
        int start;
        bool reversed;
    };
    const Case cases[] = {
        {"st-gs", {9600, 'n', 8, 1}, {'n', 8}, "CR", 11, false},
        {"st-gs", {9600, 'e', 7, 1}, {'e', 7}, "CR", 11, false},
        {"st-gs", {1200, 'o', 7, 1}, {'o', 7}, "CR", 11, false},
        {"st-gs", {4800, 'e', 7, 2}, {'e', 7}, "CR", 11, false},
        {"st-gs", {19200, 'n', 8, 2}, {'n', 8}, "CR", 11, false},
        {"st-gs", {19200, 'o', 8, 1}, {'n', 8}, "CR", 11, false},
        {"plain", {115200, 'n', 8, 1}, {'n', 8}, "CR", 2, false},
        {"stx-etx", {2400, 'n', 8, 1}, {'n', 8}, "ETX", 7, false},
        {"reversed", {9600, 'm', 7, 1}, {'m', 7}, "=", 1, true},
    };
    for (const Case& c : cases) {
        const sim::LineSettings wide{c.tx.baud, 'n', 8, 1};
        const BaudVerdict v = judgeBaud(stream(c.format, c.tx, wide), "1234");
        const std::string what = std::string(c.format) + " " + c.tx.text().toStdString();
        ASSERT_EQ(v.kind, BaudVerdict::Candidate) << what;
        EXPECT_EQ(v.frame, c.frame) << what;
        EXPECT_EQ(v.finding->delimiterName, QLatin1String(c.delimiter)) << what;
        ASSERT_TRUE(v.finding->match) << what;
        EXPECT_EQ(v.finding->match->start, c.start) << what << " " << v.finding->record.toStdString();
        EXPECT_EQ(v.finding->match->reversed, c.reversed) << what;
        // Without a sample weight the record alone is found.
        EXPECT_EQ(judgeBaud(stream(c.format, c.tx, wide), {}).kind, BaudVerdict::Candidate) << what;

        for (int baud : {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}) {
            if (baud == c.tx.baud) continue;
            const BaudVerdict wrong = judgeBaud(stream(c.format, c.tx, {baud, 'n', 8, 1}), "1234");
            EXPECT_NE(wrong.kind, BaudVerdict::Candidate) << what << " at " << baud;
        }
    }
}

TEST(StreamAnalysis, GarbageAndSilenceAreNoRecords) {
    QByteArray garbage;
    for (int i = 0; i < 200; ++i) garbage.append(static_cast<char>((i * 97 + 13) & 0xff));
    EXPECT_EQ(judgeBaud(garbage, "1234").kind, BaudVerdict::NotText);
    EXPECT_EQ(judgeBaud(QByteArray(60, '\0'), {}).kind, BaudVerdict::NotText);
    EXPECT_EQ(judgeBaud({}, "1234").kind, BaudVerdict::Listening);
    // Two ETX frames heard from the middle of the first: "+" would cut two records holding the weight,
    // but the designed search ends them at ETX, so only more frames can answer.
    EXPECT_EQ(judgeBaud("S+0001234\x03\x02S+0001234\x03\x02S+", "1234").kind, BaudVerdict::Listening);
    // Text whose records never hold the weight is never a candidate.
    EXPECT_NE(judgeBaud(QByteArray("ST,GS,+005678kg\r\n").repeated(6), "1234").kind, BaudVerdict::Candidate);
}
