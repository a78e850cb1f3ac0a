#include "config/window/web_feed_group.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>

namespace veltrane {

WebFeedGroup::WebFeedGroup(QWidget* parent) : QGroupBox(QStringLiteral("Web pages and ERPs (HTTP)"), parent) {
    setObjectName(QStringLiteral("webFeed"));
    auto* grid = new QGridLayout(this);
    m_on =
        new QCheckBox(QStringLiteral("Serve the live weight, each weighment and the weight log over HTTP"));
    m_on->setObjectName(QStringLiteral("httpfeed"));
    grid->addWidget(m_on, 0, 0, 1, 2);
    m_address = addLine("httpaddress", QStringLiteral("Web feed address"), 1);
    m_address->setToolTip(
        QStringLiteral("127.0.0.1: this computer only; 0.0.0.0: every network (needs a token)"));
    m_port = addLine("httpport", QStringLiteral("Web feed port"), 2);
    m_token = addLine("httptoken", QStringLiteral("Web feed token"), 3);
    m_token->setToolTip(
        QStringLiteral("Clients send \"Authorization: Bearer <token>\" or ?token=<token>; empty: "
                       "none (this computer only)"));
    auto* about = new QLabel(QStringLiteral(
        "While the feed is on, its sample page is at http://<address>:<port>/ (add ?token=<token>).\n"
        "The Veltrane tab's sample button opens the page from the program folder."));
    about->setTextFormat(Qt::PlainText);
    grid->addWidget(about, 4, 0, 1, 2);
}

QLineEdit* WebFeedGroup::addLine(const char* name, const QString& label, int row) {
    auto* layout = static_cast<QGridLayout*>(this->layout());
    auto* box = new QLineEdit;
    box->setObjectName(QString::fromLatin1(name));
    auto* caption = new QLabel(label);
    caption->setBuddy(box);
    layout->addWidget(caption, row, 0);
    layout->addWidget(box, row, 1);
    return box;
}

void WebFeedGroup::showSettings(const FeedSettings& s) {
    m_on->setChecked(s.httpfeed);
    m_address->setText(s.httpaddress);
    m_port->setText(QString::number(s.httpport));
    m_token->setText(s.httptoken);
}

std::optional<FeedSettingsError> WebFeedGroup::readSettings(FeedSettings& s) const {
    bool number = false;
    const int port = m_port->text().trimmed().toInt(&number);
    if (!number) {
        const QString field = QStringLiteral("Web feed port");
        return FeedSettingsError{
            field,
            field + QStringLiteral(": \"%1\" is not a port number from 1 to 65535.").arg(m_port->text())};
    }
    s.httpfeed = m_on->isChecked();
    s.httpaddress = m_address->text().trimmed();
    s.httpport = port;
    s.httptoken = m_token->text();
    return checkFeedSettings(s);
}

void WebFeedGroup::focusField(const QString& field) {
    // A tab's page sits in the tab widget's stack.
    for (QWidget* page = this; page && page->parentWidget(); page = page->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(page->parentWidget()->parentWidget())) {
            tabs->setCurrentWidget(page);
            break;
        }
    }
    for (auto* label : findChildren<QLabel*>())
        if (label->text() == field && label->buddy()) label->buddy()->setFocus();
}

}  // namespace veltrane
