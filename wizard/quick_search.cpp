#include "wizard/quick_search.h"

namespace veltrane {
namespace {

constexpr int kStepMs = 20;
// Opening and the first character take a moment on any line; two records of up to 100 characters and
// a record's gap then take their time at the rate's speed.
constexpr int kBaseListenMs = 600;
constexpr int kCharactersToListen = 250;
// An asked indicator answers at once; one frame of up to 40 characters then takes its time.
constexpr int kBaseAnswerMs = 150;
constexpr int kAnswerCharacters = 40;
constexpr int kRequestEveryMs = 120;

int charactersMs(int baud, int characters) {
    return characters * 10 * 1000 / baud;  // ten bits a character at most at 8N1
}

struct Heard {
    QByteArray bytes;
    BaudVerdict verdict;
    bool stopped = false;
};

// Until the verdict is in or boundMs is over; a request, when given, is sent again and again.
Heard listen(QuickLine& line, int boundMs, const QByteArray& weight, const QByteArray& request) {
    Heard h;
    const qint64 start = line.elapsedMs();
    qint64 lastRequest = -kRequestEveryMs;
    while (line.elapsedMs() - start < boundMs) {
        if (!request.isEmpty() && line.elapsedMs() - lastRequest >= kRequestEveryMs) {
            line.write(request);
            lastRequest = line.elapsedMs();
        }
        if (!line.wait(kStepMs)) {
            h.stopped = true;
            return h;
        }
        h.bytes += line.take();
        h.verdict = judgeBaud(h.bytes, weight);
        if (h.verdict.kind != BaudVerdict::Listening) break;
    }
    return h;
}

}  // namespace

const QList<int>& quickSearchBauds() {
    static const QList<int> bauds{9600, 19200, 4800, 2400, 1200, 38400, 57600, 115200, 600, 300};
    return bauds;
}

int listenBoundMs(int baud) {
    return kBaseListenMs + charactersMs(baud, kCharactersToListen);
}

const QList<QByteArray>& readOnlyRequests() {
    // Weight requests of the common polled families, each bare, with CR and with CR LF.
    static const QList<QByteArray> requests = [] {
        QList<QByteArray> out;
        for (const QByteArray& r :
             {QByteArray("\x05"), QByteArray("$"), QByteArray("?"), QByteArray("W"), QByteArray("SI")})
            for (const char* end : {"", "\r", "\r\n"}) out.append(r + end);
        return out;
    }();
    return requests;
}

QuickResult runQuickSearch(QuickLine& line, const QByteArray& weight, bool probe, int timeoutMs) {
    QuickResult result;
    double bestShare = -1;
    auto openAt = [&](const QString& settings) {
        line.close();
        if (line.open(settings)) return true;
        result.stopped = true;
        result.error = line.error();
        return false;
    };
    auto remember = [&](const QByteArray& bytes) {
        const double share = bytes.isEmpty() ? -1 : streamStats(bytes).printableShare;
        if (share > bestShare) {
            bestShare = share;
            result.seen = bytes;
        }
    };

    for (const int baud : quickSearchBauds()) {
        if (line.elapsedMs() >= timeoutMs) break;
        const QString wide = QStringLiteral("%1,n,8,1").arg(baud);
        line.trying(QStringLiteral("Trying %1").arg(wide));
        if (!openAt(wide)) return result;
        Heard heard = listen(line, listenBoundMs(baud), weight, {});
        if (heard.stopped) {
            result.stopped = true;
            break;
        }
        QByteArray request;
        if (heard.bytes.isEmpty() && probe) {
            for (const QByteArray& r : readOnlyRequests()) {
                line.trying(QStringLiteral("Asking at %1 with \"%2\"").arg(wide, escapedBytes(r)));
                line.write(r);
                heard = listen(line, kBaseAnswerMs + charactersMs(baud, kAnswerCharacters), weight, {});
                if (heard.stopped) {
                    result.stopped = true;
                    break;
                }
                if (!heard.bytes.isEmpty()) {
                    request = r;
                    heard = listen(line, listenBoundMs(baud), weight, r);
                    break;
                }
            }
            if (result.stopped) break;
        }
        remember(heard.bytes);
        if (heard.verdict.kind != BaudVerdict::Candidate) continue;

        // The 8N1 read told the frame; the exact setting must give the weight again by itself.
        const QString exact = settingsText(baud, heard.verdict.frame);
        line.trying(QStringLiteral("Confirming %1").arg(exact));
        if (!openAt(exact)) return result;
        const Heard confirm = listen(line, listenBoundMs(baud), weight, request);
        if (confirm.stopped) {
            result.stopped = true;
            break;
        }
        const std::optional<RecordFinding>& f = confirm.verdict.finding;
        if (confirm.verdict.kind == BaudVerdict::Candidate && confirm.verdict.frame == Frame{} && f &&
            f->delimiterCode == heard.verdict.finding->delimiterCode && (weight.isEmpty() || f->match)) {
            result.found = true;
            result.settings = exact;
            result.finding = *f;
            result.request = request;
            break;
        }
        remember(confirm.bytes);
    }
    line.close();
    return result;
}

}  // namespace veltrane
