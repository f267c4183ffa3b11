#pragma once
// Colour values as profiles store them: a 32-bit number 0x00BBGGRR (red in the
// lowest byte), or one of the named colours of the table below, including the
// system colours ($FF000000 + index, never looked up on the screen), clNone and
// clDefault. Pure functions, any thread.

#include "common/Result.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tv {

using TColor = std::int32_t;

struct ColorName {
    std::string_view name;
    TColor value;
};

inline constexpr TColor clBlack = 0x00000000;
inline constexpr TColor clMaroon = 0x00000080;
inline constexpr TColor clGreen = 0x00008000;
inline constexpr TColor clOlive = 0x00008080;
inline constexpr TColor clNavy = 0x00800000;
inline constexpr TColor clPurple = 0x00800080;
inline constexpr TColor clTeal = 0x00808000;
inline constexpr TColor clGray = 0x00808080;
inline constexpr TColor clSilver = 0x00C0C0C0;
inline constexpr TColor clRed = 0x000000FF;
inline constexpr TColor clLime = 0x0000FF00;
inline constexpr TColor clYellow = 0x0000FFFF;
inline constexpr TColor clBlue = 0x00FF0000;
inline constexpr TColor clFuchsia = 0x00FF00FF;
inline constexpr TColor clAqua = 0x00FFFF00;
inline constexpr TColor clWhite = 0x00FFFFFF;
inline constexpr TColor clMoneyGreen = 0x00C0DCC0;
inline constexpr TColor clSkyBlue = 0x00F0CAA6;
inline constexpr TColor clCream = 0x00F0FBFF;
inline constexpr TColor clMedGray = 0x00A4A0A0;
// System colours: this base plus the system-colour index.
inline constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;

// Every named colour, in the order of the colour table.
std::span<const ColorName> colorNames();

// Name to number, letter case ignored; nothing for an unknown name.
std::optional<TColor> IdentToColor(std::string_view name);

// Number to name; nothing when the number has no name.
std::optional<std::string_view> ColorToIdent(TColor color);

// A colour name (letter case ignored), or else an integer (decimal, "$" or
// "0x" hexadecimal). Any other text is a conversion error.
Result<TColor> StringToColor(std::string_view text);

// The designer's reading of a colour key: names only. "cl" is put before a
// text that does not contain "cl" (letter case counts), so "White" and "red"
// are accepted, while a number is a conversion error.
Result<TColor> designerStringToColor(std::string_view text);

// The name of a named colour, or "$" followed by eight upper-case hexadecimal
// digits.
std::string ColorToString(TColor color);

// "0x" and six upper-case hexadecimal digits red, green, blue (red first); the
// highest byte is ignored. clRed gives "0xFF0000", clBlue "0x0000FF".
std::string ColorToHexStr(TColor color);

// A colour text of a profile in the form FFmpeg options take it: the colour
// rule above, then ColorToHexStr, lower-cased when asked ("clWhite" with
// lowerCase gives "0xffffff").
Result<std::string> colorTextToHex(std::string_view text, bool lowerCase);

} // namespace tv
