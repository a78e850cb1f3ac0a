#pragma once
// Where the program's local sockets live: the user's runtime folder, private already, or without one a
// folder of the program's own under /tmp that only this user may enter. /tmp itself is writable by
// everyone, and any name there could be taken first by someone else.

#include <QString>

namespace veltrane {

// $XDG_RUNTIME_DIR, or /tmp/<name>-<uid> when there is no runtime folder.
QString socketFolder(const QString& name);

// Makes the folder socketFolder() names when it is the private one under /tmp, or checks that it is
// a folder of this user's that no one else may enter. Empty when it can be used; otherwise why not.
QString prepareSocketFolder(const QString& name);

}  // namespace veltrane
