#pragma once
// The local-socket live feed as one outward feed among others: the weight box is its item
// "weightdata", which exists (empty) from the start so that clients may link before the first weight.

#include "core/weight_feed.h"
#include "platform/dde.h"

namespace veltrane {

class DdeFeed final : public WeightFeed {
public:
    explicit DdeFeed(DdeServer& server);
    void weightChanged(const QString& weightText) override;
    // Linked programs see the weight box only; servings reach them as its changes.
    void weighmentServed(const ServedWeighment&) override {}

private:
    DdeServer& m_server;
};

}  // namespace veltrane
