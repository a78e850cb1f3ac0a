#include "platform/dde_protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace veltrane {
namespace {

TEST(DdeProtocol, ParsesVerbTopicAndItem) {
    struct Case {
        std::string line;
        bool ok;
        DdeVerb verb = DdeVerb::Request;
        std::string topic = {}, item = {};
    };
    const std::vector<Case> cases{
        {"REQUEST veltrane weightdata", true, DdeVerb::Request, "veltrane", "weightdata"},
        {"Advise t i\r", true, DdeVerb::Advise, "t", "i"},
        {"UNADVISE t \xc3\xa9", true, DdeVerb::Unadvise, "t", "\xc3\xa9"},
        // clang-format off
        {"REQUEST t i\r\r", false}, {"REQUEST t", false}, {"REQUEST t ", false}, {" REQUEST t i", false},
        {"REQUEST t i ", false}, {"REQUEST\tt i", false}, {"REQUESTS t i", false}, {"REQ t i", false}, {"", false},
        {"\r", false}, {"REQUEST t i" + std::string(kDdeMaxLine, 'x'), false},
        // clang-format on
    };
    for (const auto& c : cases) {
        const auto got = parseDdeLine(c.line);
        ASSERT_EQ(got.has_value(), c.ok) << c.line.substr(0, 40);
        if (!got) continue;
        EXPECT_EQ(got->verb, c.verb);
        EXPECT_EQ(got->topic, c.topic);
        EXPECT_EQ(got->item, c.item);
    }
}

std::vector<std::string> split(const std::string& stream, std::size_t piece, int stopAfter = -1) {
    DdeLineSplitter splitter;
    std::vector<std::string> events;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        splitter.feed(std::string_view(stream).substr(at, piece), [&](std::optional<std::string_view> line) {
            events.push_back(line ? std::string(*line) : "<too long>");
            return static_cast<int>(events.size()) != stopAfter;
        });
    }
    return events;
}

TEST(DdeProtocol, SplitsLinesTheSameWayHoweverTheBytesArrive) {
    const std::string atLimit(kDdeMaxLine, 'y');
    const std::string stream = "A\n" + std::string(5000, 'x') + "\nB\n\n" + atLimit + "\n" +
                               std::string(kDdeMaxLine + 1, 'z') + "\nC\r\n" + std::string(9000, 't');
    const std::vector<std::string> expected{"A",     "<too long>", "B",   "",
                                            atLimit, "<too long>", "C\r", "<too long>"};
    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{4096},
                              std::size_t{4097}, stream.size()}) {
        EXPECT_EQ(split(stream, piece), expected) << "pieces of " << piece;
    }
    // A dropped client's remaining lines are never answered.
    EXPECT_EQ(split("A\nB\nC\n", 6, 2), (std::vector<std::string>{"A", "B"}));
}

}  // namespace
}  // namespace veltrane
