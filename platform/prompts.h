#pragma once
// Every message box, text prompt, beep and pointer change goes through this one interface, so that
// tests can script the answers and check the exact texts in order.

#include <QString>

namespace veltrane {

enum class MessageIcon { None, Information, Exclamation, Critical, Question };
enum class Pointer { Normal, Wait, Custom };

class Prompts {
public:
    virtual ~Prompts() = default;
    // Modal, OK button.
    virtual void message(const QString& text, MessageIcon icon = MessageIcon::None,
                         const QString& title = {}) = 0;
    // Modal, Yes and No buttons. True for Yes.
    virtual bool askYesNo(const QString& text, const QString& title = {}) = 0;
    // Modal text prompt; the typed text, or an empty text when cancelled.
    virtual QString input(const QString& prompt, const QString& title, const QString& defaultText) = 0;
    virtual void beep() = 0;
    // Pointer::Custom is the program's own cursor (h_point.cur); falls back to Normal when missing.
    virtual void setPointer(Pointer pointer) = 0;
};

}  // namespace veltrane
