// Stands in for the engine: starts one Player with RunPlayer for the channel
// and source given (160 x 120 pictures), prints the Player's pid on a line of its own and waits
// to be killed.
#include "player/RunPlayer.h"

#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: player_spawner CHANNEL URL\n");
        return 2;
    }
    tv::PlayerLaunch l;
    l.channelName = argv[1];
    l.url = argv[2];
    l.width = 160;
    l.height = 120;
    l.title = "x";
    l.font = "x";
    l.size = "1";
    l.colour = "clWhite";
    l.position = "0";
    l.offset = "0";
    l.transparent = "1";
    l.backColour = "clBlack";
    l.alpha = "10";
    tv::Result<pid_t> pid = tv::RunPlayer(l);
    if (!pid) {
        std::fprintf(stderr, "%s\n", pid.error().c_str());
        return 1;
    }
    std::printf("%d\n", static_cast<int>(pid.value()));
    std::fflush(stdout);
    for (;;)
        pause();
}
