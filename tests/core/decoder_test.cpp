#include "core/decoder.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

using namespace veltrane;

namespace {

struct RecordingHost final : DecoderHost {
    void showRawData(const QByteArray& buffer) override { raw = buffer; }
    void setWeightText(const QString& text) override { weight = text; }
    QString weightText() const override { return weight; }
    bool weighmentStep(float w) override {
        steps.push_back(w);
        if (duringStep) duringStep();
        return accept;
    }
    void recordCompleted(const QByteArray& record, const QString& text) override {
        records << QString::fromLatin1(record);
        weights << text;
    }
    QByteArray raw;
    QString weight;
    QStringList records;
    QStringList weights;
    std::vector<float> steps;
    bool accept = true;
    std::function<void()> duringStep;
};

Settings positional(int delimiter, int start, int length) {
    Settings s;
    s.delimiterCode = static_cast<std::int16_t>(delimiter);
    s.weightstart = static_cast<std::int16_t>(start);
    s.weightLength = static_cast<std::int16_t>(length);
    return s;
}

Settings autosense() {
    Settings s;
    s.simpinterface = true;
    return s;
}

void feed(Decoder& d, const QByteArray& bytes) {
    for (char c : bytes) d.DecodeCharacter(QByteArray(1, c));
}

}  // namespace

TEST(Decoder, RecordsBecomeWeights) {
    Settings reversed = positional(13, 1, 100);
    reversed.reverseweight = true;
    Settings threePlaces = positional(13, 1, 100);
    threePlaces.iNSERTDECIMALS = true;
    threePlaces.decimalDivisor = 1000;
    Settings divisorOne = threePlaces;
    divisorOne.decimalDivisor = 1;

    struct Case {
        const char* name;
        Settings settings;
        QByteArray stream;
        QStringList records;
        QStringList weights;
    };
    // clang-format off
    const Case cases[] = {
        {"fields by position", positional(13, 4, 6), "ST,+001250 kg\r", {"ST,+001250 kg"}, {"125"}},
        {"spaces trimmed before positions", positional(13, 1, 100), "   12.50   \r", {"12.50"}, {"12.5"}},
        {"LF after CR belongs to the next record", positional(13, 3, 3), "AB123\r\nAB456\r",
         {"AB123", "\nAB456"}, {"123", "0"}},
        {"repeated delimiters make no empty record", positional(13, 1, 100), "12\r\r\r34\r", {"12", "34"}, {"12", "34"}},
        {"start beyond the record", positional(13, 20, 5), "12345\r", {"12345"}, {"0"}},
        {"autosense takes the numeric run", autosense(), "WT:  -0012.30kg\r\n", {"", "-0012.30"}, {"0", "12.3"}},
        {"slash ends an autosense record", autosense(), "12/5x", {"12", "5"}, {"12", "5"}},
        {"reversed digits", reversed, "05.21\r", {"05.21"}, {"12.5"}},
        {"decimals inserted", threePlaces, "012345\r", {"012345"}, {"12.345"}},
        {"divisor 1 leaves the record", divisorOne, "012345\r", {"012345"}, {"12345"}},
        {"no digits", positional(13, 1, 100), "ABC\r", {"ABC"}, {"0"}},
        {"leading zeros and point go", positional(13, 1, 100), "000125.\r", {"000125."}, {"125"}},
        {"delimiter first gives an empty record", positional(13, 1, 100), "\r12\r", {"", "12"}, {"0", "12"}},
        {"exponent kept", positional(13, 1, 100), "1.5E3\r", {"1.5E3"}, {"1500"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        RecordingHost host;
        Decoder d(c.settings, host);
        feed(d, c.stream);
        EXPECT_EQ(host.records, c.records) << c.name;
        EXPECT_EQ(host.weights, c.weights) << c.name;
        EXPECT_EQ(host.steps.size(), static_cast<size_t>(c.records.size())) << c.name;
    }
}

TEST(Decoder, CurrentWeightIsTheShownTextAsASingle) {
    struct Case {
        QByteArray record;
        QString text;
        float weight;
    };
    const Case cases[] = {
        {"-12.5", "12.5", 12.5f},
        {"1e39", "1E+39", 0.0f},  // shown, but too large for a single: weight 0, no overflow
        {"1e999", "0", 0.0f},     // too large even for a double
        {"3.4e38", "3.4E+38", 3.4e38f},
    };
    for (const Case& c : cases) {
        RecordingHost host;
        const Settings s = positional(13, 1, 100);
        Decoder d(s, host);
        feed(d, c.record + '\r');
        EXPECT_EQ(host.weight, c.text) << c.record.constData();
        EXPECT_EQ(d.currentWeight(), c.weight) << c.record.constData();
        ASSERT_EQ(host.steps.size(), 1u);
        EXPECT_EQ(host.steps[0], c.weight);
    }
}

TEST(Decoder, SearchLogsEveryCodeAndStartsNoWeighment) {
    RecordingHost host;
    const Settings s = positional(13, 1, 100);
    Decoder d(s, host);
    d.setSearchRunning(true);
    feed(d, "12\r\xff");
    EXPECT_EQ(d.searchLog(), QByteArray("-49-50-13-255"));
    EXPECT_EQ(host.weights, QStringList{"12"});
    EXPECT_TRUE(host.steps.empty());
    EXPECT_EQ(d.lastRecord(), QByteArray("12"));
}

TEST(Decoder, BufferKeptWhenTheReadingWasRefused) {
    RecordingHost host;
    host.accept = false;
    const Settings s = positional(13, 1, 100);
    Decoder d(s, host);
    feed(d, "0450\r");
    EXPECT_EQ(d.receiveBuffer(), QByteArray("450"));
    feed(d, "\r\r");  // separators still skipped
    EXPECT_EQ(d.receiveBuffer(), QByteArray("450"));
    feed(d, "7");  // the next record starts afresh
    EXPECT_EQ(d.receiveBuffer(), QByteArray("7"));
    EXPECT_EQ(host.raw, QByteArray("7"));
}

TEST(Decoder, RecordStartedInsideAWeighmentKeepsItsCharacters) {
    RecordingHost host;
    const Settings s = positional(13, 1, 100);
    Decoder d(s, host);
    // The serving lets events run: the next record's first characters arrive inside it.
    bool nested = false;
    host.duringStep = [&] {
        if (std::exchange(nested, true)) return;
        feed(d, "98");
    };
    feed(d, "1000\r");
    feed(d, "7\r");
    EXPECT_EQ(host.weights, (QStringList{"1000", "987"}));
}

TEST(Decoder, RecordWithoutDelimiterStaysBoundedAndTheNextRecordDecodes) {
    RecordingHost host;
    const Settings s = positional(13, 1, 100);
    Decoder d(s, host);
    const QByteArray noise(3 * Decoder::kMaxRecordLength, 'x');
    feed(d, noise);
    EXPECT_LE(d.receiveBuffer().size(), Decoder::kMaxRecordLength);
    feed(d, "\r1250\r");
    EXPECT_EQ(host.weights.last(), QStringLiteral("1250"));
}

TEST(Decoder, StripLeadingNonNumeric) {
    struct Case {
        QByteArray in;
        QByteArray out;
    };
    const QByteArray longTail = QByteArray(250, 'x') + "12";
    const Case cases[] = {
        {"", ""},
        {"abc", ""},
        {"-12.5", "12.5"},
        {".5kg", ".5kg"},
        {"kg 12", "12"},
        {"-", ""},
        // each removal keeps at most the next 200 characters, so a number further out is cut off
        {longTail, ""},
        {QByteArray(150, 'x') + "12", "12"},
        {"1" + QByteArray(300, 'x'), "1" + QByteArray(300, 'x')},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Decoder::StripLeadingNonNumeric(c.in), c.out) << c.in.left(20).constData();
}
