#include "engine/PlayerSupervisor.h"

#include <algorithm>

namespace tv {

PlayerSupervisor::PlayerSupervisor(PlayerSupervisorHost& host, ChildProcessOps& ops,
                                   int players)
    : host_(host), ops_(ops), slots_(static_cast<size_t>(std::max(players, 0)))
{
}

PlayerSupervisor::~PlayerSupervisor()
{
    stopAll();
}

void PlayerSupervisor::adopt(int player, pid_t pid, int source, int64_t now)
{
    std::lock_guard guard(lock_);
    if (stopped_ || player < 0 || player >= players())
        return;
    Slot& s = slots_[player];
    s.pid = pid;
    s.source = source;
    s.startedAt = now;
    s.dueAt = -1;
    if (pid <= 0)
        scheduleRestartLocked(player, now, -1);
}

pid_t PlayerSupervisor::start(int player, int source, int64_t now)
{
    std::lock_guard guard(lock_);
    if (stopped_ || player < 0 || player >= players())
        return 0;
    slots_[player].source = source;
    startLocked(player, now);
    return slots_[player].pid;
}

void PlayerSupervisor::ChangePlayer(int player, int source, int64_t now)
{
    std::lock_guard guard(lock_);
    if (stopped_ || player < 0 || player >= players())
        return;
    Slot& s = slots_[player];
    host_.sendClose(player);
    if (s.pid > 0) {
        retired_.push_back({s.pid, now + kCloseGraceMs, false});
        s.pid = 0;
    }
    // A change that comes while an earlier one is still waiting simply
    // takes its place: only the latest source is started.
    s.source = source;
    s.dueAt = now + kCloseWaitMs;
    s.isRestart = false;
    s.backoffMs = 0;
}

void PlayerSupervisor::startLocked(int player, int64_t now)
{
    Slot& s = slots_[player];
    s.dueAt = -1;
    s.startedAt = now;
    s.pid = host_.startPlayer(player, s.source);
    if (s.pid <= 0) {
        s.pid = 0;
        scheduleRestartLocked(player, now, -1);
    }
}

void PlayerSupervisor::scheduleRestartLocked(int player, int64_t now, int waitStatus)
{
    Slot& s = slots_[player];
    const bool quick = s.isRestart && now - s.startedAt < kHealthyRunMs;
    if (quick && s.backoffMs > 0)
        s.backoffMs = std::min(s.backoffMs * 2, kRestartMaxMs);
    else
        s.backoffMs = kRestartFirstMs;
    s.dueAt = now + s.backoffMs;
    s.isRestart = true;
    host_.playerEnded(player, waitStatus, s.backoffMs);
}

void PlayerSupervisor::poll(int64_t now)
{
    std::lock_guard guard(lock_);
    if (stopped_)
        return;

    std::erase_if(retired_, [&](Retired& r) {
        if (ops_.reapIfEnded(r.pid))
            return true;
        if (!r.killed && now >= r.killAt) {
            ops_.kill(r.pid); // ignored "Close": it would fight its successor
            r.killed = true;
        }
        return false;
    });

    for (int p = 0; p < players(); ++p) {
        Slot& s = slots_[p];
        if (s.pid > 0) {
            if (auto status = ops_.reapIfEnded(s.pid)) {
                s.pid = 0;
                scheduleRestartLocked(p, now, *status);
            }
        }
        if (s.pid <= 0 && s.dueAt >= 0 && now >= s.dueAt)
            startLocked(p, now);
    }
}

void PlayerSupervisor::stopAll()
{
    std::lock_guard guard(lock_);
    if (stopped_)
        return;
    stopped_ = true;
    for (Slot& s : slots_) {
        if (s.pid > 0)
            ops_.killAndReap(s.pid);
        s.pid = 0;
        s.dueAt = -1;
    }
    for (const Retired& r : retired_)
        ops_.killAndReap(r.pid);
    retired_.clear();
}

pid_t PlayerSupervisor::processId(int player) const
{
    std::lock_guard guard(lock_);
    return slots_.at(player).pid;
}

int PlayerSupervisor::source(int player) const
{
    std::lock_guard guard(lock_);
    return slots_.at(player).source;
}

bool PlayerSupervisor::restartPending(int player) const
{
    std::lock_guard guard(lock_);
    const Slot& s = slots_.at(player);
    return s.pid <= 0 && s.dueAt >= 0;
}

bool PlayerSupervisor::stopped() const
{
    std::lock_guard guard(lock_);
    return stopped_;
}

std::vector<pid_t> PlayerSupervisor::knownProcesses() const
{
    std::lock_guard guard(lock_);
    std::vector<pid_t> out;
    for (const Slot& s : slots_)
        if (s.pid > 0)
            out.push_back(s.pid);
    for (const Retired& r : retired_)
        out.push_back(r.pid);
    return out;
}

} // namespace tv
