#pragma once
// "Let pending events run": the single point through which long operations stay re-entrant.

namespace veltrane {

class EventPump {
public:
    virtual ~EventPump() = default;
    virtual void processEvents() = 0;
};

class QtEventPump final : public EventPump {
public:
    void processEvents() override;
};

}  // namespace veltrane
