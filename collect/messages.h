#pragma once
// The messages the collector reads from the sites' topics, and the row digests it checks. Pure.

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace veltrane {

// One weight-log row as a site published it.
struct SiteRow {
    qint64 slno = 0;
    QString weight;
    QString datetime;
    QString digest;  // empty when the site does not chain its rows
};

struct WeighmentMessage {
    QString site;   // the topic the site publishes under
    QString logid;  // empty from a site without log ids
    SiteRow row;
    std::optional<double> value;  // the weight as a number, when the text holds one
    QString unit;                 // "kg", "t", "lb" ... when the text names one
    QByteArray payload;
};

struct EventMessage {
    QString site;
    QString logid;
    qint64 eventid = 0;
    QString time;
    QString kind;
    QByteArray detail;  // JSON
    QString digest;
    std::vector<SiteRow> deleted;  // the rows a "delete" event names
    QByteArray payload;
};

// The site of a message on <site>/<leaf>, and the leaf.
struct TopicParts {
    QString site;
    QString leaf;
};
TopicParts splitTopic(const QByteArray& topic);

// Nothing when the payload is not a weighment of the expected shape.
std::optional<WeighmentMessage> parseWeighment(const QString& site, const QByteArray& payload);
std::optional<EventMessage> parseEvent(const QString& site, const QByteArray& payload);

// "1234.5 kg" -> 1234.5 and "kg"; a decimal comma reads as a point. Nothing for a text without a number.
struct DecodedWeight {
    double value = 0;
    QString unit;
};
std::optional<DecodedWeight> decodeWeight(const QString& text);

// Lowercase hex SHA-256 of logid, slno, weight, datetime and the previous row's digest, each ended by
// a line feed but the last.
QString rowDigest(const QString& logid, const SiteRow& row, const QString& previousDigest);

// The serial numbers, between the lowest and the highest held, that are neither held nor deleted.
// held and deleted ascending.
std::vector<qint64> missingSerials(const std::vector<qint64>& held, const std::vector<qint64>& deleted);

// The serial numbers of the rows whose digest does not follow from their content and the row before
// (held or deleted). A row after a missing one, and the first row, cannot be checked from here, except
// when it starts the log (serial 1, or the first with a digest after rows without).
// rows ascending by slno, deleted rows merged in.
std::vector<qint64> chainBreaks(const QString& logid, const std::vector<SiteRow>& rows);

}  // namespace veltrane
