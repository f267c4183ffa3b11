#include "platform/SpawnProcess.h"

#include <csignal>
#include <cstring>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace tv::platform {

namespace {

constexpr int kFirstClosedDescriptor = 3; // after stdin, stdout, stderr

} // namespace

pid_t spawnProcess(const std::string& program, const std::vector<std::string>& args, const SpawnOptions& options)
{
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    std::vector<char*> envp;
    std::string parent;
    if (options.dieWithThisProcess) {
        const std::string prefix = std::string(kParentPidVariable) + "=";
        parent = prefix + std::to_string(getpid());
        for (char** e = environ; e && *e; ++e)
            if (std::strncmp(*e, prefix.c_str(), prefix.size()) != 0)
                envp.push_back(*e);
        envp.push_back(parent.data());
        envp.push_back(nullptr);
    }

    posix_spawnattr_t attr;
    int rc = posix_spawnattr_init(&attr);
    if (rc != 0)
        return -rc;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.newProcessGroup) {
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&attr, 0);
    }
    posix_spawnattr_setflags(&attr, flags);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);

    // Only the standard streams are handed down: a listening socket or a
    // recording file of ours must never stay open in a child.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, kFirstClosedDescriptor);

    pid_t pid = 0;
    rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(),
                     options.dieWithThisProcess ? envp.data() : environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc != 0 ? -rc : pid;
}

} // namespace tv::platform
