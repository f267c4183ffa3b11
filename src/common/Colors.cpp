#include "common/Colors.h"

#include "common/AsciiText.h"
#include "common/NumberText.h"

#include <array>
#include <cstdio>

namespace tv {
namespace {

constexpr TColor sys(std::uint32_t index) { return static_cast<TColor>(0xFF000000u + index); }

constexpr std::array<ColorName, 52> kColors{{
    {"clBlack", clBlack},
    {"clMaroon", clMaroon},
    {"clGreen", clGreen},
    {"clOlive", clOlive},
    {"clNavy", clNavy},
    {"clPurple", clPurple},
    {"clTeal", clTeal},
    {"clGray", clGray},
    {"clSilver", clSilver},
    {"clRed", clRed},
    {"clLime", clLime},
    {"clYellow", clYellow},
    {"clBlue", clBlue},
    {"clFuchsia", clFuchsia},
    {"clAqua", clAqua},
    {"clWhite", clWhite},
    {"clMoneyGreen", clMoneyGreen},
    {"clSkyBlue", clSkyBlue},
    {"clCream", clCream},
    {"clMedGray", clMedGray},
    {"clScrollBar", sys(0x00)},
    {"clBackground", sys(0x01)},
    {"clActiveCaption", sys(0x02)},
    {"clInactiveCaption", sys(0x03)},
    {"clMenu", sys(0x04)},
    {"clWindow", sys(0x05)},
    {"clWindowFrame", sys(0x06)},
    {"clMenuText", sys(0x07)},
    {"clWindowText", sys(0x08)},
    {"clCaptionText", sys(0x09)},
    {"clActiveBorder", sys(0x0A)},
    {"clInactiveBorder", sys(0x0B)},
    {"clAppWorkSpace", sys(0x0C)},
    {"clHighlight", sys(0x0D)},
    {"clHighlightText", sys(0x0E)},
    {"clBtnFace", sys(0x0F)},
    {"clBtnShadow", sys(0x10)},
    {"clGrayText", sys(0x11)},
    {"clBtnText", sys(0x12)},
    {"clInactiveCaptionText", sys(0x13)},
    {"clBtnHighlight", sys(0x14)},
    {"cl3DDkShadow", sys(0x15)},
    {"cl3DLight", sys(0x16)},
    {"clInfoText", sys(0x17)},
    {"clInfoBk", sys(0x18)},
    {"clHotLight", sys(0x1A)},
    {"clGradientActiveCaption", sys(0x1B)},
    {"clGradientInactiveCaption", sys(0x1C)},
    {"clMenuHighlight", sys(0x1D)},
    {"clMenuBar", sys(0x1E)},
    {"clNone", clNone},
    {"clDefault", clDefault},
}};

} // namespace

std::span<const ColorName> colorNames() { return kColors; }

std::optional<TColor> IdentToColor(std::string_view name)
{
    for (const ColorName& c : kColors)
        if (equalNoCase(c.name, name))
            return c.value;
    return std::nullopt;
}

std::optional<std::string_view> ColorToIdent(TColor color)
{
    for (const ColorName& c : kColors)
        if (c.value == color)
            return c.name;
    return std::nullopt;
}

Result<TColor> StringToColor(std::string_view text)
{
    if (auto named = IdentToColor(text))
        return *named;
    if (auto number = parseIntegerText(text))
        return *number;
    return fail("'" + std::string(text) + "' is not a valid colour value");
}

Result<TColor> designerStringToColor(std::string_view text)
{
    std::string name(text);
    if (name.find("cl") == std::string::npos)
        name.insert(0, "cl");
    return StringToColor(name);
}

std::string ColorToString(TColor color)
{
    if (auto name = ColorToIdent(color))
        return std::string(*name);
    char buf[16];
    std::snprintf(buf, sizeof buf, "$%08X", static_cast<unsigned>(static_cast<std::uint32_t>(color)));
    return buf;
}

std::string ColorToHexStr(TColor color)
{
    const auto v = static_cast<std::uint32_t>(color);
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02X%02X%02X", v & 0xFFu, (v >> 8) & 0xFFu, (v >> 16) & 0xFFu);
    return buf;
}

Result<std::string> colorTextToHex(std::string_view text, bool lowerCase)
{
    auto color = StringToColor(text);
    if (!color)
        return fail(color.error());
    std::string hex = ColorToHexStr(color.value());
    return lowerCase ? asciiLower(hex) : hex;
}

} // namespace tv
