#pragma once
// A child process started by this one: spawned from an argv array (never
// through a shell) in a process group of its own, ended with SIGKILL and
// reaped. Every child started here must be reaped, through kill(), wait() or
// poll(), or it stays behind as a zombie.
//
// Owns the child's pid until it is reaped; destroying an unreaped Process
// makes one non-blocking attempt to reap it and otherwise leaves the child
// running. Not thread-safe; use one object from one thread.
//
// Death with the parent: the child calls dieWithParent() at start-up. Linux
// sends the signal when the *thread* that spawned the child ends, so spawn
// from a thread that lives as long as the process (the main thread).

#include "common/Result.h"
#include "platform/SpawnProcess.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tv::platform {

// How a reaped child ended.
struct ExitStatus {
    bool exited = false; // true: ended by exit() with code; false: by signal
    int code = 0;        // exit code when exited
    int signal = 0;      // terminating signal otherwise
};

class Process {
public:
    // Environment variable through which a child learns its parent's pid,
    // so that dieWithParent() can tell a parent that has ended already.
    static constexpr const char* kParentPidVariable = platform::kParentPidVariable;

    // Starts program (a path; no PATH search) with args as argv[1..]. argv[0]
    // is program. The child inherits the environment, the current directory
    // and the standard streams (no other descriptor), in a new process group,
    // with our pid under kParentPidVariable (see spawnProcess()). Errors are
    // the system's.
    static Result<Process> spawn(const std::string& program, const std::vector<std::string>& args);

    // For a child at start-up: be killed with sig when the parent ends. Ends
    // the process at once (_exit(exitCode)) when the parent that started it
    // has ended already. Returns false when the kernel refused the request.
    static bool dieWithParent(int sig, int exitCode);

    Process() = default;
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    // 0 once reaped or when empty.
    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0; }

    // Non-blocking: the exit status once the child has ended (reaping it),
    // nothing while it runs.
    std::optional<ExitStatus> poll();

    // Blocks until the child ends and reaps it.
    std::optional<ExitStatus> wait();

    // SIGKILL, then reap. Returns the status, or nothing when there was no
    // child (already reaped).
    std::optional<ExitStatus> kill();

private:
    explicit Process(pid_t pid) : pid_(pid) {}

    pid_t pid_ = 0;
};

} // namespace tv::platform
