#pragma once
// The live feed's line grammar, kept free of sockets so it can be tested and fuzzed on its own.
//   line    = verb SP topic SP item [CR]      (the "\n" is already removed)
//   verb    = "REQUEST" | "ADVISE" | "UNADVISE"   (any letter case)
// Topic and item are non-empty and contain no blank or control character; anything else is a bad request.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace veltrane {

// A line longer than this (without its "\n") is refused whole, however it ends.
inline constexpr std::size_t kDdeMaxLine = 4096;

enum class DdeVerb { Request, Advise, Unadvise };

struct DdeCommand {
    DdeVerb verb;
    std::string_view topic;  // views into the parsed line
    std::string_view item;
};

std::optional<DdeCommand> parseDdeLine(std::string_view line);

// Cuts one client's byte stream, arriving in pieces of any size, into lines. Memory stays within one
// line's limit whatever the client sends: an overlong line is reported once, as soon as it is known to be
// too long, and the rest of it up to its "\n" is skipped. A line left unfinished at disconnect is dropped.
class DdeLineSplitter {
public:
    // Called with each whole line (without "\n"), or with nothing for an overlong one, in stream order.
    // Returning false stops the splitter for good: the client is being dropped.
    using Handler = std::function<bool(std::optional<std::string_view>)>;

    bool feed(std::string_view bytes, const Handler& handle);

private:
    std::string m_pending;
    bool m_skipping = false;
    bool m_stopped = false;
};

}  // namespace veltrane
