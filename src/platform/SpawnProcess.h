#pragma once
// Starting a program as a child of this process: from an argv array (never
// through a shell), with the standard three descriptors and no other, with the
// default signal mask and the default disposition of every signal whatever
// this process changed, and with the inherited environment. Any thread; the
// caller owns the child and must reap it (waitpid) once it ends.

#include <string>
#include <sys/types.h>
#include <vector>

namespace tv::platform {

// Environment variable through which a child learns its parent's pid, so that
// it can tell a parent that has ended before it asked to die with it (see
// Process::dieWithParent()).
inline constexpr const char* kParentPidVariable = "TILVARON_PARENT_PID";

struct SpawnOptions {
    // Hand the child our pid under kParentPidVariable (replacing any value we
    // inherited ourselves), for a child that is to die with this process.
    bool dieWithThisProcess = true;
    // Start the child in a process group of its own (pgid = its pid), so that
    // a signal to our group (Ctrl+C at a terminal) does not reach it.
    bool newProcessGroup = true;
};

// Starts program (a path; no PATH search) with args as argv[1..] and program
// as argv[0]. Returns the new pid (> 0), or the negated system error number
// (errno value) why the process could not be started.
pid_t spawnProcess(const std::string& program, const std::vector<std::string>& args,
                   const SpawnOptions& options = {});

} // namespace tv::platform
