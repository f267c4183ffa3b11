#pragma once
// The Player's command line, on both sides: the engine writes the 15
// arguments (EncodePlayerArguments), the Player reads them back into its
// settings (ParsePlayerArguments). Text arguments travel without spaces
// ("%20" in their place); URL, title and font are enclosed in single quotes
// with a single quote inside doubled, and the Player strips the first and the
// last character of them. Colours travel as "0x" + RRGGBB.
// Pure functions, any thread.

#include "common/Result.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

inline constexpr int kPlayerArgumentCount = 15;
// "%20" stands for a space inside an argument.
inline constexpr std::string_view kEncodedSpace = "%20";

// What the engine hands to a Player (the profile's texts for the title style).
struct PlayerLaunch {
    std::int32_t index = 0;   // player index, from 0
    std::string url;
    std::string channelName;  // frame channel name, also the Player's mailbox
    bool hasAudio = false;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::string title;
    std::string font;
    std::string size;         // size index
    std::string colour;       // colour name or number, as the profile holds it
    std::string position;     // 0 to 6
    std::string offset;       // 0 to 10
    std::string transparent;  // "1" or "0"
    std::string backColour;   // colour name or number
    std::string alpha;        // box opacity in tenths
};

// The settings a Player takes from its 15 arguments.
struct TPlayerArguments {
    std::int32_t PlayerIndex = 0;
    std::string URL;
    std::string MFile;
    bool HasAudio = false;
    std::int32_t OutWidth = 0;
    std::int32_t OutHeight = 0;
    std::string TVTitle;
    std::string FontName;          // file base name: no spaces, lower case
    std::string FontSize;          // pixels, decimal: 4 * index + 8
    std::string FontColor;         // lower case, e.g. 0xffffff
    std::int32_t TitlePos = 0;
    std::int32_t TitleOffset = 0;
    std::string TitleTranspParent; // as given
    std::string Backcolor;         // lower case
    std::string Alpha;             // decimal fraction, e.g. 0.8
};

// Engine side: the 15 arguments (argv[1..15]). Fails when a colour is
// neither a colour name nor a number.
Result<std::vector<std::string>> EncodePlayerArguments(const PlayerLaunch& launch);

// Player side: reads argv[1..] (at least 15 entries; more are ignored).
// Fails with "ParamCount:" + count when fewer arrive, or with the text of the
// conversion error when argument 1, 4, 5, 6 or 15 does not convert.
Result<TPlayerArguments> ParsePlayerArguments(const std::vector<std::string>& args);

// Helpers the two sides share.
std::string encodeSpaces(std::string_view text);   // " " -> "%20"
std::string decodeSpaces(std::string_view text);   // "%20" -> " "
std::string quoteArgument(std::string_view text);  // 'text', with ' doubled
std::string stripFirstAndLast(std::string_view text);

// The opacity text: tenths as a decimal fraction, shortest general form with
// at most two significant digits ("8" gives "0.8", "10" gives "1").
std::string alphaText(std::int32_t tenths);

} // namespace tv
