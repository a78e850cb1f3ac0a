#include "platform/dde_protocol.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace veltrane {
namespace {

bool sameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

// Bytes from 0x80 up are allowed: names are UTF-8.
bool isNameByte(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u != 0x7F;
}

// Splits off the next word ended by one blank or the end of the line; empty when there is none.
std::string_view nextWord(std::string_view& rest) {
    const std::size_t end = std::min(rest.find(' '), rest.size());
    const std::string_view word = rest.substr(0, end);
    rest.remove_prefix(end == rest.size() ? end : end + 1);
    return word;
}

}  // namespace

std::optional<DdeCommand> parseDdeLine(std::string_view line) {
    if (line.size() > kDdeMaxLine) return std::nullopt;
    // Clients typing through a terminal or a Windows tool end lines with CR LF.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    std::string_view rest = line;
    const std::string_view verbWord = nextWord(rest);
    const std::string_view topic = nextWord(rest);
    const std::string_view item = rest;
    if (topic.empty() || item.empty()) return std::nullopt;
    if (!std::all_of(topic.begin(), topic.end(), isNameByte) ||
        !std::all_of(item.begin(), item.end(), isNameByte))
        return std::nullopt;

    static constexpr std::array<std::pair<std::string_view, DdeVerb>, 3> verbs{
        {{"REQUEST", DdeVerb::Request}, {"ADVISE", DdeVerb::Advise}, {"UNADVISE", DdeVerb::Unadvise}}};
    for (const auto& [name, verb] : verbs)
        if (sameLetters(verbWord, name)) return DdeCommand{verb, topic, item};
    return std::nullopt;
}

bool DdeLineSplitter::feed(std::string_view bytes, const Handler& handle) {
    while (!m_stopped && !bytes.empty()) {
        const std::size_t nl = bytes.find('\n');
        const bool ends = nl != std::string_view::npos;
        const std::string_view part = bytes.substr(0, nl);
        bytes.remove_prefix(ends ? nl + 1 : bytes.size());
        if (m_skipping) {
            m_skipping = !ends;
        } else if (m_pending.size() + part.size() > kDdeMaxLine) {
            m_pending.clear();
            m_skipping = !ends;
            m_stopped = !handle(std::nullopt);
        } else if (!ends) {
            m_pending.append(part);
        } else if (m_pending.empty()) {
            m_stopped = !handle(part);
        } else {
            const std::string line = std::move(m_pending.append(part));
            m_pending.clear();
            m_stopped = !handle(line);
        }
    }
    return !m_stopped;
}

}  // namespace veltrane
