#include "player/TitleFilter.h"

#include "common/NumberText.h"

#include <sys/stat.h>

#include <cstdio>

namespace tv {

namespace {

// The border colour is the title colour masked with this.
constexpr std::uint32_t kBorderMask = 0x2F4F4F;
// Offsets move a 0 coordinate to h / (kOffsetBase - offset).
constexpr std::int32_t kOffsetBase = 12;
constexpr std::int32_t kMaxOffset = 10;
constexpr int kBoxEnabled = 1;
constexpr int kBoxBorderWidth = 3;

bool isFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A text enclosed in single quotes so that it survives both levels of the
// filter library's parsing (graph, then filter options) unchanged. For texts
// without ' \ : the result is just 'text'. With `drawtextExpansion` a "%" or
// "\" is also protected from drawtext's own text expansion.
std::string quoteFilterValue(const std::string& text, bool drawtextExpansion)
{
    std::string out = "'";
    for (char c : text) {
        if (drawtextExpansion && (c == '\\' || c == '%')) {
            // drawtext sees "\c" as c; the options level needs "\\" for "\".
            out += "\\\\";
            if (c == '\\')
                out += "\\\\";
            else
                out += c;
            continue;
        }
        switch (c) {
        case '\\':
        case ':':
            out += '\\';
            out += c;
            break;
        case '\'':
            // Leave the quotes, give the options level "\'", enter them again.
            out += "'\\\\\\''";
            break;
        default:
            out += c;
        }
    }
    out += "'";
    return out;
}

} // namespace

TitleFont findTitleFont(const std::string& fontName, const std::string& programFolder)
{
    const std::string file = fontName + ".ttf";
    for (const std::string& candidate : {"fonts/" + file, "Fonts/" + file, programFolder + "Fonts/" + file}) {
        if (isFile(candidate))
            return {candidate, false};
    }
    return {kFallbackFontFile, true};
}

std::string titleBorderColor(const std::string& fontColor)
{
    const std::optional<std::int32_t> value = parseIntegerText(fontColor);
    const std::uint32_t masked = value ? static_cast<std::uint32_t>(*value) & kBorderMask : 0;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", masked);
    return std::string(buf).substr(2);
}

std::string titlePositionText(std::int32_t titlePos, std::int32_t titleOffset)
{
    std::string pos;
    switch (titlePos) {
    case 0: pos = ":x=0:y=0"; break;
    case 1: pos = ":x=0:y=h-text_h"; break;
    case 2: pos = ":x=(w-text_w)/2:y=0"; break;
    case 3: pos = ":x=(w-text_w)/2:y=h-text_h"; break;
    case 4: pos = ":x=(w-text_w):y=0"; break;
    case 5: pos = ":x=(w-text_w):y=h-text_h"; break;
    default: pos = ":x=(w-text_w)/2:y=(h-text_h)/2"; break;
    }
    if (titleOffset <= 0)
        return pos;
    // Beyond the profile's range the divisor would reach 0: keep the largest offset.
    const std::int32_t offset = titleOffset > kMaxOffset ? kMaxOffset : titleOffset;
    const std::string moved = "h/" + integerText(kOffsetBase - offset);
    std::string out;
    for (char c : pos) {
        if (c == '0')
            out += moved;
        else
            out += c;
    }
    return out;
}

std::string titleBoxText(const std::string& transparent, const std::string& backColor, const std::string& alpha)
{
    if (transparent == "1")
        return {};
    return ":box=" + std::to_string(kBoxEnabled) + " :boxcolor=" + backColor + "@" + alpha +
           " :boxborderw=" + std::to_string(kBoxBorderWidth);
}

std::string limitTitleBytes(const std::string& utf8)
{
    if (utf8.size() <= kMaxTitleBytes)
        return utf8;
    if (utf8.size() > kMaxTitleBytes + 1)
        return {};
    // One byte too many: the last character goes (all of its bytes).
    std::size_t end = utf8.size() - 1;
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
        --end;
    return utf8.substr(0, end);
}

std::string BuildTitleFilter(const TPlayerArguments& a, const std::string& fontFile, const std::string& title)
{
    return ",drawtext=text_shaping=1:fontfile=" + quoteFilterValue(fontFile, false) + ":fontsize=" + a.FontSize +
           ":fontcolor=" + a.FontColor + ":text=" + quoteFilterValue(limitTitleBytes(title), true) +
           titlePositionText(a.TitlePos, a.TitleOffset) +
           titleBoxText(a.TitleTranspParent, a.Backcolor, a.Alpha) + ":borderw=1:bordercolor=" +
           titleBorderColor(a.FontColor);
}

std::string ScaleOnlyFilterText(const TPlayerArguments& a)
{
    return "scale=w=" + integerText(a.OutWidth) + ":h=" + integerText(a.OutHeight);
}

std::string VideoFilterText(const TPlayerArguments& a, const std::string& fontFile)
{
    return ScaleOnlyFilterText(a) + " " + BuildTitleFilter(a, fontFile, a.TVTitle);
}

} // namespace tv
