#pragma once
// The Player's filter texts: the video text (a scale filter to the player's
// size followed by a drawtext filter that draws the source's title), the
// video text used while closing (scale alone) and the audio text; plus the
// lookup of the title's font file. Pure functions apart from the file checks
// of findTitleFont; any thread.

#include "player/PlayerCommandLine.h"

#include <string>

namespace tv {

// Audio filter text: 16-bit signed stereo at 48 kHz.
inline constexpr const char* kAudioFilterText =
    "aformat=sample_fmts=s16:channel_layouts=stereo:sample_rates=48000";
// A title longer than this many UTF-8 bytes is cut (one byte more) or dropped.
inline constexpr std::size_t kMaxTitleBytes = 254;
// Font used when the title's own font file is nowhere to be found.
inline constexpr const char* kFallbackFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct TitleFont {
    std::string path;      // as written into the filter text
    bool fallback = false; // the named font was not found
};

// The title font "<name>.ttf": "fonts/" then "Fonts/" in the current
// directory, then "Fonts/" in the program folder (ending in "/"), else the
// fallback font.
TitleFont findTitleFont(const std::string& fontName, const std::string& programFolder);

// The drawtext part of the video filter text, with its leading comma.
std::string BuildTitleFilter(const TPlayerArguments& a, const std::string& fontFile, const std::string& title);

// "scale=w=W:h=H " followed by BuildTitleFilter(TVTitle).
std::string VideoFilterText(const TPlayerArguments& a, const std::string& fontFile);

// "scale=w=W:h=H": the picture without a title.
std::string ScaleOnlyFilterText(const TPlayerArguments& a);

// Pieces of BuildTitleFilter, exposed for tests.
std::string titleBorderColor(const std::string& fontColor);
std::string titlePositionText(std::int32_t titlePos, std::int32_t titleOffset);
std::string titleBoxText(const std::string& transparent, const std::string& backColor, const std::string& alpha);
std::string limitTitleBytes(const std::string& utf8);

} // namespace tv
