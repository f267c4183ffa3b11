#include "player/RunPlayer.h"

#include "platform/Paths.h"
#include "platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace tv {

namespace {

// First descriptor that a child does not inherit.
constexpr int kFirstClosedDescriptor = 3;

} // namespace

Result<pid_t> spawnDetachedChild(const std::string& program, const std::vector<std::string>& args)
{
    std::vector<std::string> env;
    const std::string parentKey = std::string(platform::Process::kParentPidVariable) + "=";
    for (char** e = environ; e && *e; ++e) {
        if (std::strncmp(*e, parentKey.c_str(), parentKey.size()) != 0)
            env.emplace_back(*e);
    }
    env.push_back(parentKey + std::to_string(getpid()));

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, kFirstClosedDescriptor);

    pid_t pid = 0;
    const int err = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (err != 0)
        return fail("cannot start " + program + ": " + std::strerror(err));
    return pid;
}

Result<pid_t> RunPlayer(const PlayerLaunch& launch)
{
    Result<std::vector<std::string>> args = EncodePlayerArguments(launch);
    if (!args)
        return fail(args.error());
    return spawnDetachedChild(platform::programFolder() + kPlayerProgramName, args.value());
}

Result<pid_t> RunPlayer(std::int32_t index, const std::string& url, const std::string& channelName, bool hasAudio,
                        std::int32_t width, std::int32_t height, const std::string& title, const std::string& font,
                        const std::string& size, const std::string& colour, const std::string& position,
                        const std::string& offset, const std::string& transparent, const std::string& backColour,
                        const std::string& alpha)
{
    PlayerLaunch l;
    l.index = index;
    l.url = url;
    l.channelName = channelName;
    l.hasAudio = hasAudio;
    l.width = width;
    l.height = height;
    l.title = title;
    l.font = font;
    l.size = size;
    l.colour = colour;
    l.position = position;
    l.offset = offset;
    l.transparent = transparent;
    l.backColour = backColour;
    l.alpha = alpha;
    return RunPlayer(l);
}

} // namespace tv
