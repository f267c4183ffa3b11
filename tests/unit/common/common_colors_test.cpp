#include "common/Colors.h"

#include <gtest/gtest.h>

#include <set>

namespace tv {
namespace {

TEST(CommonColors, TableHoldsEveryNameOnceWithItsNumber)
{
    const auto names = colorNames();
    EXPECT_EQ(names.size(), 52u);
    std::set<std::string_view> seenNames;
    std::set<TColor> seenValues;
    for (const ColorName& c : names) {
        EXPECT_TRUE(seenNames.insert(c.name).second) << c.name;
        EXPECT_TRUE(seenValues.insert(c.value).second) << c.name;
        // Every name converts to its number and back to the same name.
        EXPECT_EQ(StringToColor(c.name).value(), c.value) << c.name;
        EXPECT_EQ(ColorToString(c.value), c.name);
    }
}

TEST(CommonColors, NamesAndNumbers)
{
    struct Case {
        const char* text;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"clBlack", 0x00000000},     {"clblack", 0x00000000},      {"CLWHITE", 0x00FFFFFF},
        {"clRed", 0x000000FF},       {"clBlue", 0x00FF0000},       {"clMedGray", 0x00A4A0A0},
        {"clSkyBlue", 0x00F0CAA6},   {"clCream", 0x00F0FBFF},      {"clMoneyGreen", 0x00C0DCC0},
        {"clScrollBar", 0xFF000000}, {"clBtnFace", 0xFF00000F},    {"clInfoBk", 0xFF000018},
        {"clHotLight", 0xFF00001A},  {"clMenuBar", 0xFF00001E},    {"cl3DDkShadow", 0xFF000015},
        {"clNone", 0x1FFFFFFF},      {"clDefault", 0x20000000},    {"255", 0x000000FF},
        {"$00FF0000", 0x00FF0000},   {"0x0000FF00", 0x0000FF00},   {"-1", 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto color = StringToColor(c.text);
        ASSERT_TRUE(color.ok());
        EXPECT_EQ(static_cast<std::uint32_t>(color.value()), c.value);
    }
    for (const char* bad : {"", "White", "red", "clPink", "cl Red", "#FF0000", "0x", "12.5"}) {
        SCOPED_TRACE(bad);
        auto color = StringToColor(bad);
        ASSERT_FALSE(color.ok());
        EXPECT_NE(color.error().find(bad), std::string::npos);
    }
    // A number without a name: "$" and eight upper-case digits.
    EXPECT_EQ(ColorToString(0x00123456), "$00123456");
    EXPECT_EQ(ColorToString(static_cast<TColor>(0xFF000019u)), "$FF000019");
    EXPECT_EQ(ColorToString(0x00abcdef), "$00ABCDEF");
}

TEST(CommonColors, DesignerReadsNamesOnly)
{
    const std::pair<const char*, TColor> good[] = {
        {"White", clWhite}, {"red", clRed}, {"clRed", clRed}, {"clwhite", clWhite}, {"BtnFace", clSystemColor + 0x0F},
    };
    for (auto [text, color] : good)
        EXPECT_EQ(designerStringToColor(text).value(), color) << text;
    for (const char* bad : {"$000000FF", "255", "Clred", "pink", ""})
        EXPECT_FALSE(designerStringToColor(bad).ok()) << bad;
}

TEST(CommonColors, HexTextForFilters)
{
    EXPECT_EQ(ColorToHexStr(clRed), "0xFF0000");
    EXPECT_EQ(ColorToHexStr(clBlue), "0x0000FF");
    EXPECT_EQ(ColorToHexStr(clLime), "0x00FF00");
    EXPECT_EQ(ColorToHexStr(0x00563412), "0x123456");
    EXPECT_EQ(ColorToHexStr(static_cast<TColor>(0xFF00000Fu)), "0x0F0000"); // top byte ignored

    struct Case {
        const char* text;
        bool lower;
        const char* hex;
    };
    const Case cases[] = {
        {"clblack", true, "0x000000"}, {"clRed", true, "0xff0000"}, {"clWhite", true, "0xffffff"},
        {"clSkyBlue", false, "0xA6CAF0"}, {"$00FF0000", false, "0x0000FF"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(colorTextToHex(c.text, c.lower).value(), c.hex) << c.text;
    EXPECT_FALSE(colorTextToHex("purple-ish", true).ok());
}

} // namespace
} // namespace tv
