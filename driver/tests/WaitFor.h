#pragma once

// Polls until pred holds or timeout passes; generous by default, since on a busy machine the
// simulated cameras lag the wall clock.
#include <chrono>
#include <thread>

template <typename Pred>
bool waitFor(Pred pred, std::chrono::milliseconds timeout = std::chrono::milliseconds(20000)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
