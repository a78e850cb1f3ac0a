#include "platform/gui/message_box_prompts.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QtEndian>

namespace veltrane {

namespace {

QString titleOr(const QString& title) {
    // A box without a title of its own carries the program's name.
    return title.isEmpty() ? QStringLiteral("Veltrane") : title;
}

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Exclamation:
            return QMessageBox::Warning;
        case MessageIcon::Critical:
            return QMessageBox::Critical;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

std::optional<QCursor> loadCursorFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QByteArray data = file.readAll();
    // ICONDIR (6 bytes) + first ICONDIRENTRY (16 bytes); in a cursor the entry's planes and bit-count
    // fields hold the hot spot.
    if (data.size() < 22) return std::nullopt;
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    if (qFromLittleEndian<quint16>(bytes) != 0 || qFromLittleEndian<quint16>(bytes + 2) != 2)
        return std::nullopt;
    const int hotX = qFromLittleEndian<quint16>(bytes + 6 + 4);
    const int hotY = qFromLittleEndian<quint16>(bytes + 6 + 6);
    // Qt's icon reader takes the same layout as an icon directory; present it as one.
    qToLittleEndian<quint16>(1, reinterpret_cast<uchar*>(data.data()) + 2);
    QImage image;
    if (!image.loadFromData(data, "ICO") || image.isNull()) return std::nullopt;
    return QCursor(QPixmap::fromImage(image), qBound(0, hotX, image.width() - 1),
                   qBound(0, hotY, image.height() - 1));
}

MessageBoxPrompts::MessageBoxPrompts(const QString& cursorFile) : m_cursorFile(cursorFile) {}

MessageBoxPrompts::~MessageBoxPrompts() {
    if (m_overridden) QApplication::restoreOverrideCursor();
}

void MessageBoxPrompts::message(const QString& text, MessageIcon icon, const QString& title) {
    QMessageBox box(boxIcon(icon), titleOr(title), text, QMessageBox::Ok, m_parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool MessageBoxPrompts::askYesNo(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Question, titleOr(title), text, QMessageBox::Yes | QMessageBox::No,
                    m_parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

QString MessageBoxPrompts::input(const QString& prompt, const QString& title, const QString& defaultText) {
    QInputDialog dialog(m_parent);
    dialog.setWindowTitle(titleOr(title));
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    for (QLabel* label : dialog.findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
}

void MessageBoxPrompts::beep() {
    QApplication::beep();
}

void MessageBoxPrompts::setPointer(Pointer pointer) {
    // One override at a time, so that restoring never unwinds further than this object went.
    if (m_overridden) {
        QApplication::restoreOverrideCursor();
        m_overridden = false;
    }
    switch (pointer) {
        case Pointer::Normal:
            return;
        case Pointer::Wait:
            QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
            break;
        case Pointer::Custom: {
            const std::optional<QCursor> cursor = loadCursorFile(m_cursorFile);
            if (!cursor) return;  // the normal pointer stays
            QApplication::setOverrideCursor(*cursor);
            break;
        }
    }
    m_overridden = true;
}

}  // namespace veltrane
