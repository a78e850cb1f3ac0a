#include "core/weight_outputs.h"

#include "tests/core/core_fixture.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <optional>

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
        EXPECT_EQ(sv.serve(QStringLiteral("12345.6")), QString());
        EXPECT_EQ(sv.csv(), c.first) << c.type;
        sv.fakes.clock.advanceSeconds(65);
        EXPECT_EQ(sv.serve(QStringLiteral("980")), QString());
        EXPECT_EQ(sv.csv(), c.second) << c.type;
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
        EXPECT_EQ(sv.outputs.WriteCsvFile(QStringLiteral("1"), QStringLiteral("t")),
                  WeightOutputs::CsvWrite::Failed);
    sv.s.csvFilePath = sv.app.path() + QStringLiteral("missing/veltrane.csv");
    QString error;
    EXPECT_EQ(sv.outputs.WriteCsvFile(QStringLiteral("1"), QStringLiteral("t"), &error),
              WeightOutputs::CsvWrite::Failed);
    EXPECT_EQ(error, QString::fromLocal8Bit(std::strerror(ENOENT)));
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

// ---- The CSV file among its neighbours: links, folders that refuse new files, leftovers, failing disks.

namespace {

QStringList hiddenEntries(const QString& folder) {
    return QDir(folder)
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
        .filter(QRegularExpression(QStringLiteral("^\\.")));
}

ino_t inodeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// Runs fn as a user that folder permissions apply to: in a child process as "nobody" when the test runs
// as root (root writes anywhere), else as the test's own user. fn's result, or -1 when it could not run.
uid_t unprivilegedUid() {
    if (::geteuid() != 0) return ::geteuid();
    const passwd* nobody = ::getpwnam("nobody");
    return nobody ? nobody->pw_uid : 65534;
}
int asUnprivileged(const std::function<int()>& fn) {
    if (::geteuid() != 0) return fn();
    const uid_t uid = unprivilegedUid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(100);
        ::_exit(fn());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Mounts live in a mount namespace of this test's own thread: whatever happens, they go with the process.
bool privateMounts() {
    static const bool ok =
        ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return ok;
}
class Mount {
public:
    Mount(const QString& target, const char* type, const char* source, unsigned long flags, const char* data)
        : m_target(QFile::encodeName(target)) {
        m_ok = ::mount(source, m_target.constData(), type, flags, data) == 0;
        if (m_ok && (flags & MS_BIND) && (flags & MS_RDONLY))  // a bind takes its flags only at a remount
            m_ok = ::mount(nullptr, m_target.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                           nullptr) == 0;
    }
    ~Mount() { ::umount2(m_target.constData(), MNT_DETACH); }
    bool ok() const { return m_ok; }

private:
    QByteArray m_target;
    bool m_ok = false;
};

void fillUp(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder + QStringLiteral("filler")).constData(), O_WRONLY | O_CREAT, 0600);
    const QByteArray block(4096, 'x');
    while (::write(fd, block.constData(), size_t(block.size())) > 0) {
    }
    ::close(fd);
}

}  // namespace

TEST(WeightOutputs, ALinkedCsvFileStaysALinkAndTheFileItNamesIsReplaced) {
    struct Case {
        const char* kind;
        QString linkText;  // what veltrane.csv points to; "share/" is a folder beside "out/"
        QString target;    // the file that must get the content, relative to the app folder
        QString middle;    // a link on the way, if any
    };
    const Case cases[] = {
        {"absolute", "<app>share/erp.csv", "share/erp.csv", {}},
        {"relative", "../share/erp.csv", "share/erp.csv", {}},
        {"chain", "middle.csv", "share/erp.csv", "out/middle.csv"},
        {"dangling", "<app>share/new.csv", "share/new.csv", {}},
    };
    for (const Case& c : cases) {
        Serving sv(QStringLiteral("2"));
        const QString app = sv.app.path();
        QDir().mkpath(app + QStringLiteral("share"));
        if (QString(c.kind) != QLatin1String("dangling")) {
            QFile erp(app + c.target);
            ASSERT_TRUE(erp.open(QIODevice::WriteOnly));
        }
        if (!c.middle.isEmpty()) {
            ASSERT_EQ(::symlink(QFile::encodeName(app + c.target).constData(),
                                QFile::encodeName(app + c.middle).constData()),
                      0);
        }
        QString text = c.linkText;
        text.replace(QStringLiteral("<app>"), app);
        ASSERT_EQ(
            ::symlink(QFile::encodeName(text).constData(), QFile::encodeName(sv.s.csvFilePath).constData()),
            0);

        EXPECT_EQ(sv.serve(QStringLiteral("12345.6")), QString()) << c.kind;
        sv.fakes.clock.advanceSeconds(65);
        EXPECT_EQ(sv.serve(QStringLiteral("980")), QString()) << c.kind;
        EXPECT_TRUE(QFileInfo(sv.s.csvFilePath).isSymLink()) << c.kind;
        EXPECT_EQ(readFile(app + c.target), "Weight,Datetime\r\n980,2026-03-14 09:31:05\r\n") << c.kind;
        EXPECT_EQ(hiddenEntries(app + QStringLiteral("share")), QStringList{}) << c.kind;
        EXPECT_EQ(hiddenEntries(sv.s.outputFolder), QStringList{}) << c.kind;
    }
}

TEST(WeightOutputs, AFolderThatRefusesNewFilesStillGetsItsWritableFileRewritten) {
    struct Case {
        mode_t fileMode;
        int expected;  // 0 written, 1 locked, 2 failed with "Permission denied", 3 other
        const char* content;
    };
    const Case cases[] = {{0644, 0, "200,t\r\n"}, {0444, 2, "100,t\r\n"}};
    for (const Case& c : cases) {
        Serving sv(QStringLiteral("1"));
        ASSERT_EQ(sv.outputs.WriteCsvFile(QStringLiteral("100"), QStringLiteral("t")),
                  WeightOutputs::CsvWrite::Written);
        const QByteArray csv = QFile::encodeName(sv.s.csvFilePath);
        const ino_t before = inodeOf(sv.s.csvFilePath);
        ASSERT_EQ(::chmod(QFile::encodeName(sv.app.path()).constData(), 0755), 0);
        ASSERT_EQ(::chown(csv.constData(), unprivilegedUid(), gid_t(-1)), 0);
        ASSERT_EQ(::chmod(csv.constData(), c.fileMode), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(sv.s.outputFolder).constData(), 0555), 0);
        const int result = asUnprivileged([&] {
            QString error;
            switch (sv.outputs.WriteCsvFile(QStringLiteral("200"), QStringLiteral("t"), &error)) {
                case WeightOutputs::CsvWrite::Written:
                    return 0;
                case WeightOutputs::CsvWrite::Locked:
                    return 1;
                default:
                    return error == QString::fromLocal8Bit(std::strerror(EACCES)) ? 2 : 3;
            }
        });
        ::chmod(QFile::encodeName(sv.s.outputFolder).constData(), 0755);
        EXPECT_EQ(result, c.expected) << std::oct << c.fileMode;
        EXPECT_EQ(sv.csv(), c.content) << std::oct << c.fileMode;
        EXPECT_EQ(inodeOf(sv.s.csvFilePath), before) << "rewritten in place, the same file";
    }
}

TEST(WeightOutputs, LeftoversOfAKilledReplaceGoWhenTheSettingsLoad) {
    Serving sv(QStringLiteral("2"));
    const QString out = sv.s.outputFolder;
    const QStringList leftovers{".veltrane.csv.a1B2c3", ".veltrane.csv.ZZZZZZ"};
    // Not what a replace of veltrane.csv leaves: these stay.
    const QStringList others{".veltrane.csv.a1B2c", ".veltrane.csv.a1B2c3d", ".veltrane.csv.a1-2c3",
                             "veltrane.csv.a1B2c3", ".other.csv.a1B2c3"};
    for (const QString& name : leftovers + others) {
        QFile f(out + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QDir().mkpath(out + QStringLiteral(".veltrane.csv.D1r234"));
    ASSERT_EQ(::symlink("/etc/hostname",
                        QFile::encodeName(out + QStringLiteral(".veltrane.csv.L1nk56")).constData()),
              0);

    sv.outputs.settingsLoaded();
    QStringList expected = others;
    expected << ".veltrane.csv.D1r234"
             << ".veltrane.csv.L1nk56";
    expected.sort();
    QStringList present =
        QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    present.sort();
    EXPECT_EQ(present, expected);
}

TEST(WeightOutputs, AFailingDiskIsReportedOnceAndTheLogKeepsTheRow) {
    if (!privateMounts()) {
        GTEST_SKIP() << "mounting is not allowed here (needs root)";
    }
    struct Case {
        const char* kind;
        int error;
    };
    for (const Case& c : {Case{"full", ENOSPC}, Case{"read-only", EROFS}}) {
        Serving sv(QStringLiteral("2"));
        sv.s.OutputClipboard = true;
        const bool full = c.error == ENOSPC;
        std::optional<Mount> mount;
        if (full) mount.emplace(sv.s.outputFolder, "tmpfs", "tmpfs", 0, "size=64k");
        ASSERT_TRUE(!full || mount->ok());
        ASSERT_EQ(sv.serve(QStringLiteral("100")), QString());
        if (full)
            fillUp(sv.s.outputFolder);
        else
            mount.emplace(sv.s.outputFolder, nullptr, QFile::encodeName(sv.s.outputFolder).constData(),
                          MS_BIND | MS_RDONLY, nullptr);
        ASSERT_TRUE(mount->ok()) << c.kind;

        for (const char* w : {"200", "300"}) {
            EXPECT_EQ(sv.serve(QString::fromLatin1(w)),
                      QStringLiteral("Export file %1 could not be written: %2")
                          .arg(sv.s.csvFilePath, QString::fromLocal8Bit(std::strerror(c.error))))
                << c.kind;
            EXPECT_EQ(sv.fakes.clipboard.text, QString::fromLatin1(w)) << "the later steps still run";
        }
        EXPECT_EQ(sv.fakes.prompts.log, QStringList{}) << c.kind << ": no lock question";
        EXPECT_EQ(sv.app.weightLogRows(), 3) << c.kind;
        EXPECT_TRUE(sv.csv().startsWith("Weight,Datetime\r\n100,")) << c.kind << ": the old content, whole";
        EXPECT_EQ(hiddenEntries(sv.s.outputFolder), QStringList{}) << c.kind;
    }
}
