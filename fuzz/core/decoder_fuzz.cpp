// Random settings, then random bytes through the decoder one character at a time, as the port
// delivers them. What the rest of the program relies on: the weight box always holds a number text
// (or nothing), the last record is a piece of what arrived, and the buffer never outgrows the input.
// The run uses a decimal-comma locale where one is installed, as a Qt application would take it from
// the environment: every weight text, and what the weighment cycle serves, must still read back as a
// number with ".".
#include "config/numbers.h"
#include "core/decoder.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace veltrane;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// The whole text is one number in the C form, read without the locale; its value is returned.
double parsesBack(const QString& text) {
    const std::string s = text.toStdString();
    check(s.find(',') == std::string::npos);
    double value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    check(ec == std::errc() && end == s.data() + s.size());
    return value;
}

struct Host final : DecoderHost {
    explicit Host(FuzzedDataProvider& in) : input(in) {}
    void showRawData(const QByteArray& buffer) override { check(buffer.size() <= limit); }
    void setWeightText(const QString& text) override {
        check(text.isEmpty() || isNumeric(text));
        if (!text.isEmpty()) parsesBack(text);
        weight = text;
    }
    QString weightText() const override { return weight; }
    // A refused reading keeps the buffer: the input decides, as the clock would.
    bool weighmentStep(float w) override {
        // The text the weighment cycle serves for this reading.
        const double served = parsesBack(numberTextSingle(w));
        check(std::isfinite(w) ? std::fabs(served - w) <= std::fabs(w) * 1e-6 : served == 0);
        return input.remaining_bytes() == 0 || input.ConsumeBool();
    }
    FuzzedDataProvider& input;
    QString weight;
    qsizetype limit = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        std::fputs(
            "decoder_fuzz: de_DE.UTF-8 is not installed (scripts/setup.sh makes it); the C locale is used\n",
            stderr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Settings s;
    s.simpinterface = in.ConsumeBool();
    s.delimiterCode = in.ConsumeIntegralInRange<std::int16_t>(-1, 255);
    s.weightstart = in.ConsumeIntegral<std::int16_t>();
    s.weightLength = in.ConsumeIntegral<std::int16_t>();
    s.reverseweight = in.ConsumeBool();
    s.iNSERTDECIMALS = in.ConsumeBool();
    s.decimalDivisor = decimalDivisorFor(in.ConsumeIntegralInRange<std::int64_t>(-2, 10));
    const std::string bytes = in.ConsumeRandomLengthString(4096);

    Host host(in);
    host.limit = static_cast<qsizetype>(bytes.size());
    Decoder decoder(s, host);
    for (const char c : bytes) {
        decoder.DecodeCharacter(QByteArray(1, c));
        check(decoder.lastRecord().size() <= host.limit);
    }
    return 0;
}
