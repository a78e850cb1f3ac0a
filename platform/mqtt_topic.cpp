#include "platform/mqtt_topic.h"

#include <mosquitto.h>

namespace veltrane {

std::optional<QString> mqttTopicTrouble(const QString& topic) {
    const QByteArray bytes = topic.toUtf8();
    if (bytes.isEmpty()) return QStringLiteral("a topic is needed.");
    // The library's own checks, so that what passes here is what it accepts later.
    if (mosquitto_validate_utf8(bytes.constData(), int(bytes.size())) != MOSQ_ERR_SUCCESS)
        return QStringLiteral("\"%1\" holds a control character or is not valid UTF-8.").arg(topic);
    if (mosquitto_pub_topic_check2(bytes.constData(), size_t(bytes.size())) != MOSQ_ERR_SUCCESS)
        return QStringLiteral("\"%1\" may not contain + or #.").arg(topic);
    return std::nullopt;
}

}  // namespace veltrane
