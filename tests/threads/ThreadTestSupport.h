// Waiting helpers for the threading tests: bounded waits that a correct implementation never
// comes near, so the tests fail instead of hanging when something is wrong.
#pragma once

#include <chrono>
#include <thread>

namespace pixora::testing_support {

// Polls cond until it holds; false after 30 seconds.
template <class F>
bool Eventually(F cond) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace pixora::testing_support
