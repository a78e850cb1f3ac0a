#pragma once
// A pseudo-terminal owned by a test: the test plays the device on the master side, the code under test
// opens the slave path as its serial port.

#include <QByteArray>
#include <QString>

namespace veltrane::test {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // Writes all of data to the master; while the reader has no room, lets events run so that a reader
    // on this thread can take what waits.
    bool write(const QByteArray& data);
    // Whatever the reader wrote, waiting up to timeoutMs for at least `atLeast` bytes.
    QByteArray read(int atLeast, int timeoutMs);
    // The device vanishes: the reader's next read fails.
    void closeMaster();

private:
    int m_master = -1;
    QString m_slavePath;
};

}  // namespace veltrane::test
