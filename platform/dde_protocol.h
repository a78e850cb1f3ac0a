#pragma once
// The live feed's line grammar, kept free of sockets so it can be tested and fuzzed on its own.
//   line    = verb SP topic SP item [CR]      (the "\n" is already removed)
//   verb    = "REQUEST" | "ADVISE" | "UNADVISE"   (any letter case)
// Topic and item are non-empty and contain no blank or control character; anything else is a bad request.

#include <cstddef>
#include <optional>
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

}  // namespace veltrane
