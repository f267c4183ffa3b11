#include "engine/ProcessTable.h"

#include <csignal>
#include <sys/wait.h>

namespace tv {

namespace {

// A wait status rebuilt from the platform's description of the end.
int waitStatusOf(const platform::ExitStatus& s)
{
    return s.exited ? (s.code & 0xff) << 8 : (s.signal & 0x7f);
}

} // namespace

pid_t ProcessTable::add(platform::Process process)
{
    const pid_t pid = process.pid();
    if (pid > 0)
        processes_.emplace(pid, std::move(process));
    return pid;
}

std::optional<int> ProcessTable::reapIfEnded(pid_t pid)
{
    auto it = processes_.find(pid);
    if (it == processes_.end())
        return -1;
    auto status = it->second.poll();
    if (!status && it->second.running())
        return std::nullopt;
    processes_.erase(it);
    return status ? waitStatusOf(*status) : -1;
}

void ProcessTable::kill(pid_t pid)
{
    if (processes_.count(pid))
        ::kill(pid, SIGKILL);
}

void ProcessTable::killAndReap(pid_t pid)
{
    auto it = processes_.find(pid);
    if (it == processes_.end())
        return;
    it->second.kill();
    processes_.erase(it);
}

} // namespace tv
