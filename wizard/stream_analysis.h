#pragma once
// What the bytes heard at one line setting say about the indicator behind it: whether they are text at
// all, which frame the parity in bit 7 tells, the record that repeats and its delimiter, and where the
// sample weight sits in it. Pure functions over bytes: no port, no timing.

#include "wizard/protocol_rules.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace veltrane {

struct StreamStats {
    qsizetype bytes = 0;
    double printableShare = 0;  // printable ASCII and the control codes records are made of
    qsizetype nuls = 0;         // framing errors of a receiver slower than the sender
    qsizetype high = 0;         // bit 7 set
};
StreamStats streamStats(const QByteArray& bytes);

// The frame that an 8N1 read of 7-bit characters tells: parity in bit 7. All of bit 7 clear reads as
// 8 data bits without parity, which receives space parity and two stop bits just as cleanly.
struct Frame {
    char parity = 'n';
    int dataBits = 8;
    bool operator==(const Frame&) const = default;
};
// Nothing when bit 7 follows no parity rule: 8-bit data, or garbage.
std::optional<Frame> frameFromBit7(const QByteArray& bytes);
// "9600,e,7,1": one stop bit, which reads two as well.
QString settingsText(int baud, const Frame& frame);

struct RecordFinding {
    int delimiterCode = 0;
    QString delimiterName;  // as stored ("CR", "ETX", ...)
    QByteArray record;      // as the decoder keeps it: between delimiters, blanks trimmed
    qsizetype period = 0;   // bytes from one delimiter to the next
    // With a sample weight: where the designed match test finds it, and whether Autosense reads it.
    std::optional<Match> match;
    int weightLength = 0;
    bool autosense = false;
};
// The first delimiter of the designed table after which two whole records in a row agree: the same
// text, or, with a sample weight, both holding it at the same place. Bytes of a 7-bit frame are taken
// with bit 7 cleared.
std::optional<RecordFinding> findRecord(const QByteArray& bytes, const QByteArray& weight);

// One baud rate read at 8N1, so far.
struct BaudVerdict {
    enum Kind { Listening, NotText, Candidate } kind = Listening;
    Frame frame;
    std::optional<RecordFinding> finding;
};
// NotText as soon as the bytes cannot be an indicator's records at this baud; Candidate once two
// records agree and the frame is told.
BaudVerdict judgeBaud(const QByteArray& bytes, const QByteArray& weight);

// What arrived, for a person to read: printable ASCII as it is, the rest as \r \n \xNN.
QString escapedBytes(const QByteArray& bytes);

}  // namespace veltrane
