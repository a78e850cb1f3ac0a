#include "platform/program_identity.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace veltrane;

TEST(ProgramIdentity, IsTheDigestOfTheProgramFileAndChangesWithAnyByteOfIt) {
    const ProgramIdentity self = programIdentity();
    ASSERT_FALSE(self.files.isEmpty());
    QFile program(self.files.front());
    ASSERT_TRUE(program.open(QIODevice::ReadOnly));
    QByteArray bytes = program.readAll();
    if (self.files.size() == 1) {
        EXPECT_EQ(self.digest,
                  QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
    }

    QTemporaryDir dir;
    QFile copy(dir.filePath(QStringLiteral("veltrane")));
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 1);
    copy.write(bytes);
    copy.close();
    const ProgramIdentity changed = identityOf(copy.fileName(), {});
    EXPECT_EQ(changed.digest.size(), 64);
    EXPECT_NE(changed.digest, identityOf(self.files.front(), {}).digest);
    EXPECT_TRUE(identityText(changed).startsWith(QStringLiteral("Veltrane 3.0\nSHA-256 ") + changed.digest));
}
