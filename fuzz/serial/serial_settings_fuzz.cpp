// Any text through the settings parser: accepted settings are within the ranges the port can set, and
// their own text reads back as the same settings; a refusal always says why.
#include "platform/serial_port.h"

#include <cstdint>
#include <cstdlib>

using namespace veltrane;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString why;
    const auto settings = SerialSettings::parse(text, &why);
    if (!settings) {
        check(!why.isEmpty());
        return 0;
    }
    check(settings->baud > 0);
    check(QByteArrayView("neoms").contains(settings->parity));
    check(settings->dataBits >= 5 && settings->dataBits <= 8);
    check(settings->stopBits >= 1 && settings->stopBits <= 3);
    const auto again = SerialSettings::parse(settings->text());
    check(again && *again == *settings);
    return 0;
}
