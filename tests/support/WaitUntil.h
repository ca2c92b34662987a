#pragma once
// Polling with a limit, for tests that wait on another thread or process:
// a condition that never comes fails the test instead of hanging it.

#include <chrono>
#include <functional>
#include <thread>

// Polls `done` every 5 ms until it holds (true) or `limit` has
// passed (false).
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
