// Player: one decoder process per mosaic cell. See player/TfPlayer.h.
#include "player/TfPlayer.h"

int main(int argc, char** argv)
{
    return tv::TfPlayer::Exec(argc, argv);
}
