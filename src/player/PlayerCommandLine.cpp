#include "player/PlayerCommandLine.h"

#include "common/AsciiText.h"
#include "common/Colors.h"
#include "common/NumberText.h"

#include <cmath>
#include <cstdio>

namespace tv {

namespace {

// Size index taken when argument 9 is not a number.
constexpr std::int32_t kDefaultSizeIndex = 1;
// Font size in pixels = kFontSizeStep * index + kFontSizeBase.
constexpr std::int32_t kFontSizeStep = 4;
constexpr std::int32_t kFontSizeBase = 8;

Error notInteger(std::string_view text)
{
    return fail("'" + std::string(text) + "' is not a valid integer value");
}

Result<std::int32_t> toInteger(std::string_view text)
{
    if (auto v = parseIntegerText(text))
        return *v;
    return notInteger(text);
}

std::int32_t toIntegerOr(std::string_view text, std::int32_t fallback)
{
    return parseIntegerText(text).value_or(fallback);
}

// Any number (true when not zero), or True / False in any letter case.
Result<bool> toBoolean(std::string_view text)
{
    if (auto v = parseIntegerText(text))
        return *v != 0;
    if (auto d = parseDecimalText(text))
        return *d != 0.0;
    const std::string lower = asciiLower(text);
    if (lower == "true")
        return true;
    if (lower == "false")
        return false;
    return fail("'" + std::string(text) + "' is not a valid boolean value");
}

} // namespace

std::string encodeSpaces(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == ' ')
            out += kEncodedSpace;
        else
            out += c;
    }
    return out;
}

std::string decodeSpaces(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text.substr(i, kEncodedSpace.size()) == kEncodedSpace) {
            out += ' ';
            i += kEncodedSpace.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string quoteArgument(std::string_view text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += '\'';
        out += c;
    }
    out += '\'';
    return out;
}

std::string stripFirstAndLast(std::string_view text)
{
    if (text.size() < 2)
        return {};
    return std::string(text.substr(1, text.size() - 2));
}

std::string alphaText(std::int32_t tenths)
{
    const double value = tenths / 10.0;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2g", value);
    return buf;
}

Result<std::vector<std::string>> EncodePlayerArguments(const PlayerLaunch& launch)
{
    Result<std::string> colour = colorTextToHex(launch.colour, false);
    if (!colour)
        return fail("title colour: " + colour.error());
    Result<std::string> backColour = colorTextToHex(launch.backColour, false);
    if (!backColour)
        return fail("title box colour: " + backColour.error());

    std::vector<std::string> args;
    args.reserve(kPlayerArgumentCount);
    args.push_back(integerText(launch.index));
    args.push_back(quoteArgument(encodeSpaces(launch.url)));
    args.push_back(launch.channelName);
    args.push_back(launch.hasAudio ? "-1" : "0");
    args.push_back(integerText(launch.width));
    args.push_back(integerText(launch.height));
    args.push_back(quoteArgument(encodeSpaces(launch.title)));
    args.push_back(quoteArgument(encodeSpaces(launch.font)));
    args.push_back(launch.size);
    args.push_back(colour.value());
    args.push_back(launch.position);
    args.push_back(launch.offset);
    args.push_back(launch.transparent);
    args.push_back(backColour.value());
    args.push_back(launch.alpha);
    return args;
}

Result<TPlayerArguments> ParsePlayerArguments(const std::vector<std::string>& args)
{
    if (args.size() < static_cast<std::size_t>(kPlayerArgumentCount))
        return fail("ParamCount:" + std::to_string(args.size()));

    TPlayerArguments a;
    Result<std::int32_t> index = toInteger(args[0]);
    if (!index)
        return fail(index.error());
    a.PlayerIndex = index.value();
    a.URL = decodeSpaces(stripFirstAndLast(args[1]));
    a.MFile = args[2];
    Result<bool> hasAudio = toBoolean(args[3]);
    if (!hasAudio)
        return fail(hasAudio.error());
    a.HasAudio = hasAudio.value();
    Result<std::int32_t> width = toInteger(args[4]);
    if (!width)
        return fail(width.error());
    a.OutWidth = width.value();
    Result<std::int32_t> height = toInteger(args[5]);
    if (!height)
        return fail(height.error());
    a.OutHeight = height.value();
    a.TVTitle = decodeSpaces(stripFirstAndLast(args[6]));

    std::string font = decodeSpaces(stripFirstAndLast(args[7]));
    std::string compact;
    for (char c : font) {
        if (c != ' ')
            compact += c;
    }
    a.FontName = asciiLower(compact);

    const std::int64_t sizeIndex = toIntegerOr(args[8], kDefaultSizeIndex);
    a.FontSize = integerText(kFontSizeStep * sizeIndex + kFontSizeBase);
    a.FontColor = asciiLower(args[9]);
    a.TitlePos = toIntegerOr(args[10], 0);
    a.TitleOffset = toIntegerOr(args[11], 0);
    a.TitleTranspParent = args[12];
    a.Backcolor = asciiLower(args[13]);
    Result<std::int32_t> alpha = toInteger(args[14]);
    if (!alpha)
        return fail(alpha.error());
    a.Alpha = alphaText(alpha.value());
    return a;
}

} // namespace tv
