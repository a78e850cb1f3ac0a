#pragma once
// The broker's rules for a topic to publish on, as libmosquitto itself applies them when it publishes:
// valid UTF-8 without control characters, no wildcards, at most 65535 bytes. A topic the library would
// refuse at every publish is refused at once instead, with the reason.

#include <QString>

#include <optional>

namespace veltrane {

// Why the library would refuse to publish on topic; nothing when it would not.
std::optional<QString> mqttTopicTrouble(const QString& topic);

}  // namespace veltrane
