#include "core/weight_outputs.h"

#include "config/chain_check.h"
#include "config/weight_chain.h"
#include "tests/core/core_fixture.h"

#include <QRegularExpression>

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstring>
#include <functional>

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

ino_t inodeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

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
        EXPECT_EQ(sv.serve(QStringLiteral("12345.6")), QString());
        EXPECT_EQ(sv.csv(), c.first) << c.type;
        const ino_t before = inodeOf(sv.s.csvFilePath);
        sv.fakes.clock.advanceSeconds(65);
        EXPECT_EQ(sv.serve(QStringLiteral("980")), QString());
        EXPECT_EQ(sv.csv(), c.second) << c.type;
        // A new file renamed over the old one: a reader sees one content or the other, never a mix.
        EXPECT_NE(inodeOf(sv.s.csvFilePath), before) << c.type;
        EXPECT_EQ(sv.notes, QStringList(2, QStringLiteral("   CSV file updated.")));
        EXPECT_EQ(sv.app.weightLogRows(), 2) << c.type;
        EXPECT_FALSE(QFile::exists(sv.s.mdbFilePath)) << "a CSV serving touches no export database";
        // No temporary file is left beside the CSV file.
        EXPECT_EQ(QDir(sv.s.outputFolder).entryList(QDir::Files | QDir::Hidden),
                  (QStringList{"keep.txt", "veltrane.csv"}));
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
            // A program killed while the question is on the screen has already logged the weighment the
            // receiving program may get.
            QList<int> rowsWhileAsking;
            yes.fakes.prompts.whileModal = [&] {
                rowsWhileAsking << yes.app.weightLogRows();
                if (rowsWhileAsking.size() == 2) holder.release();
            };
            EXPECT_EQ(yes.serve(QStringLiteral("200")), QString());
            EXPECT_EQ(rowsWhileAsking, (QList<int>{2, 2}));
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
        EXPECT_EQ(sv.outputs.WriteCsvFile(QStringLiteral("1"), QStringLiteral("t")),
                  WeightOutputs::CsvWrite::Failed);
    sv.s.csvFilePath = sv.app.path() + QStringLiteral("missing/veltrane.csv");
    QString error;
    EXPECT_EQ(sv.outputs.WriteCsvFile(QStringLiteral("1"), QStringLiteral("t"), &error),
              WeightOutputs::CsvWrite::Failed);
    EXPECT_EQ(error, QString::fromLocal8Bit(std::strerror(ENOENT)));
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(QDir(sv.s.outputFolder).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.txt"});
    EXPECT_TRUE(sv.notes.isEmpty());
}

// ---- The CSV file among its neighbours: links, folders that refuse new files, leftovers, failing disks.

namespace {

QStringList hidden(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral(".*")},
                                  QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Folder permissions bind root only through another user: as root, fn runs in a child as "nobody".
uid_t unprivilegedUid() {
    const passwd* nobody = ::getpwnam("nobody");
    return ::geteuid() != 0 ? ::geteuid() : nobody ? nobody->pw_uid : 65534;
}
int asUnprivileged(const std::function<int()>& fn) {
    if (::geteuid() != 0) return fn();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const uid_t uid = unprivilegedUid();
        ::_exit(::setgroups(0, nullptr) == 0 && ::setgid(uid) == 0 && ::setuid(uid) == 0 ? fn() : 100);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Mounts made in a mount namespace of this thread's own go with the process, whatever happens.
bool mountHere(const QString& target, const char* type, const char* source, unsigned long flags,
               const char* data) {
    static const bool isolated =
        ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    const QByteArray path = QFile::encodeName(target);
    return isolated && ::mount(source, path.constData(), type, flags, data) == 0 &&
           (!(flags & MS_BIND) ||
            ::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | flags, nullptr) == 0);
}

}  // namespace

TEST(WeightOutputs, ALinkedCsvFileStaysALinkAndTheFileItNamesIsReplaced) {
    struct Case {
        const char* link;    // what veltrane.csv (in out/) points to
        const char* target;  // the file that gets the content, in the app folder
    };
    const Case cases[] = {{"../share/erp.csv", "share/erp.csv"},
                          {"middle.csv", "share/erp.csv"},  // out/middle.csv -> <app>/share/erp.csv
                          {"../share/new.csv", "share/new.csv"}};
    for (const Case& c : cases) {
        Serving sv(QStringLiteral("2"));
        const QString app = sv.app.path();
        QDir().mkpath(app + QStringLiteral("share"));
        QFile(app + QStringLiteral("share/erp.csv")).open(QIODevice::WriteOnly);
        QFile::link(app + QStringLiteral("share/erp.csv"), sv.s.outputFolder + QStringLiteral("middle.csv"));
        ASSERT_EQ(::symlink(c.link, QFile::encodeName(sv.s.csvFilePath).constData()), 0);
        EXPECT_EQ(sv.serve(QStringLiteral("12345.6")), QString()) << c.link;
        EXPECT_EQ(sv.serve(QStringLiteral("980")), QString()) << c.link;
        EXPECT_TRUE(QFileInfo(sv.s.csvFilePath).isSymLink()) << c.link;
        EXPECT_EQ(readFile(app + QLatin1String(c.target)), "Weight,Datetime\r\n980,2026-03-14 09:30:00\r\n")
            << c.link;
        EXPECT_EQ(hidden(app + QStringLiteral("share")) + hidden(sv.s.outputFolder), QStringList{}) << c.link;
    }
}

TEST(WeightOutputs, AFolderThatRefusesNewFilesStillGetsItsWritableFileRewritten) {
    for (const mode_t fileMode : {0644, 0444}) {  // written in place; refused with the system's words
        Serving sv(QStringLiteral("1"));
        ASSERT_EQ(sv.outputs.WriteCsvFile(QStringLiteral("100"), QStringLiteral("t")),
                  WeightOutputs::CsvWrite::Written);
        const QByteArray csv = QFile::encodeName(sv.s.csvFilePath);
        const QByteArray out = QFile::encodeName(sv.s.outputFolder);
        ::chmod(QFile::encodeName(sv.app.path()).constData(), 0755);
        ::chown(csv.constData(), unprivilegedUid(), gid_t(-1));
        ::chmod(csv.constData(), fileMode);
        ::chmod(out.constData(), 0555);
        const int written = asUnprivileged([&] {
            QString error;
            const auto result = sv.outputs.WriteCsvFile(QStringLiteral("200"), QStringLiteral("t"), &error);
            return result == WeightOutputs::CsvWrite::Written               ? 1
                   : error == QString::fromLocal8Bit(std::strerror(EACCES)) ? 0
                                                                            : 2;
        });
        ::chmod(out.constData(), 0755);
        EXPECT_EQ(written, fileMode == 0644 ? 1 : 0);
        EXPECT_EQ(sv.csv(), fileMode == 0644 ? "200,t\r\n" : "100,t\r\n");
    }
}

TEST(WeightOutputs, LeftoversOfAKilledReplaceGoWhenTheSettingsLoad) {
    Serving sv(QStringLiteral("2"));
    const QStringList kept{".veltrane.csv.a1B2c", ".veltrane.csv.a1B2c3d", ".veltrane.csv.a1-2c3",
                           ".other.csv.a1B2c3", "veltrane.csv.a1B2c3"};
    for (const QString& name : kept + QStringList{".veltrane.csv.a1B2c3", ".veltrane.csv.ZZZZZZ"})
        QFile(sv.s.outputFolder + name).open(QIODevice::WriteOnly);
    QDir().mkpath(sv.s.outputFolder + QStringLiteral(".veltrane.csv.D1r234"));  // not a file: kept
    sv.outputs.settingsLoaded();
    QStringList present =
        QDir(sv.s.outputFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QStringList expected = kept + QStringList{".veltrane.csv.D1r234", "keep.txt"};
    present.sort();
    expected.sort();
    EXPECT_EQ(present, expected);
}

TEST(WeightOutputs, AFailingDiskIsReportedOnceAndTheLogKeepsTheRow) {
    for (const int error : {ENOSPC, EROFS}) {
        Serving sv(QStringLiteral("2"));
        sv.s.OutputClipboard = true;
        const QString out = sv.s.outputFolder;
        const struct Unmount {
            QByteArray path;
            ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
        } unmount{QFile::encodeName(out)};
        if (error == ENOSPC && !mountHere(out, "tmpfs", "tmpfs", 0, "size=64k")) {
            GTEST_SKIP() << "mounting is not allowed here (needs root)";
        }
        ASSERT_EQ(sv.serve(QStringLiteral("100")), QString());
        if (error == ENOSPC) {
            QFile filler(out + QStringLiteral("filler"));
            filler.open(QIODevice::WriteOnly);
            while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) {
            }
        } else {
            ASSERT_TRUE(
                mountHere(out, nullptr, QFile::encodeName(out).constData(), MS_BIND | MS_RDONLY, nullptr));
        }
        for (const char* w : {"200", "300"}) {
            EXPECT_EQ(sv.serve(QString::fromLatin1(w)),
                      QStringLiteral("Export file %1 could not be written: %2")
                          .arg(sv.s.csvFilePath, QString::fromLocal8Bit(std::strerror(error))));
            EXPECT_EQ(sv.fakes.clipboard.text, QString::fromLatin1(w)) << "the later steps still run";
        }
        EXPECT_EQ(sv.fakes.prompts.log, QStringList{}) << "no lock question";
        EXPECT_EQ(sv.app.weightLogRows(), 3);
        EXPECT_TRUE(sv.csv().startsWith("Weight,Datetime\r\n100,")) << "the old content, whole";
        EXPECT_EQ(hidden(out), QStringList{});
    }
}

TEST(WeightOutputs, AnOlderLogGetsItsIdAndIsChainedFromTheNextServing) {
    Serving sv(QStringLiteral("3"));
    {
        auto db = sv.app.settingsDb();  // as an older version left it: no id, no digests, no event log
        db->execute(QStringLiteral(
            "drop table loginfo; drop table eventlog; drop table weightlog;"
            "create table weightlog (slno INTEGER PRIMARY KEY AUTOINCREMENT, Datetime TEXT, weight TEXT);"
            "insert into weightlog (Datetime, weight) values ('2026-01-01 00:00:00', '10')"));
    }
    std::vector<ServedWeighment> served;
    sv.outputs.onServed([&](const ServedWeighment& w) { served.push_back(w); });
    sv.serve(QStringLiteral("800"));
    sv.fakes.clock.advanceSeconds(1);
    sv.serve(QStringLiteral("900"));
    ASSERT_EQ(served.size(), 2u);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(served[0].logId).hasMatch());
    EXPECT_EQ(served[0].digest, rowDigest(served[0].logId, 2, QStringLiteral("800"), served[0].datetime, {}));
    EXPECT_EQ(served[1].digest,
              rowDigest(served[0].logId, 3, QStringLiteral("900"), served[1].datetime, served[0].digest));
    auto db = sv.app.settingsDb();
    const ChainReport report = checkChains(*db);
    EXPECT_TRUE(report.explained()) << qPrintable(report.text());
    EXPECT_EQ(report.unchainedRows, 1);
    EXPECT_EQ(report.rowsChecked, 2);
    // The export database keeps its columns: the receiving program's reader must not notice.
    EXPECT_EQ(Database::open(sv.s.mdbFilePath, QString())
                  ->openRecordSet(QStringLiteral("select * from weightlog"))
                  ->fieldNames(),
              (QStringList{"slno", "Datetime", "weight"}));
}
