#include "platform/gui/qt_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace veltrane {

void QtClipboard::clear() {
    QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
}

void QtClipboard::setText(const QString& text) {
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

}  // namespace veltrane
