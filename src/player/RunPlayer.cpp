#include "player/RunPlayer.h"

#include "platform/Paths.h"
#include "platform/SpawnProcess.h"

#include <cstring>

namespace tv {

Result<pid_t> RunPlayer(const PlayerLaunch& launch)
{
    Result<std::vector<std::string>> args = EncodePlayerArguments(launch);
    if (!args)
        return fail(args.error());
    const std::string program = platform::programFolder() + kPlayerProgramName;
    const pid_t pid = platform::spawnProcess(program, args.value());
    if (pid < 0)
        return fail("cannot start " + program + ": " + std::strerror(-pid));
    return pid;
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
