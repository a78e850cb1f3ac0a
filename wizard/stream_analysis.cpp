#include "wizard/stream_analysis.h"

#include <QList>

#include <algorithm>
#include <bit>

namespace veltrane {
namespace {

// At a wrong baud rate a few dozen characters are enough to show it.
constexpr qsizetype kJudgeAfter = 24;
constexpr double kTextShare = 0.9;

bool recordCharacter(unsigned char c) {
    return (c >= 0x20 && c < 0x7f) || c == '\r' || c == '\n' || c == '\t' || c == 2 || c == 3 || c == 23;
}

bool oddOnes(unsigned char c) {
    return std::popcount(static_cast<unsigned>(c & 0x7f)) % 2 == 1;
}

QByteArray sevenBits(const QByteArray& bytes) {
    QByteArray out = bytes;
    for (char& c : out) c = static_cast<char>(c & 0x7f);
    return out;
}

QByteArray trimmedBlanks(const QByteArray& s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s[begin] == ' ') ++begin;
    while (end > begin && s[end - 1] == ' ') --end;
    return s.mid(begin, end - begin);
}

// The whole records after `code` as the decoder cuts them: the piece before the first delimiter is a
// record heard from its middle, delimiters in a row end nothing, and the piece after the last is not
// over yet. Each with the offset of the delimiter ending it.
struct Piece {
    QByteArray record;
    qsizetype end;
};
QList<Piece> wholeRecords(const QByteArray& bytes, char code) {
    QList<Piece> out;
    qsizetype from = bytes.indexOf(code);
    if (from < 0) return out;
    for (qsizetype at = bytes.indexOf(code, from + 1); at >= 0; at = bytes.indexOf(code, from + 1)) {
        const QByteArray record = trimmedBlanks(bytes.mid(from + 1, at - from - 1));
        if (!record.isEmpty()) out.append({record, at});
        from = at;
    }
    return out;
}

}  // namespace

StreamStats streamStats(const QByteArray& bytes) {
    StreamStats s;
    s.bytes = bytes.size();
    qsizetype printable = 0;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == 0) ++s.nuls;
        if (c & 0x80) ++s.high;
        if (recordCharacter(c)) ++printable;
    }
    s.printableShare =
        bytes.isEmpty() ? 0 : static_cast<double>(printable) / static_cast<double>(bytes.size());
    return s;
}

std::optional<Frame> frameFromBit7(const QByteArray& bytes) {
    bool none = true, even = true, odd = true, mark = true;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        const bool bit7 = (c & 0x80) != 0;
        none = none && !bit7;
        mark = mark && bit7;
        even = even && bit7 == oddOnes(c);
        odd = odd && bit7 != oddOnes(c);
    }
    if (none) return Frame{'n', 8};
    if (even) return Frame{'e', 7};
    if (odd) return Frame{'o', 7};
    if (mark) return Frame{'m', 7};
    return std::nullopt;
}

QString settingsText(int baud, const Frame& frame) {
    return QStringLiteral("%1,%2,%3,1").arg(baud).arg(QLatin1Char(frame.parity)).arg(frame.dataBits);
}

// A port opened in the middle of a character hears a garbled one first.
static std::optional<Frame> frameOfStream(const QByteArray& bytes) {
    return frameFromBit7(bytes.size() > 16 ? bytes.mid(2) : bytes);
}

std::optional<RecordFinding> findRecord(const QByteArray& received, const QByteArray& weight) {
    const std::optional<Frame> frame = frameOfStream(received);
    if (!frame) return std::nullopt;
    const QByteArray bytes = frame->dataBits == 7 ? sevenBits(received) : received;
    QByteArray earlier;  // the delimiters tried before this one
    for (const DelimiterRow& row : firstPhaseDelimiters()) {
        if (row.autosense) continue;
        const auto code = static_cast<char>(row.code);
        const QList<Piece> records = wholeRecords(bytes, code);
        earlier.append(code);
        // A record holding a delimiter of the table before its own ends there in the designed search:
        // that delimiter's records are the answer, once enough of them have arrived.
        auto fits = [&](const QByteArray& r) {
            return std::all_of(r.begin(), r.end(), [&](char c) {
                return recordCharacter(static_cast<unsigned char>(c)) && !earlier.chopped(1).contains(c);
            });
        };
        for (qsizetype i = 1; i < records.size(); ++i) {
            const QByteArray& a = records[i - 1].record;
            const QByteArray& b = records[i].record;
            if (!fits(a) || !fits(b)) continue;
            RecordFinding f;
            if (weight.isEmpty()) {
                if (a != b) continue;
            } else {
                const std::optional<Match> first = matchRecord(a, weight);
                f.match = matchRecord(b, weight);
                if (!first || !f.match || first->start != f.match->start ||
                    first->reversed != f.match->reversed)
                    continue;
                f.weightLength = static_cast<int>(weight.size());
                f.autosense = AnalyseNumbers(b, weight).oneNumber;
            }
            f.delimiterCode = row.code;
            f.delimiterName = QString::fromLatin1(row.name);
            f.record = b;
            f.period = records[i].end - records[i - 1].end;
            return f;
        }
    }
    return std::nullopt;
}

BaudVerdict judgeBaud(const QByteArray& bytes, const QByteArray& weight) {
    BaudVerdict v;
    const std::optional<Frame> frame = frameOfStream(bytes);
    if (frame) {
        v.frame = *frame;
        v.finding = findRecord(bytes, weight);
        if (v.finding) {
            v.kind = BaudVerdict::Candidate;
            return v;
        }
    }
    if (bytes.size() < kJudgeAfter) return v;
    const StreamStats stats = streamStats(frame && frame->dataBits == 7 ? sevenBits(bytes) : bytes);
    // High bytes that follow no parity rule are no indicator's text; neither is a share of codes that
    // no record is made of.
    if (!frame || stats.printableShare < kTextShare) v.kind = BaudVerdict::NotText;
    return v;
}

QString escapedBytes(const QByteArray& bytes) {
    QString out;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r')
            out += QLatin1String("\\r");
        else if (c == '\n')
            out += QLatin1String("\\n");
        else if (c == '\\')
            out += QLatin1String("\\\\");
        else if (c >= 0x20 && c < 0x7f)
            out += QLatin1Char(static_cast<char>(c));
        else
            out += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
    }
    return out;
}

}  // namespace veltrane
