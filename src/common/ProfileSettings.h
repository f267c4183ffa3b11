#pragma once
// The typed view of a profile: section and key names, the values a new
// profile receives, and what the engine reads when a profile starts or a
// player changes its source, with the defaults each of them assumes. Pure
// functions over a TMemIniFile image; the caller owns the image and its
// thread.

#include "common/Result.h"
#include "common/TMemIniFile.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

namespace profile {
inline constexpr std::string_view kOutput = "Output";
inline constexpr std::string_view kMain = "Main";
inline constexpr std::string_view kPlayers = "Players";
inline constexpr std::string_view kSources = "Sources";
inline constexpr std::string_view kSourcePrefix = "Source"; // + k, from 1
inline constexpr std::string_view kPlayerPrefix = "Player"; // + n, from 1
inline constexpr std::string_view kProfilesFolder = "Profiles/";
inline constexpr std::string_view kProfileExtension = ".ini";
// More players than this is a typing error, not a wall: each one is a process.
inline constexpr std::int32_t kMaxPlayersCount = 1000;

std::string sourceSection(int k);
std::string playerSection(int n);
} // namespace profile

// The title keys of section Players, as text: the engine passes them to a
// Player unchanged (the two colours after conversion to hexadecimal).
struct TitleStyle {
    std::string font;
    std::string size;
    std::string color;
    std::string pos;
    std::string offset;
    std::string transparent;
    std::string backColor;
    std::string alpha;

    static TitleStyle startDefaults();  // when a profile starts
    static TitleStyle changeDefaults(); // when a player gets another source
};

TitleStyle readTitleStyle(const TMemIniFile& ini, const TitleStyle& defaults);

struct ProfileSource {
    std::string url;
    std::string title;
};

// Source k (from 1); missing keys read as empty.
ProfileSource readSource(const TMemIniFile& ini, int k);

// The cells of one player as the engine reads them at start: Left and Top
// default to 1 where they size the player and to 100 where they place it.
struct PlayerCells {
    std::int32_t sizeLeft = 1;
    std::int32_t sizeTop = 1;
    std::int32_t right = 1;
    std::int32_t bottom = 1;
    std::int32_t posLeft = 100;
    std::int32_t posTop = 100;
};

struct PlayerGeometry {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t x = 0;
    std::int32_t y = 0;
};

// Everything the engine reads when a profile starts, with its defaults.
struct ProfileSettings {
    // Output
    std::string outputUrl;               // as stored; the engine lower-cases it
    std::int32_t outWidth = 720;         // the picture
    std::int32_t outHeight = 576;
    std::int32_t gridWidth = 1;          // Width again, for the cell width
    std::int32_t gridHeight = 1;
    std::int32_t columns = 1;
    std::int32_t rows = 1;
    std::int32_t border = 1;
    std::string format = "-c:v mpeg2video";
    std::string borderColor = "clblack"; // colour text, see colorTextToHex
    // Main
    std::string mainUrl;
    std::int32_t mainWidth = 360;
    std::int32_t mainHeight = 288;
    std::int32_t mainLeft = 100;
    std::int32_t mainTop = 100;
    // Players
    std::int32_t playersCount = 0;       // never negative
    std::int32_t changeMode = 1;
    std::int32_t audio = 0;
    std::int32_t changeInterval = 3;     // seconds
    TitleStyle title = TitleStyle::startDefaults();
    // Sources
    std::int32_t sourcesCount = 1;
    // Player1 .. Player(playersCount), at most kMaxPlayersCount entries
    std::vector<PlayerCells> players;

    // Integer division of the grid; 0 when the divisor is not positive.
    std::int32_t cellWidth() const;
    std::int32_t cellHeight() const;
    // Pixel size and place of player i (from 0).
    PlayerGeometry playerGeometry(size_t i) const;
};

ProfileSettings readProfile(const TMemIniFile& ini);

// What a run divides by must be at least 1: Output Columns, Output Rows and
// Sources Count; Players Count must not exceed kMaxPlayersCount. The error
// text names the key.
Status checkRunnable(const ProfileSettings& settings);

// Writes the keys of a new profile, in their order and with their values,
// into the image (sections Output, Main, Players, Sources).
void writeNewProfile(TMemIniFile& ini);

// currentDir + "Profiles/" + name + ".ini" (a "/" is added after currentDir
// when it lacks one).
std::string profileFileName(std::string_view currentDir, std::string_view name);

// A profile's name: its file name without folder and extension.
std::string profileName(std::string_view path);

} // namespace tv
