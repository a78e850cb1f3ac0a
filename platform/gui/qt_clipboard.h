#pragma once

#include "platform/clipboard.h"

namespace veltrane {

// The desktop clipboard (QClipboard's clipboard selection, plain text).
class QtClipboard final : public Clipboard {
public:
    void clear() override;
    void setText(const QString& text) override;
};

}  // namespace veltrane
