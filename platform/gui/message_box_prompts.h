#pragma once
// Prompts on Qt's modal boxes: QMessageBox, QInputDialog, QApplication::beep and the override cursor.
// Every text is shown as plain text: it may carry indicator data, a file name or a database message,
// and markup in those must be read, not rendered.

#include "platform/prompts.h"

#include <QCursor>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

namespace veltrane {

class MessageBoxPrompts final : public Prompts {
public:
    // cursorFile: the program's own pointer (h_point.cur); a missing or unreadable file means the
    // normal pointer is used instead.
    explicit MessageBoxPrompts(const QString& cursorFile);
    ~MessageBoxPrompts() override;

    // The window that boxes are centred on (the main window once it exists).
    void setParentWindow(QWidget* parent) { m_parent = parent; }

    void message(const QString& text, MessageIcon icon, const QString& title) override;
    bool askYesNo(const QString& text, const QString& title) override;
    QString input(const QString& prompt, const QString& title, const QString& defaultText) override;
    void beep() override;
    void setPointer(Pointer pointer) override;

private:
    QString m_cursorFile;
    QPointer<QWidget> m_parent;
    bool m_overridden = false;
};

// Reads a Windows cursor file (.cur: an icon directory of type 2 whose entries carry the hot spot).
// Nothing when the file is missing or not a cursor.
std::optional<QCursor> loadCursorFile(const QString& path);

}  // namespace veltrane
