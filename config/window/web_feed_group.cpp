#include "config/window/web_feed_group.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

namespace veltrane {

WebFeedGroup::WebFeedGroup(QWidget* parent)
    : FeedGroup(QStringLiteral("Web pages and ERPs (HTTP)"), "webFeed", parent) {
    auto* grid = static_cast<QGridLayout*>(layout());
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
    m_origins = addLine("httporigins", QStringLiteral("Web feed origins"), 4);
    m_origins->setToolTip(
        QStringLiteral("Pages from these origins may read the feed from a browser, as "
                       "https://erp.example.com:8443 (blanks between several); empty: only the sample page"));
    auto* about = new QLabel(QStringLiteral(
        "While the feed is on, its sample page is at http://<address>:<port>/ (add ?token=<token>).\n"
        "The Veltrane tab's sample button opens the page from the program folder."));
    about->setTextFormat(Qt::PlainText);
    grid->addWidget(about, 5, 0, 1, 2);
}

void WebFeedGroup::showSettings(const FeedSettings& s) {
    m_on->setChecked(s.httpfeed);
    m_address->setText(s.httpaddress);
    m_port->setText(QString::number(s.httpport));
    m_token->setText(s.httptoken);
    m_origins->setText(s.httporigins.join(QLatin1Char(' ')));
}

std::optional<FeedSettingsError> WebFeedGroup::readSettings(FeedSettings& s) const {
    std::optional<FeedSettingsError> refusal;
    const auto port = portNumber(m_port, QStringLiteral("Web feed port"), refusal);
    if (!port) return refusal;
    s.httpfeed = m_on->isChecked();
    s.httpaddress = m_address->text().trimmed();
    s.httpport = *port;
    s.httptoken = m_token->text();
    const QStringList typed =
        m_origins->text().split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
    // Stored as a browser writes them, so that the feed compares them as they come; a bad one is kept as
    // typed for the check to name.
    s.httporigins.clear();
    for (const QString& entry : typed) {
        const auto origin = parseOrigins(entry);
        s.httporigins << (origin && origin->size() == 1 ? origin->first() : entry);
    }
    s.httporigins.removeDuplicates();
    return checkFeedSettings(s);
}

}  // namespace veltrane
