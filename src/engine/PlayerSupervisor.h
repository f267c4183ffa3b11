#pragma once
// PlayerSupervisor: the pool of Player processes of one run. It owns, per
// player, the current process id, the source that process shows, a pending
// replacement, and the restart back-off; besides those, every replaced
// process that has not ended yet.
//
// - ChangePlayer sends "Close" at once and starts the successor 200 ms later
//   without blocking the caller: poll() starts it when it is due.
// - A current process that ends on its own (a crash, or a successor that found
//   its mailbox still taken) is started again with the same source, 1 s later,
//   backing off to 30 s while it keeps ending quickly.
// - A replaced process is never restarted; it is reaped when it ends and
//   killed when it has ignored "Close" for 5 s.
// - stopAll kills and reaps every process it knows and ends the supervision.
//
// Threads: everything runs on the main thread, except that stopAll may come
// from another thread (the open watchdog) while the main thread is blocked;
// one mutex serialises all of it. The host is called with that mutex held and
// must not call back into the supervisor.

#include "engine/ChildProcessOps.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace tv {

class PlayerSupervisorHost {
public:
    virtual ~PlayerSupervisorHost() = default;
    // Send "Close" to the mailbox of player `player` (no answer awaited).
    virtual void sendClose(int player) = 0;
    // Start a Player process for `player` showing `source`; its process id,
    // or 0 or less when the start failed.
    virtual pid_t startPlayer(int player, int source) = 0;
    // A current process ended without being asked to (wait status as
    // waitpid gives it, -1 when unknown), and a restart is due in `delayMs`.
    virtual void playerEnded(int /*player*/, int /*waitStatus*/, int /*delayMs*/) {}
};

class PlayerSupervisor {
public:
    static constexpr int kCloseWaitMs = 200;        // "Close", then the successor
    static constexpr int kRestartFirstMs = 1000;    // first restart delay
    static constexpr int kRestartMaxMs = 30000;     // back-off ceiling
    static constexpr int kHealthyRunMs = 30000;     // a run this long resets the back-off
    static constexpr int kCloseGraceMs = 5000;      // a replaced Player is killed after this
    static constexpr int kPollMs = 50;              // how often the owner should call poll()

    PlayerSupervisor(PlayerSupervisorHost& host, ChildProcessOps& ops, int players);
    ~PlayerSupervisor();

    PlayerSupervisor(const PlayerSupervisor&) = delete;
    PlayerSupervisor& operator=(const PlayerSupervisor&) = delete;

    // Registers the process that the run's start gave player `player`.
    void adopt(int player, pid_t pid, int source, int64_t nowMs);
    // Starts player `player` now (through the host) and registers it.
    pid_t start(int player, int source, int64_t nowMs);
    // "Close" to the current process, successor with `source` 200 ms later.
    void ChangePlayer(int player, int source, int64_t nowMs);
    // Reaps ended processes, starts due successors and restarts, kills
    // replaced processes that overstayed. Call every kPollMs or so.
    void poll(int64_t nowMs);
    // Kills and reaps every known process; later calls do nothing.
    void stopAll();

    int players() const { return static_cast<int>(slots_.size()); }
    pid_t processId(int player) const;
    int source(int player) const;
    bool restartPending(int player) const;
    bool stopped() const;
    // Every process still known (current and replaced), for checks.
    std::vector<pid_t> knownProcesses() const;

private:
    struct Slot {
        pid_t pid = 0;
        int source = 0;
        int64_t startedAt = 0;
        int64_t dueAt = -1;       // a start is due at this time (-1: none)
        bool isRestart = false;   // the due start replaces a process that ended
        int backoffMs = 0;        // delay of the last restart (0: none yet)
    };
    struct Retired {
        pid_t pid;
        int64_t killAt;
        bool killed;
    };

    void startLocked(int player, int64_t now);
    void scheduleRestartLocked(int player, int64_t now, int waitStatus);

    PlayerSupervisorHost& host_;
    ChildProcessOps& ops_;
    mutable std::mutex lock_;
    std::vector<Slot> slots_;
    std::vector<Retired> retired_;
    bool stopped_ = false;
};

} // namespace tv
