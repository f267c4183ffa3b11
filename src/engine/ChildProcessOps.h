#pragma once
// ChildProcessOps: the few things the engine does with the Player processes
// it started: ask whether one has ended (and reap it), and kill one. The
// POSIX implementation works on this process's own children with waitpid and
// kill; tests hand in a fake. Any thread; the caller serialises calls.

#include <optional>
#include <sys/types.h>

namespace tv {

class ChildProcessOps {
public:
    virtual ~ChildProcessOps() = default;
    // When `pid` has ended, reaps it and returns its wait status (as waitpid
    // gives it; -1 when the status is unknown, e.g. somebody else reaped
    // it). Returns nothing while it runs.
    virtual std::optional<int> reapIfEnded(pid_t pid) = 0;
    // Sends SIGKILL; the process is reaped later through reapIfEnded or
    // killAndReap.
    virtual void kill(pid_t pid) = 0;
    // SIGKILL, then waits until the process is gone and reaped.
    virtual void killAndReap(pid_t pid) = 0;
};

class PosixChildProcessOps final : public ChildProcessOps {
public:
    std::optional<int> reapIfEnded(pid_t pid) override;
    void kill(pid_t pid) override;
    void killAndReap(pid_t pid) override;
};

} // namespace tv
