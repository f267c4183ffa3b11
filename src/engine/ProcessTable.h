#pragma once
// ProcessTable: the Player processes of a run, owned as platform::Process
// objects and reached by pid, so that the supervisor can work with plain
// process ids while every child is still reaped by the object that started
// it. Serialised by the supervisor's lock (the supervisor is its only user
// once a process was handed in).

#include "engine/ChildProcessOps.h"
#include "platform/Process.h"

#include <map>

namespace tv {

class ProcessTable final : public ChildProcessOps {
public:
    // Takes the process over; returns its pid (0 for an empty one).
    pid_t add(platform::Process process);

    std::optional<int> reapIfEnded(pid_t pid) override;
    void kill(pid_t pid) override;
    void killAndReap(pid_t pid) override;

    size_t size() const { return processes_.size(); }

private:
    std::map<pid_t, platform::Process> processes_;
};

} // namespace tv
