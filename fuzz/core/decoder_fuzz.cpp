// Random settings, then random bytes through the decoder one character at a time, as the port
// delivers them. What the rest of the program relies on: the weight box always holds a number text
// (or nothing), the last record is a piece of what arrived, and the buffer never outgrows the input.
#include "config/numbers.h"
#include "core/decoder.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

using namespace veltrane;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

struct Host final : DecoderHost {
    explicit Host(FuzzedDataProvider& in) : input(in) {}
    void showRawData(const QByteArray& buffer) override { check(buffer.size() <= limit); }
    void setWeightText(const QString& text) override {
        check(text.isEmpty() || isNumeric(text));
        weight = text;
    }
    QString weightText() const override { return weight; }
    // A refused reading keeps the buffer: the input decides, as the clock would.
    bool weighmentStep(float) override { return input.remaining_bytes() == 0 || input.ConsumeBool(); }
    FuzzedDataProvider& input;
    QString weight;
    qsizetype limit = 0;
};

}  // namespace

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
        check(decoder.lastRecord.size() <= host.limit);
    }
    return 0;
}
