#pragma once
// Open a document or start a program in the user's default viewer (the design's ShellExecute "Open").

#include <QString>

namespace veltrane {

class ShellOpen {
public:
    virtual ~ShellOpen() = default;
    // False is the design's failure result (a result of 32 or less).
    virtual bool open(const QString& path) = 0;
};

}  // namespace veltrane
