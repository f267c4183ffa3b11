#pragma once
// The two ways a running mosaic process ends itself: the end of encoding
// (exit code 0) and the restart (ReRunMosaic: a new copy of the same program
// with the same arguments takes over, the old one ends with exit code 4).
//
// ReRunMosaic may run on any thread (the TLive tick on the main thread, the
// open watchdog on its own); only the first caller goes through, any later
// caller waits until the process has ended. The process never returns from
// it.

#include "common/Result.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tv {

constexpr int kExitEndOfEncoding = 0; // the encoder ended its work
constexpr int kExitStopped = 4;       // restart, operator's exit, stop by signal

struct RestartPlan {
    // Ends the players and removes the channels (StopAll).
    std::function<void()> stopAll;
    // Releases whatever the successor must be able to take at once: the
    // single-instance lock above all (and the engine's mailbox, the HTTP
    // port). Runs after stopAll and before the successor is started.
    std::function<void()> releaseForSuccessor;
    // The program to start (an absolute path) and its arguments, without
    // argv[0]: for the console the instance name, unchanged.
    std::string program;
    std::vector<std::string> arguments;
    // Ends the process; _exit after flushing stdio when left empty.
    std::function<void(int)> exit;
};

// Starts `program` with `arguments` in a process group of its own, with no
// descriptor but 0, 1 and 2 inherited, the signal mask cleared and every
// signal at its default action. Returns the new process id.
Result<pid_t> spawnSuccessor(const std::string& program, const std::vector<std::string>& arguments);

// StopAll, release, start the successor, end with exit code 4 whether or not
// the start succeeded (a failed start goes to the event log under
// `displayName`).
[[noreturn]] void ReRunMosaic(const RestartPlan& plan, const std::string& displayName);

// Flushes stdio and ends the process at once with `code`.
[[noreturn]] void endProcess(int code);

} // namespace tv
