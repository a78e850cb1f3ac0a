#pragma once
// Waiting in tests without assuming the machine's speed: events keep running, the timeout is generous.

#include <QCoreApplication>

#include <poll.h>

#include <chrono>
#include <functional>

namespace veltrane::test {

// Runs pending events until cond() holds or the timeout passes.
inline bool pumpUntil(const std::function<bool()>& cond, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents();
        ::poll(nullptr, 0, 1);
    }
    return true;
}

}  // namespace veltrane::test
