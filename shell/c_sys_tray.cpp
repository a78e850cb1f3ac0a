#include "shell/c_sys_tray.h"

#include "platform/program_identity.h"

#include <QMessageBox>

namespace veltrane {

CSysTray::CSysTray(TrayIcon& icon, QObject* parent) : QObject(parent), m_icon(icon) {}

CSysTray::~CSysTray() = default;

void CSysTray::setSourceWindow(QWidget* frmData) {
    m_source = frmData;
    HookSourceWindow();
}

void CSysTray::HookSourceWindow() {
    // A second hook on the same window is refused: the first one stays in use and messages are not
    // handled twice.
    if (m_hooked) return;
    connect(&m_icon, &TrayIcon::message, this, &CSysTray::iconMessage);
    connect(&m_icon, &TrayIcon::showRequested, this, &CSysTray::restoreSourceWindow);
    m_icon.setShowEntry(QString::fromLatin1(kShowEntry));
    m_icon.setAboutEntry(QStringLiteral("About Veltrane"));
    connect(&m_icon, &TrayIcon::aboutRequested, this, [this] {
        auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("About Veltrane"),
                                    identityText(programIdentity()), QMessageBox::Ok, m_source);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setTextInteractionFlags(Qt::TextSelectableByMouse);
        box->show();
    });
    m_hooked = m_source;
}

void CSysTray::IconInSysTray() {
    m_icon.setToolTip(shownTip());
    m_icon.add();
}

void CSysTray::RemoveFromSysTray() {
    m_icon.remove();
}

void CSysTray::MinToSysTray() {
    if (!m_icon.available()) {
        if (m_source && !m_source->isMinimized()) m_source->showMinimized();
        return;
    }
    IconInSysTray();
    if (m_source) m_source->hide();
}

void CSysTray::ChangeIcon(const QString& sIconPath) {
    // Animated cursors (".ani", exactly lower case) were drawn frame by frame into the icon; the program
    // only ever passes .ICO files, so every path is loaded as an icon image.
    m_iconPath = sIconPath;
    m_icon.setIconFile(sIconPath);
}

void CSysTray::ChangeToolTip(const QString& sNewTip) {
    m_toolTip = sNewTip;
    m_icon.setToolTip(shownTip());
}

void CSysTray::iconMessage(TrayMessage message) {
    if (m_busy) return;
    m_busy = true;
    switch (message) {
        case TrayMessage::LButtonDown:
            Q_EMIT LButtonDown();
            break;
        case TrayMessage::LButtonUp:
            Q_EMIT LButtonUp();
            // The only click such a tray reports: without this the window could never come back.
            if (!m_icon.reportsDoubleClick()) DefaultDoubleClick();
            break;
        case TrayMessage::LButtonDblClk:
            DefaultDoubleClick();
            break;
        case TrayMessage::RButtonDown:
            Q_EMIT RButtonDown();
            break;
        case TrayMessage::RButtonUp:
            Q_EMIT RButtonUp();
            break;
        case TrayMessage::RButtonDblClk:
            Q_EMIT RButtonDblClk();
            break;
    }
    m_busy = false;
}

void CSysTray::DefaultDoubleClick() {
    if (m_defaultDblClk) restoreSourceWindow();
    Q_EMIT LButtonDblClk();
}

void CSysTray::restoreSourceWindow() {
    if (!m_source) return;
    m_source->setWindowState(m_source->windowState() & ~Qt::WindowMinimized);
    m_source->show();
    m_source->raise();
    m_source->activateWindow();
    RemoveFromSysTray();
}

}  // namespace veltrane
