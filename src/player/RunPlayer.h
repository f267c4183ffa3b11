#pragma once
// RunPlayer: the engine's way to start a Player process for one player. The
// Player program is taken from the running program's folder and started with
// an argv array (no shell), its 15 arguments encoded as the Player reads them
// (see PlayerCommandLine.h), in a process group of its own, with descriptors
// other than the standard three closed, and with the engine's pid in its
// environment so that it dies with the engine. Main thread of the engine (a
// Player dies when the thread that started it ends).
//
// Returns the new process id. The caller owns the child: it must reap it
// (waitpid) once it ends or after killing it. Errors: a colour text that does
// not convert, or the system's reason why the process could not start.

#include "common/Result.h"
#include "player/PlayerCommandLine.h"

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace tv {

inline constexpr const char* kPlayerProgramName = "Player";

Result<pid_t> RunPlayer(std::int32_t index, const std::string& url, const std::string& channelName, bool hasAudio,
                        std::int32_t width, std::int32_t height, const std::string& title, const std::string& font,
                        const std::string& size, const std::string& colour, const std::string& position,
                        const std::string& offset, const std::string& transparent, const std::string& backColour,
                        const std::string& alpha);

Result<pid_t> RunPlayer(const PlayerLaunch& launch);

} // namespace tv
