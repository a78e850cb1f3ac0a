#include "feeds/dde_feed.h"

namespace veltrane {

namespace {
const QString kItem = QStringLiteral("weightdata");
}

DdeFeed::DdeFeed(DdeServer& server) : m_server(server) {
    m_server.setItem(kItem, QString());
}

void DdeFeed::weightChanged(const QString& weightText) {
    m_server.setItem(kItem, weightText);
}

}  // namespace veltrane
