#pragma once
// The access password window: a masked box, Enter acts as OK, the flag set only by a valid entry.

#include "shell/access_grant.h"

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

namespace veltrane {

class Prompts;

// Exact comparison: the entry trimmed, the stored password as stored; the fallback is always valid.
bool isValidAccessEntry(const QString& entry, const QString& accessPassword);

class Password : public QDialog {
    Q_OBJECT
public:
    // Loading clears the flag: each showing starts with access refused.
    Password(AccessGrant& grant, const QString& accessPassword, Prompts& prompts, QWidget* parent = nullptr);

    QLineEdit* PW() const { return m_pw; }
    QPushButton* ok() const { return m_ok; }
    // The check behind ok and Enter in PW.
    void checkEntry();

private:
    AccessGrant& m_grant;
    QString m_accessPassword;
    Prompts& m_prompts;
    QLineEdit* m_pw;
    QPushButton* m_ok;
};

// Shows the password window modally and answers whether access was granted. The buttons and the log
// viewer's deletion ask through this, so their tests can answer without a modal window.
class PasswordGate {
public:
    virtual ~PasswordGate() = default;
    virtual bool askAccess() = 0;
};

class DialogPasswordGate final : public PasswordGate {
public:
    // accessPassword is read at each showing: the loader may have changed it since.
    DialogPasswordGate(AccessGrant& grant, const QString& accessPassword, Prompts& prompts, QWidget* parent)
        : m_grant(grant), m_accessPassword(accessPassword), m_prompts(prompts), m_parent(parent) {}
    bool askAccess() override;

private:
    AccessGrant& m_grant;
    const QString& m_accessPassword;
    Prompts& m_prompts;
    QWidget* m_parent;
};

}  // namespace veltrane
