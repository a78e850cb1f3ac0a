#include "core/weight_outputs.h"

#include "tests/core/core_fixture.h"

#include <QDir>

#include <gtest/gtest.h>

#include <poll.h>

using namespace veltrane;
using namespace veltrane::test;

namespace {

// The settings a load would give for the app folder's default row, with the chosen output type.
struct Serving {
    explicit Serving(const QString& typeCode) : fakes(app.path()) {
        s.outputFolder = app.outFolder();
        s.outputTypeCode = typeCode;
        s.csvFilePath = s.outputFolder + QStringLiteral("veltrane.csv");
        s.mdbFilePath = s.outputFolder + QStringLiteral("veltrane.mdb");
        s.outputFilePath = typeCode == QLatin1String("3") ? s.mdbFilePath : s.csvFilePath;
        if (typeCode == QLatin1String("3"))
            QFile::copy(app.path() + QStringLiteral("veltrane.mdb"), s.mdbFilePath);
        outputs.onStatusNote([this](const QString& note) { notes << note; });
    }
    QString serve(const QString& w) { return outputs.ServeWeight(w); }
    QByteArray csv() const { return readFile(s.csvFilePath); }

    AppFolder app;
    FakeServices fakes;
    Settings s;
    Voice voice{s, fakes.services};
    WeightOutputs outputs{s, fakes.services, voice};
    QStringList notes;
};

int openDescriptors() {
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

}  // namespace

TEST(WeightOutputs, CsvBytesAcrossTwoServings) {
    struct Case {
        const char* type;
        QByteArray first;
        QByteArray second;
    };
    const Case cases[] = {
        {"1", "12345.6,2026-03-14 09:30:00\r\n", "980,2026-03-14 09:31:05\r\n"},
        {"2", "Weight,Datetime\r\n12345.6,2026-03-14 09:30:00\r\n",
         "Weight,Datetime\r\n980,2026-03-14 09:31:05\r\n"},
    };
    for (const Case& c : cases) {
        Serving sv(QString::fromLatin1(c.type));
        // Type 2 serves through a link, as into an installed application folder: the link stays.
        const bool throughLink = c.type[0] == '2';
        const QString target = sv.app.path() + QStringLiteral("linked.csv");
        if (throughLink) QFile::link(target, sv.s.csvFilePath);
        EXPECT_EQ(sv.serve(QStringLiteral("12345.6")), QString());
        EXPECT_EQ(sv.csv(), c.first) << c.type;
        sv.fakes.clock.advanceSeconds(65);
        EXPECT_EQ(sv.serve(QStringLiteral("980")), QString());
        EXPECT_EQ(sv.csv(), c.second) << c.type;
        EXPECT_EQ(QFileInfo(sv.s.csvFilePath).isSymLink(), throughLink);
        EXPECT_EQ(readFile(target), throughLink ? c.second : QByteArray("<missing>"));
        EXPECT_EQ(sv.notes, QStringList(2, QStringLiteral("   CSV file updated.")));
        EXPECT_EQ(sv.app.weightLogRows(), 2) << c.type;
        EXPECT_FALSE(QFile::exists(sv.s.mdbFilePath)) << "a CSV serving touches no export database";
        // No temporary file is left beside the CSV file.
        EXPECT_EQ(QDir(sv.s.outputFolder).entryList(QDir::Files | QDir::Hidden), QStringList{"veltrane.csv"});
    }
}

TEST(WeightOutputs, ExportDatabaseHoldsTheLatestServingOnly) {
    Serving sv(QStringLiteral("3"));
    for (const char* w : {"1500", "2500.5", "3500"}) {
        EXPECT_EQ(sv.serve(QString::fromLatin1(w)), QString());
        sv.fakes.clock.advanceSeconds(1);
    }
    auto rs =
        Database::open(sv.s.mdbFilePath, QString())->openRecordSet(QStringLiteral("select * from weightlog"));
    ASSERT_EQ(rs->recordCount(), 1);
    rs->moveFirst();
    EXPECT_EQ(rs->field(QStringLiteral("weight")).toString(), QStringLiteral("3500"));
    EXPECT_EQ(rs->field(QStringLiteral("Datetime")).toString(), QStringLiteral("2026-03-14 09:30:02"));
    EXPECT_EQ(sv.notes, QStringList(3, QStringLiteral("   MDB file updated.")));
    EXPECT_EQ(sv.app.weightLogRows(), 3);
    EXPECT_FALSE(QFile::exists(sv.s.csvFilePath));

    auto log = sv.app.settingsDb()->openRecordSet(QStringLiteral("select * from weightlog order by slno"));
    log->moveLast();
    EXPECT_EQ(log->field(QStringLiteral("weight")).toString(), QStringLiteral("3500"));
    EXPECT_EQ(log->field(QStringLiteral("Datetime")).toString(), QStringLiteral("2026-03-14 09:30:02"));
}

TEST(WeightOutputs, ClipboardAndVoiceFollowTheLog) {
    struct Case {
        bool clipboard;
        bool stamp;
        QString text;
    };
    const Case cases[] = {
        {true, false, "12345.6"}, {true, true, "12345.6,2026-03-14 09:30:00"}, {false, true, "<untouched>"}};
    for (const Case& c : cases) {
        Serving sv(QStringLiteral("2"));
        sv.s.OutputClipboard = c.clipboard;
        sv.s.appendTimeStamp = c.stamp;
        sv.s.activateVoiceAlert = true;
        sv.s.voicealertnormal = true;
        sv.serve(QStringLiteral("12345.6"));
        EXPECT_EQ(sv.fakes.clipboard.text, c.text);
        EXPECT_EQ(sv.fakes.sound.played.size(), 7);
    }
}

TEST(WeightOutputs, FailingWeightLogEndsTheServing) {
    Serving sv(QStringLiteral("2"));
    sv.s.OutputClipboard = true;
    sv.s.activateVoiceAlert = true;
    sv.s.voicealertnormal = true;
    sv.app.settingsDb()->execute(QStringLiteral("alter table weightlog rename to gone"));
    const QString error = sv.serve(QStringLiteral("700"));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(sv.fakes.clipboard.text, QStringLiteral("<untouched>"));
    EXPECT_TRUE(sv.fakes.sound.played.isEmpty());
    EXPECT_TRUE(sv.csv().startsWith("Weight,Datetime\r\n700,"))
        << "the file was written before the log failed";

    // The log is opened afresh after a failure: once the table is back, servings are logged again.
    sv.app.settingsDb()->execute(QStringLiteral("alter table gone rename to weightlog"));
    EXPECT_EQ(sv.serve(QStringLiteral("800")), QString());
    EXPECT_EQ(sv.app.weightLogRows(), 1);
    EXPECT_EQ(sv.fakes.clipboard.text, QStringLiteral("800"));
}

TEST(WeightOutputs, LockedCsvAsksUntilNo) {
    for (LockHolder::Kind kind : {LockHolder::Flock, LockHolder::Fcntl}) {
        // Yes retries: the other program lets go while the question is on the screen.
        Serving yes(QStringLiteral("1"));
        yes.serve(QStringLiteral("100"));
        {
            LockHolder holder(yes.s.csvFilePath, kind);
            ASSERT_TRUE(holder.locked());
            yes.fakes.prompts.yesNoAnswers = {true, true};
            int asked = 0;
            yes.fakes.prompts.whileModal = [&] {
                if (++asked == 2) holder.release();
            };
            EXPECT_EQ(yes.serve(QStringLiteral("200")), QString());
        }
        const QString question = QStringLiteral("ask: Export file ") + yes.s.csvFilePath +
                                 QStringLiteral(" is locked by another user. Try again?");
        EXPECT_EQ(yes.fakes.prompts.log, QStringList(2, question));
        EXPECT_TRUE(yes.csv().startsWith("200,"));
        EXPECT_EQ(yes.app.weightLogRows(), 2);

        // No gives up the file only; the weight log still grows.
        Serving no(QStringLiteral("1"));
        no.serve(QStringLiteral("100"));
        LockHolder holder(no.s.csvFilePath, kind);
        no.fakes.prompts.yesNoAnswers = {false};
        no.s.OutputClipboard = true;
        EXPECT_EQ(no.serve(QStringLiteral("300")), QString());
        EXPECT_EQ(no.fakes.prompts.log.size(), 1);
        EXPECT_TRUE(no.csv().startsWith("100,"));
        EXPECT_EQ(no.app.weightLogRows(), 2);
        EXPECT_EQ(no.fakes.clipboard.text, QStringLiteral("300"));
    }
}

TEST(WeightOutputs, FailedWriteLeavesNothingOpenOrBehind) {
    Serving sv(QStringLiteral("2"));
    const int before = openDescriptors();
    // A folder where the file should be: every write fails.
    QDir().mkpath(sv.s.csvFilePath);
    for (int i = 0; i < 50; ++i)
        EXPECT_FALSE(sv.outputs.WriteCsvFile(QStringLiteral("1"), QStringLiteral("t")));
    sv.s.csvFilePath = sv.app.path() + QStringLiteral("missing/veltrane.csv");
    EXPECT_FALSE(sv.outputs.WriteCsvFile(QStringLiteral("1"), QStringLiteral("t")));
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(QDir(sv.s.outputFolder).entryList(QDir::Files | QDir::Hidden), QStringList{});
    EXPECT_TRUE(sv.notes.isEmpty());
}

TEST(WeightOutputs, ReaderNeverSeesAPartialFile) {
    Serving sv(QStringLiteral("2"));
    sv.serve(QStringLiteral("1"));
    const QByteArray path = QFile::encodeName(sv.s.csvFilePath);

    // A separate program reads the file as fast as it can until told to stop, and reports how many
    // reads it made and how many were not a whole file.
    int stop[2], result[2];
    ASSERT_EQ(::pipe(stop), 0);
    ASSERT_EQ(::pipe(result), 0);
    const pid_t reader = ::fork();
    if (reader == 0) {
        ::close(stop[1]);
        ::close(result[0]);
        long reads = 0, bad = 0;
        char buf[256];
        for (;;) {
            pollfd p{stop[0], POLLIN, 0};
            if (::poll(&p, 1, 0) > 0) break;
            const int fd = ::open(path.constData(), O_RDONLY);
            if (fd < 0) {
                ++bad;
                ++reads;
                continue;
            }
            const ssize_t n = ::read(fd, buf, sizeof buf);
            ::close(fd);
            ++reads;
            const QByteArray content(buf, n < 0 ? 0 : static_cast<int>(n));
            const bool whole = content.startsWith("Weight,Datetime\r\n") && content.endsWith("\r\n") &&
                               content.count('\n') == 2 && content.contains(",2026-");
            if (!whole) ++bad;
        }
        const long out[2] = {reads, bad};
        if (::write(result[1], out, sizeof out) != sizeof out) ::_exit(1);
        ::_exit(0);
    }
    ::close(stop[0]);
    ::close(result[1]);
    for (int i = 0; i < 1000; ++i) {
        sv.fakes.clock.advanceSeconds(1);
        ASSERT_EQ(sv.serve(QString::number(1000 + i * 7.5)), QString());
    }
    ::close(stop[1]);
    long out[2] = {0, 0};
    ASSERT_EQ(::read(result[0], out, sizeof out), static_cast<ssize_t>(sizeof out));
    ::waitpid(reader, nullptr, 0);
    EXPECT_GT(out[0], 0);
    EXPECT_EQ(out[1], 0) << "of " << out[0] << " reads";
    EXPECT_EQ(sv.app.weightLogRows(), 1001);
}

TEST(WeightOutputs, TheWeightLogHoldsTheWeighmentBeforeTheOutputFileIsReplaced) {
    // A program killed while the output file is being replaced (here: held there by a lock question)
    // must already have logged the weighment the receiving program may get.
    Serving sv(QStringLiteral("2"));
    sv.serve(QStringLiteral("100"));
    LockHolder holder(sv.s.csvFilePath, LockHolder::Flock);
    ASSERT_TRUE(holder.locked());
    sv.fakes.prompts.yesNoAnswers = {true};
    int rowsWhileAsking = -1;
    sv.fakes.prompts.whileModal = [&] {
        rowsWhileAsking = sv.app.weightLogRows();
        holder.release();
    };
    EXPECT_EQ(sv.serve(QStringLiteral("200")), QString());
    EXPECT_EQ(rowsWhileAsking, 2);
    EXPECT_TRUE(sv.csv().startsWith("Weight,Datetime\r\n200,"));
}
