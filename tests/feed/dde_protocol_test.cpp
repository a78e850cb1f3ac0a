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
        {"REQUEST t i\r\r", false},
        {"REQUEST t", false},
        {"REQUEST t ", false},
        {" REQUEST t i", false},
        {"REQUEST t i ", false},
        {"REQUEST\tt i", false},
        {"REQUESTS t i", false},
        {"REQ t i", false},
        {"", false},
        {"\r", false},
        {"REQUEST t i" + std::string(kDdeMaxLine, 'x'), false},
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

}  // namespace
}  // namespace veltrane
