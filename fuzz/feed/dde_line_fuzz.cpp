// Feeds arbitrary bytes, cut into pieces at places the input itself chooses, through the splitter and
// the parser, and checks what a server relies on: every "\n" ends exactly one event, no line exceeds the
// limit or holds a "\n", and a parsed command's names are non-empty, blank-free views into its line.
#include "platform/dde_protocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

using namespace veltrane;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool isName(std::string_view s) {
    return !s.empty() && std::none_of(s.begin(), s.end(), [](char c) {
        return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F;
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // The first byte picks the piece size, so one input explores one way of arriving.
    const std::size_t piece = 1 + data[0] * 37u;
    const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);

    DdeLineSplitter splitter;
    std::size_t events = 0, overlong = 0;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        splitter.feed(stream.substr(at, piece), [&](std::optional<std::string_view> line) {
            ++events;
            if (!line) {
                ++overlong;
                return true;
            }
            check(line->size() <= kDdeMaxLine);
            check(line->find('\n') == std::string_view::npos);
            if (const auto command = parseDdeLine(*line)) {
                check(isName(command->topic) && isName(command->item));
                check(command->topic.data() >= line->data() &&
                      command->item.data() + command->item.size() <= line->data() + line->size());
            }
            return true;
        });
    }
    const auto newlines = static_cast<std::size_t>(std::count(stream.begin(), stream.end(), '\n'));
    // One event per "\n"; an unfinished overlong tail adds its one refusal.
    const std::size_t afterLast =
        stream.size() - (stream.rfind('\n') == std::string_view::npos ? 0 : stream.rfind('\n') + 1);
    check(events == newlines + (afterLast > kDdeMaxLine ? 1 : 0));
    check(overlong <= events);

    // The parser alone, on the whole input as one line.
    if (const auto command = parseDdeLine(stream)) check(isName(command->topic) && isName(command->item));
    return 0;
}
