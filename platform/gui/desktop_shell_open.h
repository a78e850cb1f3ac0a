#pragma once

#include "platform/shell.h"

namespace veltrane {

// xdg-open through QDesktopServices.
class DesktopShellOpen final : public ShellOpen {
public:
    bool open(const QString& path) override;
};

}  // namespace veltrane
