#pragma once
// A subscriber's request to publish weight-log rows again, on <topic>/resend:
//   {"logid": "<32 hex>", "from": N, "to": M}     an inclusive range of serial numbers
//   {"logid": "<32 hex>", "slno": [N, ...]}       chosen serial numbers
// The request comes from anyone who may publish on the broker, so its shape is checked strictly and
// its cost is bounded: at most kMaxResendRows rows a request, at most one request a second.

#include <QByteArray>
#include <QString>

#include <variant>
#include <vector>

namespace veltrane {

inline constexpr int kMaxResendRows = 1000;
inline constexpr qint64 kResendIntervalMs = 1000;

struct ResendRequest {
    QString logid;
    // Either a range (from <= to) or a list of serial numbers, ascending and without repeats.
    qint64 from = 0;
    qint64 to = -1;
    std::vector<qint64> serials;

    bool isRange() const { return serials.empty(); }
};

// The request, or why it is refused (for the program's log, never sent back).
std::variant<ResendRequest, QString> parseResendRequest(const QByteArray& payload);

// At most one request a second; a refused request does not count.
class ResendLimiter {
public:
    // nowMs: a monotonic clock in milliseconds.
    bool admit(qint64 nowMs);

private:
    qint64 m_last = 0;
    bool m_any = false;
};

}  // namespace veltrane
