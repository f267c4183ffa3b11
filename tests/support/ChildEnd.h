#pragma once
// Test support: waiting for a child process started with platform::Process
// to end, bounded only to keep a broken test alive. Header-only; the thread
// that owns the Process.

#include "platform/Process.h"

#include <chrono>
#include <optional>
#include <thread>

namespace tv::test {

// The child's exit status once it has ended (reaped), or nothing while it
// still runs after `limit`.
inline std::optional<platform::ExitStatus> waitForEnd(platform::Process& p, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (auto s = p.poll())
            return s;
        if (std::chrono::steady_clock::now() >= end)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace tv::test
