#pragma once

#include "platform/shell.h"

namespace veltrane {

// Documents through xdg-open (QDesktopServices); programs as processes of their own.
class DesktopShellOpen final : public ShellOpen {
public:
    bool open(const QString& path) override;
    bool startProgram(const QString& program) override;
};

}  // namespace veltrane
