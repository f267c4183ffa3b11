#pragma once
// TPlayer: what the engine keeps about one player of the running profile.
// Written by Init on the main thread; read by the windows.

#include <cstdint>

namespace tv {

struct TPlayer {
    int32_t ProcessID = 0;       // pid of the player's current process (0: none)
    bool HasAudio = false;       // (audio mode 1 and player 0) or audio mode 2
    int32_t Width = 0;           // picture size in pixels
    int32_t Height = 0;
    int32_t AssignedSource = 0;  // 0: rotates; k > 0: pinned to source k
};

} // namespace tv
