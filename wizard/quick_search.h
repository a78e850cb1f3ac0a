#pragma once
// The quick search: every baud rate read once at 8N1, for only as long as that rate needs to show two
// records or to prove it cannot, the most common rates first; then the best candidate confirmed at its
// exact setting by two records that hold the sample weight. Polled indicators are asked with read-only
// weight requests only, and only when the caller allows it.

#include "wizard/stream_analysis.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace veltrane {

// The port as the quick search drives it; the wizard and the command-line tool each bring their own.
class QuickLine {
public:
    virtual ~QuickLine() = default;
    // False with error() when the device cannot be opened.
    virtual bool open(const QString& settings) = 0;
    virtual void close() = 0;
    virtual QString error() const = 0;
    // The bytes received since the last call.
    virtual QByteArray take() = 0;
    virtual void write(const QByteArray& bytes) = 0;
    // Lets events run for ms; false when the search is to end.
    virtual bool wait(int ms) = 0;
    virtual qint64 elapsedMs() const = 0;
    // What is being tried now, as "Trying 9600,n,8,1".
    virtual void trying(const QString& what) = 0;
};

struct QuickResult {
    bool found = false;
    bool stopped = false;  // ended by the caller, or the device failed (error())
    QString settings;      // "9600,e,7,1"
    RecordFinding finding;
    QByteArray request;  // the request a polled indicator answered; empty for a continuous one
    QByteArray seen;     // not found: what arrived at the best setting
    QString error;
};

// The rates of the configuration window, the most common first.
const QList<int>& quickSearchBauds();
// How long a baud rate is listened to at most, in ms.
int listenBoundMs(int baud);
// The read-only weight requests tried on a silent line: never a zero, tare, print or setup command.
const QList<QByteArray>& readOnlyRequests();

// weight empty: the settings and delimiter of a repeating record only. timeoutMs bounds the whole run.
QuickResult runQuickSearch(QuickLine& line, const QByteArray& weight, bool probe, int timeoutMs);

}  // namespace veltrane
