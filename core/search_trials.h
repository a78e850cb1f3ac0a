#pragma once
// What the wizard's protocol search needs of the weighing core while it tries settings on the
// indicator: the decoder's records and log, the weight box, and a wait that lets events run. The
// search reaches nothing else of the core.

#include <QByteArray>

#include <functional>

namespace veltrane {

class SearchTrials {
public:
    virtual ~SearchTrials() = default;
    // While searching, records are decoded and kept but never weighed, and every character heard is
    // logged.
    virtual void setSearching(bool searching) = 0;
    virtual bool searching() const = 0;
    // A trial starts from nothing: no partial record, no last record.
    virtual void startTrial() = 0;
    virtual void forgetLastRecord() = 0;
    virtual QByteArray lastRecord() const = 0;
    virtual QByteArray searchLog() const = 0;
    virtual void appendToSearchLog(const QByteArray& text) = 0;
    virtual void clearSearchLog() = 0;
    // Empties the weight box, and with it the live feeds.
    virtual void clearWeight() = 0;
    // Lets events run for ms, or until stop() turns true (asked after each event).
    virtual void wait(int ms, const std::function<bool()>& stop) = 0;
};

}  // namespace veltrane
