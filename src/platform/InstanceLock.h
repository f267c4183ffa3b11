#pragma once
// The single-instance lock of a program title: an abstract Unix socket bound
// to "\0tilvaron.<uid>.instance.<title>". Held while the object lives (or
// until release()); the kernel releases it when the process ends, however it
// ends. The socket is close-on-exec, so children never hold it.
//
// Not thread-safe; normally used once from the main thread at start-up.

#include "common/Result.h"

#include <string>

namespace tv::platform {

class InstanceLock {
public:
    static std::string address(const std::string& title);

    InstanceLock() = default;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

    // true: this process holds the lock now. false: another live process
    // holds it. An error only when the lock could not be tried at all.
    Result<bool> acquire(const std::string& title);
    bool held() const { return fd_ >= 0; }
    void release();

private:
    int fd_ = -1;
};

} // namespace tv::platform
