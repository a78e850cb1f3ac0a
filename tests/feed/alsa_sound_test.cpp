// What AlsaSound really sends to the device: ALSA's file plugin, set up through an .asoundrc in a test
// HOME, writes every frame played on "default" to a file, which is compared with the word files decoded.
#include "platform/sound.h"
#include "tests/support/fakes.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sndfile.h>

namespace veltrane {
namespace {

QByteArray decoded(const QString& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!f) return {};
    QByteArray bytes(static_cast<qsizetype>(info.frames * info.channels * 2), '\0');
    sf_readf_short(f, reinterpret_cast<short*>(bytes.data()), info.frames);
    sf_close(f);
    return bytes;
}

class AlsaSoundTest : public ::testing::Test {
protected:
    // ALSA reads its configuration once per process, at first use: HOME must be set before that.
    static void SetUpTestSuite() {
        s_home = new QTemporaryDir;
        qputenv("HOME", QFile::encodeName(s_home->path()));
        qunsetenv("ALSA_CONFIG_PATH");
        qunsetenv("XDG_CONFIG_HOME");
        // The plugin truncates its file at every open; a pipe to an appending shell keeps the whole sequence.
        ASSERT_TRUE(test::writeFile(s_home->filePath(QStringLiteral(".asoundrc")),
                                    "pcm.!default { type file; slave.pcm null; file \"|cat >> '" +
                                        QFile::encodeName(played()) + "'\"; format raw }\n"));
    }
    static void TearDownTestSuite() { delete s_home; }
    void SetUp() override { QFile::remove(played()); }

    static QString played() { return s_home->filePath(QStringLiteral("played.raw")); }
    static QByteArray playedBytes() {
        QFile f(played());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static QString word(const char* name) {
        return qEnvironmentVariable("VELTRANE_APP_DIR") + QLatin1Char('/') + QLatin1String(name) +
               QStringLiteral(".wav");
    }

    static QTemporaryDir* s_home;
    AlsaSound m_sound;
};
QTemporaryDir* AlsaSoundTest::s_home = nullptr;

TEST_F(AlsaSoundTest, PlaysWordsInOrderFrameForFrame) {
    QByteArray expected;
    for (const char* w : {"12", "thousand", "3"}) {
        ASSERT_TRUE(QFile::exists(word(w))) << w;
        EXPECT_TRUE(m_sound.play(word(w))) << w;
        expected += decoded(word(w));
    }
    const QByteArray got = playedBytes();
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
}

TEST_F(AlsaSoundTest, AnythingUnplayableIsSilence) {
    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("text.wav")),
                  empty = dir.filePath(QStringLiteral("empty.wav"));
    ASSERT_TRUE(test::writeFile(text, "RIFF but not really a sound file") && test::writeFile(empty));
    for (const QString& path :
         {dir.filePath(QStringLiteral("missing.wav")), text, empty, dir.path(), QString()}) {
        EXPECT_FALSE(m_sound.play(path)) << path.toStdString();
    }
    EXPECT_TRUE(playedBytes().isEmpty());
}

}  // namespace
}  // namespace veltrane
