#pragma once
// Whether a file the program needs is there for it, and when it is there but out of reach, the plain
// words an operator needs: which file or folder refuses, the group it is for, and how to join it. The
// package keeps its files in a folder that only the group veltrane may enter, so to a user outside the
// group they look missing; the two must not be told apart by the same message.

#include <QString>

namespace veltrane {

enum class FileReach { Present, Missing, Refused };

struct FileReachResult {
    FileReach reach = FileReach::Present;
    QString advice;  // only when Refused
};

// Present when the file can be read (and written, if needsWrite), Missing when it is not there (a dangling
// link included), Refused when a folder on the way, or the file itself, lacks a permission.
FileReachResult reachFile(const QString& path, bool needsWrite = true);

}  // namespace veltrane
