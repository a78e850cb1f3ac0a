// The simulator's frames, line garbling and weight programmes, checked without a device.
#include "tools/indicator-sim/frame_format.h"
#include "tools/indicator-sim/line_settings.h"
#include "tools/indicator-sim/weight_programme.h"

#include <gtest/gtest.h>

using namespace veltrane::sim;

namespace {

Reading reading(double weight, int decimals = 0, bool stable = true, double tare = 0) {
    Reading r;
    r.weight = weight;
    r.decimals = decimals;
    r.stable = stable;
    r.tare = tare;
    return r;
}

}  // namespace

TEST(Frames, BuiltinLayoutsProduceTheExpectedBytes) {
    struct Case {
        const char* format;
        Reading r;
        QByteArray expected;
    };
    // clang-format off
    const Case cases[] = {
        {"st-gs", reading(1234), "ST,GS,+001234kg\r\n"},
        {"st-gs", reading(1234, 0, false), "US,GS,+001234kg\r\n"},
        {"st-gs", reading(-20), "ST,GS,-000020kg\r\n"},
        {"st-gs", reading(-0.2), "ST,GS,+000000kg\r\n"},  // rounds to zero: no minus sign
        {"st-gs", reading(12.345, 2), "ST,GS,+012.35kg\r\n"}, {"padded", reading(1234), "+   1234 kg\r\n"},
        {"padded", reading(-5), "-      5 kg\r\n"}, {"stx-cr", reading(1234), "\x02+001234kg\r"},
        {"stx-etx", reading(1234), "\x02S+0001234\x03"},
        {"stx-etx", reading(1234, 0, false), "\x02M+0001234\x03"}, {"reversed", reading(1234), "432100="},
        {"reversed", reading(987654), "456789="}, {"reversed", reading(12.5, 1), "5.2100="},
        {"tare-net", reading(1234, 0, true, 200), "T:+000200kg N:+001234kg\r\n"},
        {"implied", reading(12.34, 2), "W001234\r\n"}, {"implied", reading(1234), "W001234\r\n"},
        {"plain", reading(1234), "1234\r\n"}, {"plain", reading(0.5, 1), "0.5\r\n"},
    };
    // clang-format on
    for (const Case& c : cases) {
        QString error;
        const auto frame = makeFrame(QLatin1String(c.format), c.r, {}, &error);
        ASSERT_TRUE(frame) << c.format << ": " << error.toStdString();
        EXPECT_EQ(*frame, c.expected) << c.format << " " << c.r.weight;
    }
    EXPECT_GE(builtinFormats().size(), 9u);
    EXPECT_FALSE(makeFrame(QStringLiteral("no-such"), reading(1)));
}

TEST(Frames, TemplatesAndEscapes) {
    const auto templ = unescape(QStringLiteral("<STX>{status} G{gross:07}/{weight:5}{{x}<CR>\\x0A"));
    ASSERT_TRUE(templ);
    EXPECT_EQ(*expandTemplate(*templ, reading(1234, 0, true, 200)),
              QByteArray("\x02ST G0001434/ 1234{x}\r\n"));
    EXPECT_EQ(*unescape(QStringLiteral("a<b>\\\\")), QByteArray("a<b>\\"));

    QString error;
    EXPECT_FALSE(unescape(QStringLiteral("bad\\q"), &error));
    EXPECT_TRUE(error.contains(QLatin1String("\\q")));
    EXPECT_FALSE(unescape(QStringLiteral("\\x4"), &error));
    EXPECT_FALSE(unescape(QStringLiteral("end\\"), &error));
    EXPECT_FALSE(expandTemplate("{weigth}", reading(1), &error));
    EXPECT_TRUE(error.contains(QLatin1String("weigth")));
    EXPECT_FALSE(expandTemplate("{weight", reading(1), &error));
    EXPECT_FALSE(expandTemplate("{weight:x}", reading(1), &error));
    EXPECT_EQ(escape("\x02"
                     "A\r\n"),
              QStringLiteral("\\x02A\\r\\n"));
}

namespace {

// The frame with a bit 7 added to each character: what 7 data bits plus parity give an 8N1 reader.
QByteArray withBit7(const QByteArray& frame, char parity) {
    QByteArray out;
    for (char ch : frame) {
        const auto c = static_cast<unsigned char>(ch);
        const bool odd = __builtin_popcount(c) % 2 == 1;
        const bool bit = parity == 'e' ? odd : parity == 'o' ? !odd : parity == 'm';
        out.append(static_cast<char>(c | (bit ? 0x80 : 0)));
    }
    return out;
}

}  // namespace

TEST(LineGarble, TheReaderGetsWhatAUartSamples) {
    const QByteArray frame = "ST,GS,+001234kg\r\nST,GS,+001234kg\r\n";
    struct Case {
        LineSettings tx, rx;
        QByteArray expected;
    };
    // clang-format off
    const Case clean[] = {
        {{9600, 'n', 8, 1}, {9600, 'n', 8, 1}, frame},
        {{9600, 'n', 8, 2}, {9600, 'n', 8, 1}, frame},   // only the first stop bit is checked
        {{9600, 'n', 8, 1}, {9600, 'n', 8, 2}, frame},
        {{9600, 'e', 7, 1}, {9600, 'e', 7, 1}, frame},
        {{4800, 'e', 7, 2}, {4800, 'e', 7, 1}, frame},
        {{9600, 'o', 8, 1}, {9600, 'n', 8, 1}, frame},   // the parity bit stands where the stop bit is looked for
        {{9600, 'n', 8, 1}, {9800, 'n', 8, 1}, frame},   // within a UART's tolerance
        {{9600, 'e', 7, 1}, {9600, 'n', 8, 1}, withBit7(frame, 'e')},
        {{1200, 'o', 7, 1}, {1200, 'n', 8, 1}, withBit7(frame, 'o')},
        {{9600, 'm', 7, 1}, {9600, 'n', 8, 1}, withBit7(frame, 'm')},
        {{9600, 's', 7, 1}, {9600, 'n', 8, 1}, frame},
        {{19200, 'n', 7, 2}, {19200, 'n', 8, 1}, withBit7(frame, 'm')},
    };
    // clang-format on
    for (const Case& c : clean)
        EXPECT_EQ(receivedAs(frame, c.tx, c.rx), c.expected)
            << c.tx.text().toStdString() << " read at " << c.rx.text().toStdString();

    const LineSettings own{9600, 'n', 8, 1};
    for (int baud : {300, 1200, 2400, 4800, 19200, 38400, 57600, 115200}) {
        const QByteArray got = receivedAs(frame, own, LineSettings{baud, 'n', 8, 1});
        EXPECT_FALSE(got.contains("1234")) << baud;
        EXPECT_FALSE(got.contains("ST,GS")) << baud;
    }
    // A slow receiver sees fewer characters than were sent, a fast one more: what a UART does.
    EXPECT_LT(receivedAs(frame, own, LineSettings{1200, 'n', 8, 1}).size(), frame.size());
    EXPECT_GT(receivedAs(frame, own, LineSettings{38400, 'n', 8, 1}).size(), frame.size());
}

TEST(LineSettingsText, ParsesAndRefuses) {
    EXPECT_EQ(LineSettings::parse(QStringLiteral("19200,E,7,2")), (LineSettings{19200, 'e', 7, 2}));
    for (const char* bad : {"9600,n,8", "x,n,8,1", "9600,z,8,1", "9600,n,9,1", "9600,n,8,3", "0,n,8,1"}) {
        QString error;
        EXPECT_FALSE(LineSettings::parse(QLatin1String(bad), &error)) << bad;
        EXPECT_TRUE(error.contains(QLatin1String(bad))) << error.toStdString();
    }
}

TEST(WeightProgramme, TruckCycleDrivesOnSettlesAndLeaves) {
    const WeightProgramme p = WeightProgramme::truckCycle(24360);
    EXPECT_EQ(p.at(0.5).weight, 0);
    EXPECT_TRUE(p.at(0.5).stable);
    // Driving on and rocking: unstable, never the loaded weight as a stable reading.
    for (double t = 4; t < 9; t += 0.1) EXPECT_FALSE(p.at(t).stable) << t;
    for (double t = 9.05; t < 17; t += 0.5) {
        EXPECT_EQ(p.at(t).weight, 24360) << t;
        EXPECT_TRUE(p.at(t).stable) << t;
    }
    EXPECT_FALSE(p.at(17.5).stable);
    EXPECT_EQ(p.at(p.length() - 0.1).weight, 0);
    EXPECT_TRUE(p.at(p.length() - 0.1).stable);
    // It loops: the next truck follows.
    EXPECT_EQ(p.at(p.length() + 10).weight, 24360);
    // The noise is repeatable and stays within its amplitude.
    EXPECT_EQ(p.at(6.3).weight, p.at(6.3).weight);
    EXPECT_LE(std::abs(p.at(6.3).weight - 24360), p.noise);
}

TEST(WeightProgramme, ParsedStepsHoldOrLoop) {
    auto p = WeightProgramme::parse(QStringLiteral("100:1, 200:2:0.5"));
    ASSERT_TRUE(p);
    p->noise = 5;
    EXPECT_EQ(p->at(0.5).weight, 100);
    EXPECT_FALSE(p->at(1.2).stable);
    EXPECT_TRUE(p->at(1.6).stable);
    EXPECT_EQ(p->at(1.6).weight, 200);
    EXPECT_EQ(p->at(3.5).weight, 100);
    p->loop = false;
    EXPECT_EQ(p->at(100).weight, 200);
    for (const char* bad : {"", "100", "100:0", "a:1", "100:1:-1", "100:1,x"}) {
        QString error;
        EXPECT_FALSE(WeightProgramme::parse(QLatin1String(bad), &error)) << bad;
        EXPECT_FALSE(error.isEmpty());
    }
}
