// The Player's command line on both sides: what the engine writes and what
// the Player reads back.
#include "player/PlayerCommandLine.h"

#include <gtest/gtest.h>

namespace tv {
namespace {

std::vector<std::string> exampleArgs()
{
    return {"0", "'D:\\Video\\Sport%20News.ts'", "MFile0", "-1", "638", "358", "'Sport%20News'", "'tahoma'", "3",
            "0xFFFFFF", "1", "1", "0", "0x000000", "8"};
}

TEST(PlayerCommandLine, ExampleIsReadAsTheTableSays)
{
    Result<TPlayerArguments> r = ParsePlayerArguments(exampleArgs());
    ASSERT_TRUE(r.ok()) << r.error();
    const TPlayerArguments& a = r.value();
    EXPECT_EQ(a.PlayerIndex, 0);
    EXPECT_EQ(a.URL, "D:\\Video\\Sport News.ts");
    EXPECT_EQ(a.MFile, "MFile0");
    EXPECT_TRUE(a.HasAudio);
    EXPECT_EQ(a.OutWidth, 638);
    EXPECT_EQ(a.OutHeight, 358);
    EXPECT_EQ(a.TVTitle, "Sport News");
    EXPECT_EQ(a.FontName, "tahoma");
    EXPECT_EQ(a.FontSize, "20");
    EXPECT_EQ(a.FontColor, "0xffffff");
    EXPECT_EQ(a.TitlePos, 1);
    EXPECT_EQ(a.TitleOffset, 1);
    EXPECT_EQ(a.TitleTranspParent, "0");
    EXPECT_EQ(a.Backcolor, "0x000000");
    EXPECT_EQ(a.Alpha, "0.8");
}

TEST(PlayerCommandLine, SingleArgumentConversions)
{
    struct Case {
        int index; // argument position, from 0
        std::string value;
        std::string field;
        std::string expected;
    };
    const Case cases[] = {
        {6, "'A%20title%2520x'", "title", "A title%2520x"},
        {6, "'100%2025'", "title", "100 25"},
        {6, "''", "title", ""},
        {6, "'", "title", ""},
        {7, "'Times%20New%20Roman'", "font", "timesnewroman"},
        {7, "'DejaVu Sans'", "font", "dejavusans"},
        {8, "x", "size", "12"},
        {8, "0", "size", "8"},
        {8, "9", "size", "44"},
        {8, "", "size", "12"},
        {14, "1", "alpha", "0.1"},
        {14, "10", "alpha", "1"},
        {14, "5", "alpha", "0.5"},
        {14, "0", "alpha", "0"},
        {14, "15", "alpha", "1.5"},
        {10, "x", "pos", "0"},
        {10, "6", "pos", "6"},
        {11, "", "offset", "0"},
        {11, "10", "offset", "10"},
        {3, "-1", "audio", "1"},
        {3, "0", "audio", "0"},
        {3, "2", "audio", "1"},
        {3, "TRUE", "audio", "1"},
        {3, "false", "audio", "0"},
        {9, "0x00FF00", "colour", "0x00ff00"},
        {13, "0xABCDEF", "back", "0xabcdef"},
        {1, "'udp://127.0.0.1:1234?pkt_size=1316'", "url", "udp://127.0.0.1:1234?pkt_size=1316"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = exampleArgs();
        args[c.index] = c.value;
        Result<TPlayerArguments> r = ParsePlayerArguments(args);
        ASSERT_TRUE(r.ok()) << c.value << ": " << r.error();
        const TPlayerArguments& a = r.value();
        std::string got;
        if (c.field == "title") got = a.TVTitle;
        else if (c.field == "font") got = a.FontName;
        else if (c.field == "size") got = a.FontSize;
        else if (c.field == "alpha") got = a.Alpha;
        else if (c.field == "pos") got = std::to_string(a.TitlePos);
        else if (c.field == "offset") got = std::to_string(a.TitleOffset);
        else if (c.field == "audio") got = a.HasAudio ? "1" : "0";
        else if (c.field == "colour") got = a.FontColor;
        else if (c.field == "back") got = a.Backcolor;
        else if (c.field == "url") got = a.URL;
        EXPECT_EQ(got, c.expected) << "argument " << c.index + 1 << " = " << c.value;
    }
}

TEST(PlayerCommandLine, BadArgumentsAreRefusedWithAReason)
{
    struct Case {
        int index;
        std::string value;
        std::string error;
    };
    const Case cases[] = {
        {0, "x", "'x' is not a valid integer value"},
        {3, "maybe", "'maybe' is not a valid boolean value"},
        {4, "", "'' is not a valid integer value"},
        {5, "12a", "'12a' is not a valid integer value"},
        {14, "0.8", "'0.8' is not a valid integer value"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = exampleArgs();
        args[c.index] = c.value;
        Result<TPlayerArguments> r = ParsePlayerArguments(args);
        ASSERT_FALSE(r.ok()) << c.value;
        EXPECT_EQ(r.error(), c.error);
    }
    std::vector<std::string> few = exampleArgs();
    few.pop_back();
    Result<TPlayerArguments> r = ParsePlayerArguments(few);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), "ParamCount:14");
    EXPECT_EQ(ParsePlayerArguments({}).error(), "ParamCount:0");
}

TEST(PlayerCommandLine, EngineWritesTheExampleAndThePlayerReadsItBack)
{
    PlayerLaunch l;
    l.index = 0;
    l.url = "D:\\Video\\Sport News.ts";
    l.channelName = "MFile0";
    l.hasAudio = true;
    l.width = 638;
    l.height = 358;
    l.title = "Sport News";
    l.font = "tahoma";
    l.size = "3";
    l.colour = "clWhite";
    l.position = "1";
    l.offset = "1";
    l.transparent = "0";
    l.backColour = "clBlack";
    l.alpha = "8";
    Result<std::vector<std::string>> args = EncodePlayerArguments(l);
    ASSERT_TRUE(args.ok()) << args.error();
    EXPECT_EQ(args.value(), exampleArgs());

    l.hasAudio = false;
    l.title = "Bob's  News";
    l.colour = "255"; // a number: red in the lowest byte
    l.backColour = "$00FF0000";
    args = EncodePlayerArguments(l);
    ASSERT_TRUE(args.ok()) << args.error();
    EXPECT_EQ(args.value()[3], "0");
    EXPECT_EQ(args.value()[6], "'Bob''s%20%20News'");
    EXPECT_EQ(args.value()[9], "0xFF0000");
    EXPECT_EQ(args.value()[13], "0x0000FF");
    Result<TPlayerArguments> back = ParsePlayerArguments(args.value());
    ASSERT_TRUE(back.ok());
    EXPECT_FALSE(back.value().HasAudio);
    EXPECT_EQ(back.value().TVTitle, "Bob''s  News"); // only the outer quotes go

    l.colour = "not a colour";
    EXPECT_FALSE(EncodePlayerArguments(l).ok());
}

} // namespace
} // namespace tv
