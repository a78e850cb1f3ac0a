#pragma once
// "Let pending events run": the single point through which long operations stay re-entrant.

namespace veltrane {

class EventPump {
public:
    virtual ~EventPump() = default;
    virtual void processEvents() = 0;
    // For loops that wait for a flag a timer or an event will set: blocks until at least one event
    // has been handled, so a long wait does not spin a core.
    virtual void waitForEvents() { processEvents(); }
};

class QtEventPump final : public EventPump {
public:
    void processEvents() override;
    void waitForEvents() override;
};

}  // namespace veltrane
