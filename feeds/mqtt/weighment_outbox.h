#pragma once
// Which weight-log rows the broker still has to receive, in serial-number order. The weight log is the
// queue: a row is sent once it is on disk, and the durable mark (feeds.mqttacked) says up to where the
// broker has acknowledged every row. After a lost connection or a restart everything above the mark is
// sent again, so delivery is at least once and never out of order.

#include "core/weight_feed.h"
#include "platform/database.h"

#include <QString>

#include <deque>
#include <vector>

namespace veltrane {

class WeighmentOutbox {
public:
    // window: how many rows may wait for their acknowledgement at once.
    WeighmentOutbox(Database& db, int window);

    // Reads the mark. A mark above the weight log's numbering (a log restored from an older copy, or
    // emptied by hand) would hide the next rows, and reusing serial numbers the broker already carried
    // would make subscribers drop them as repeats: the log's numbering is moved on past the mark
    // instead. Returns a note for the operator when that happened, else an empty text. Throws DbError.
    QString open();

    qint64 acknowledged() const { return m_acked; }
    int inFlight() const { return int(m_inFlight.size()); }

    // A new connection: every row not yet acknowledged goes again, from the mark.
    void restart();
    // The rows to send now, oldest first: those above the last one handed out, as many as the window
    // has room for. Rows deleted from the log meanwhile are simply not there. Throws DbError.
    std::vector<ServedWeighment> takeNext();
    // The broker acknowledged a row handed out since the last restart. True when the mark moved: it
    // moves only over a run of acknowledged rows, never past one still waiting.
    bool acknowledge(qint64 slno);
    // The library refused to send the row handed out with this number: it and every row handed out
    // after it go again at the next takeNext().
    void handBack(qint64 slno);
    // Writes the mark when it moved since it was last written. Throws DbError.
    void persist();

private:
    struct Sent {
        qint64 slno;
        bool acked;
    };
    Database& m_db;
    int m_window;
    QString m_logId;
    qint64 m_acked = 0;
    qint64 m_written = 0;
    qint64 m_lastSent = 0;
    std::deque<Sent> m_inFlight;
};

}  // namespace veltrane
