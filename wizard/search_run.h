#pragma once
// One run of the wizard, shared by the designed search and the quick search that runs before it.

#include "wizard/protocol_search.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace veltrane {

struct ProtocolSearch::Run {
    QString portText;
    QString sampleWeight;
    QByteArray weight;  // the sample weight as the indicator would send it
    int phase = 1;
    int delimiterIndex = 0;
    QString delimiterName;
    std::int16_t protocolNumber = 0;
    std::int32_t baudCeiling = 38400;
    bool found = false;
    QString savedCaption;
    QString secondPhaseCaption;
    // The offer in hand: where the weight ends in the record, and its report paragraph.
    std::int16_t endPosition = 0;
    QByteArray reportEntry;
    // Seconds the quick search took to the offer in hand; negative for the designed search's offers.
    double quickSeconds = -1;
    // The installer let the quick search ask a silent line; the request a polled indicator answered.
    bool probe = false;
    QByteArray request;
};

}  // namespace veltrane
