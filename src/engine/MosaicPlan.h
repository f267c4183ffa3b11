#pragma once
// MosaicPlan: what a profile asks of the encoder, worked out before anything
// starts: the input options of the main picture, of every player slot and of
// every sound input, in the order the encoder numbers them (0 the main
// picture, 1 .. P the players, then the sound), each player's size, place and
// sound, and the output option text with the composition graph. Pure
// function of the profile's settings and the base colour; main thread.

#include "common/ProfileSettings.h"

#include <string>
#include <vector>

namespace tv {

struct MosaicPlayerPlan {
    int input = 0;              // encoder input index of the player's slot
    int width = 0, height = 0;  // pixels
    int x = 0, y = 0;           // place on the wall
    bool hasAudio = false;
    std::string inputOptions;
};

struct MosaicPlan {
    static constexpr const char* kDummyOptions = "-re -f frameinput -input_type yuv -pix_fmt yuv420p ";
    static constexpr const char* kDummyRateSize = "-re  -r  %d -s %dx%d ";
    static constexpr int kDummySize = 1;
    static constexpr const char* kPlayerOptions = "-re  -f frameinput -input_type yuv -pix_fmt yuv420p -r 25 -s %dx%d";
    static constexpr const char* kWaveOptions = "-re -f waveinput -ar 48000 -ac 2  -sample_fmt s16 ";

    bool hasMainUrl = false;
    std::string mainInputOptions;        // for the dummy input when there is no main URL
    std::vector<MosaicPlayerPlan> players;
    std::vector<int> soundPlayers;       // player indexes whose sound is an input, in order
    std::vector<int> soundInputs;        // their encoder input indexes
    std::string outputOptions;

    // borderColor: FFmpeg colour syntax ("0xffffff").
    static MosaicPlan build(const ProfileSettings& settings, const std::string& borderColor);
};

} // namespace tv
