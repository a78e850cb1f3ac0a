// The resend requests the broker feed accepts, and its pace.
#include "feeds/mqtt/resend_request.h"

#include <gtest/gtest.h>

using namespace veltrane;

namespace {

TEST(ResendRequest, ShapeAndLimits) {
    const QByteArray id = R"("logid": "0123456789abcdef0123456789abcdef")";
    const struct {
        QByteArray payload;
        qint64 from, to;
        std::vector<qint64> serials;
        bool accepted;
    } cases[] = {
        {"{" + id + R"(, "from": 5, "to": 1004})", 5, 1004, {}, true},
        {"{" + id + R"(, "from": 5, "to": 1005})", 0, 0, {}, false},  // 1001 rows
        {"{" + id + R"(, "slno": [9, 3, 9]})", 0, -1, {3, 9}, true},
        {"{" + id + R"(, "from": 7, "to": 6})", 0, 0, {}, false},
        {"{" + id + R"(, "from": 0, "to": 6})", 0, 0, {}, false},
        {"{" + id + R"(, "from": 1.5, "to": 6})", 0, 0, {}, false},
        {"{" + id + R"(, "from": 1, "to": 6, "slno": [1]})", 0, 0, {}, false},
        {"{" + id + R"(, "to": 6})", 0, 0, {}, false},
        {"{" + id + R"(, "slno": []})", 0, 0, {}, false},
        {"{" + id + R"(, "slno": ["1"]})", 0, 0, {}, false},
        {"{" + id + R"(, "from": 1, "to": 6, "x": 1})", 0, 0, {}, false},
        {R"({"logid": "0123456789ABCDEF0123456789ABCDEF", "from": 1, "to": 6})", 0, 0, {}, false},
        {R"({"from": 1, "to": 6})", 0, 0, {}, false},
        {"[1, 2]", 0, 0, {}, false},
    };
    for (const auto& c : cases) {
        const auto parsed = parseResendRequest(c.payload);
        const auto* request = std::get_if<ResendRequest>(&parsed);
        ASSERT_EQ(request != nullptr, c.accepted) << c.payload.constData();
        if (!request) continue;
        EXPECT_EQ(request->from, c.from);
        EXPECT_EQ(request->to, c.to);
        EXPECT_EQ(request->serials, c.serials);
    }
    QByteArray many = "{" + id + R"(, "slno": [1)";
    for (int i = 2; i <= 1001; ++i) many += ", " + QByteArray::number(i);
    EXPECT_TRUE(std::holds_alternative<QString>(parseResendRequest(many + "]}")));
}

TEST(ResendRequest, OneASecond) {
    ResendLimiter limiter;
    EXPECT_TRUE(limiter.admit(5000));
    EXPECT_FALSE(limiter.admit(5999));
    EXPECT_TRUE(limiter.admit(6000));
}

}  // namespace
