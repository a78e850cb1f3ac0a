#pragma once
// Files the program hands to other programs (the CSV output file). They are replaced whole, so that a
// reader polling the file sees the old content or the new one, and they are on disk before the caller
// goes on.

#include <QByteArray>
#include <QString>

namespace veltrane {

class Files {
public:
    virtual ~Files() = default;

    // True when another program holds an advisory lock (flock or fcntl) on the file.
    virtual bool lockedByAnotherProgram(const QString& path) = 0;

    // Replaces the whole content of path, durably. Empty when done; otherwise the system's description
    // of what went wrong ("No space left on device"), and the old content is still there, whole.
    // A symbolic link stays a link: the file it points to is replaced, in that file's folder. When no
    // temporary file can be made in the folder but the file itself is writable, the file is rewritten
    // in place instead (a reader may then see it short for a moment).
    virtual QString replace(const QString& path, const QByteArray& content) = 0;

    // Removes the hidden temporary files that a replace of path left behind when the program was
    // killed in the middle of it. Returns how many were removed.
    virtual int removeLeftovers(const QString& path) = 0;
};

class PosixFiles final : public Files {
public:
    bool lockedByAnotherProgram(const QString& path) override;
    QString replace(const QString& path, const QByteArray& content) override;
    int removeLeftovers(const QString& path) override;
};

}  // namespace veltrane
