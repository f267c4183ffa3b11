#pragma once
// TfPlayer: the Player program's top level. It makes the process-wide set-up
// (fixed number format, media library folder, death with the parent that
// started it, silent media library log), creates the data module TDMPlayer
// with the command line and runs the main thread's event loop until the data
// module ends the process. Main thread only; never shows anything.

namespace tv {

class TfPlayer {
public:
    // Environment variable that, when set to a number, turns the media
    // libraries' own log on at that level (e.g. 16 for errors).
    static constexpr const char* kLogLevelVariable = "TILVARON_PLAYER_AVLOG";

    // Runs the program; returns only when the event loop ends on its own.
    static int Exec(int argc, char** argv);
};

} // namespace tv
