// Drains the model's main queue as a front end's event loop would, until a condition holds.
#pragma once

#include "model/MainQueue.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>

namespace vp::testing {

inline void drainUntil(MainQueue& queue, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!done() && std::chrono::steady_clock::now() < deadline) queue.waitAndDrain(std::chrono::milliseconds(20));
    ASSERT_TRUE(done()) << "timed out";
}

} // namespace vp::testing
