#pragma once
// Open a document in the user's default viewer, or start a program.

#include <QString>

namespace veltrane {

class ShellOpen {
public:
    virtual ~ShellOpen() = default;
    // False when the document could not be handed to a viewer, a file that is not there among them.
    virtual bool open(const QString& path) = 0;
    // Starts the program file as a process of its own, without arguments, which outlives the caller.
    // False when it could not be started (missing, not executable).
    virtual bool startProgram(const QString& program) = 0;
};

}  // namespace veltrane
