// What a start finds at the single-copy socket, over real Unix sockets in a runtime folder of the
// test's own. The hand-over to a running copy is met whole in tests/e2e.
#include "platform/single_instance.h"
#include "tests/support/unix_line_client.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace veltrane {
namespace {

using Start = SingleInstance::Start;

enum class AtPath { Nothing, CrashedCopysSocket, SilentCopy, PlainFile };

// Returns a descriptor the case keeps open (the silent copy's socket), or 0.
int prepare(AtPath what, const QString& path) {
    if (what == AtPath::Nothing) return 0;
    if (what == AtPath::PlainFile) return QFile(path).open(QIODevice::WriteOnly) ? 0 : -1;
    const int fd = test::bindUnixSocket(path, what == AtPath::SilentCopy ? 4 : -1);
    if (what == AtPath::SilentCopy || fd < 0) return fd;
    ::close(fd);  // bound and gone: the file stays, nobody listens
    return 0;
}

TEST(SingleInstance, WhatLiesAtTheSocketDecidesTheStart) {
    const test::RuntimeFolder runtime;
    const QString path = runtime.path() + QStringLiteral("/veltrane.instance");
    struct Case {
        AtPath what;
        Start expected;
        bool listens;  // this start answers later ones
    };
    const Case cases[] = {
        {AtPath::Nothing, Start::First, true},
        {AtPath::CrashedCopysSocket, Start::First, true},
        {AtPath::SilentCopy, Start::NotAnswering, false},
        {AtPath::PlainFile, Start::First, false},  // not ours: neither obeyed nor removed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.what));
        QFile::remove(path);
        const int fd = prepare(c.what, path);
        ASSERT_GE(fd, 0);
        SingleInstance copy(QStringLiteral("veltrane"));
        EXPECT_EQ(copy.start(), c.expected);
        EXPECT_EQ(copy.socketPath(), path);
        EXPECT_TRUE(QFileInfo::exists(path));
        const auto othersMay = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
        if (c.listens) {
            EXPECT_FALSE(QFileInfo(path).permissions() & othersMay);
        }
        if (fd > 0) ::close(fd);
    }
}

}  // namespace
}  // namespace veltrane
