// The Player's filter texts: byte for byte where the title is plain, and
// accepted by the real filter library whatever the title holds.
#include "media/FilterChain.h"
#include "player/TitleFilter.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace tv {
namespace {

TPlayerArguments exampleArguments()
{
    TPlayerArguments a;
    a.OutWidth = 638;
    a.OutHeight = 358;
    a.TVTitle = "Sport News";
    a.FontName = "tahoma";
    a.FontSize = "20";
    a.FontColor = "0xffffff";
    a.TitlePos = 1;
    a.TitleOffset = 1;
    a.TitleTranspParent = "0";
    a.Backcolor = "0x000000";
    a.Alpha = "0.8";
    return a;
}

TEST(PlayerTitleFilter, ExampleByteForByte)
{
    EXPECT_EQ(VideoFilterText(exampleArguments(), "fonts/tahoma.ttf"),
              "scale=w=638:h=358 ,drawtext=text_shaping=1:fontfile='fonts/tahoma.ttf':fontsize=20:"
              "fontcolor=0xffffff:text='Sport News':x=h/11:y=h-text_h:box=1 :boxcolor=0x000000@0.8 "
              ":boxborderw=3:borderw=1:bordercolor=2F4F4F");
    EXPECT_EQ(ScaleOnlyFilterText(exampleArguments()), "scale=w=638:h=358");
    EXPECT_EQ(std::string(kAudioFilterText), "aformat=sample_fmts=s16:channel_layouts=stereo:sample_rates=48000");
}

TEST(PlayerTitleFilter, PositionsAndOffsets)
{
    struct Case {
        int pos, offset;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, ":x=0:y=0"},
        {1, 0, ":x=0:y=h-text_h"},
        {2, 0, ":x=(w-text_w)/2:y=0"},
        {3, 0, ":x=(w-text_w)/2:y=h-text_h"},
        {4, 0, ":x=(w-text_w):y=0"},
        {5, 0, ":x=(w-text_w):y=h-text_h"},
        {6, 0, ":x=(w-text_w)/2:y=(h-text_h)/2"},
        {7, 0, ":x=(w-text_w)/2:y=(h-text_h)/2"},
        {-1, 0, ":x=(w-text_w)/2:y=(h-text_h)/2"},
        {0, 1, ":x=h/11:y=h/11"},
        {0, 10, ":x=h/2:y=h/2"},
        {0, -3, ":x=0:y=0"},
        {0, 12, ":x=h/2:y=h/2"}, // beyond the profile's range: held at 10
        {1, 1, ":x=h/11:y=h-text_h"},
        {4, 5, ":x=(w-text_w):y=h/7"},
        {3, 5, ":x=(w-text_w)/2:y=h-text_h"},
        {6, 9, ":x=(w-text_w)/2:y=(h-text_h)/2"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(titlePositionText(c.pos, c.offset), c.text) << c.pos << "/" << c.offset;
}

TEST(PlayerTitleFilter, BoxAndBorder)
{
    EXPECT_EQ(titleBoxText("1", "0x000000", "0.8"), "");
    EXPECT_EQ(titleBoxText("0", "0x112233", "1"), ":box=1 :boxcolor=0x112233@1 :boxborderw=3");
    EXPECT_EQ(titleBoxText("true", "0x000000", "0.5"), ":box=1 :boxcolor=0x000000@0.5 :boxborderw=3");
    EXPECT_EQ(titleBoxText("", "0x000000", "0.5"), ":box=1 :boxcolor=0x000000@0.5 :boxborderw=3");

    const std::pair<const char*, const char*> borders[] = {
        {"0xffffff", "2F4F4F"}, {"0x00ff00", "004F00"}, {"0xff0000", "2F0000"},
        {"0x000000", "000000"}, {"white", "000000"},
    };
    for (auto [colour, border] : borders)
        EXPECT_EQ(titleBorderColor(colour), border) << colour;
}

TEST(PlayerTitleFilter, TitleLengthLimit)
{
    EXPECT_EQ(limitTitleBytes(std::string(254, 'a')), std::string(254, 'a'));
    EXPECT_EQ(limitTitleBytes(std::string(255, 'a')), std::string(254, 'a'));
    EXPECT_EQ(limitTitleBytes(std::string(300, 'a')), "");
    // 253 ASCII bytes and one two-byte letter: the letter goes whole.
    EXPECT_EQ(limitTitleBytes(std::string(253, 'a') + "\xC3\xA9"), std::string(253, 'a'));
    TPlayerArguments a = exampleArguments();
    EXPECT_NE(BuildTitleFilter(a, "f.ttf", std::string(300, 'a')).find(":text='':"), std::string::npos);
}

// Builds the picture graph for a title in the real filter library and runs
// one picture through it.
Status filterWithTitle(const std::string& title)
{
    TPlayerArguments a = exampleArguments();
    a.OutWidth = 160;
    a.OutHeight = 120;
    a.TVTitle = title;
    av::FramePtr frame = av::makeFrame();
    frame->width = 320;
    frame->height = 240;
    frame->format = AV_PIX_FMT_YUV420P;
    frame->pts = 0;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return fail("no picture buffer");
    media::FilterChain chain(media::FilterChain::Kind::Video);
    Status st = chain.build(VideoFilterText(a, kFallbackFontFile), frame.get(), AVRational{1, 25});
    if (!st)
        return st;
    if (int err = chain.push(frame.get()); err < 0)
        return fail("push: " + av::errorText(err));
    av::FramePtr out = av::makeFrame();
    if (int err = chain.pull(out.get()); err < 0)
        return fail("pull: " + av::errorText(err));
    if (out->width != 160 || out->height != 120)
        return fail("wrong size");
    return {};
}

TEST(PlayerTitleFilter, AnyTitleGivesAGraphTheLibraryAccepts)
{
    if (!std::filesystem::exists(kFallbackFontFile))
        GTEST_SKIP() << "no " << kFallbackFontFile;
    for (const char* title : {"Sport News", "", "News: 24", "Bob's", "100% Hits", "a\\b", "[x],y;z", "«Канал» 1"}) {
        Status st = filterWithTitle(title);
        EXPECT_TRUE(st.ok()) << title << ": " << (st.ok() ? "" : st.error());
    }
}

TEST(PlayerTitleFilter, FontLookupOrderAndFallback)
{
    namespace fs = std::filesystem;
    const test::TempFolder folder("tv_player_fonts");
    const fs::path& dir = folder.path();
    fs::create_directories(dir / "fonts");
    fs::create_directories(dir / "Fonts");
    fs::create_directories(dir / "prog" / "Fonts");
    std::ofstream(dir / "fonts" / "a.ttf") << "x";
    std::ofstream(dir / "Fonts" / "a.ttf") << "x";
    std::ofstream(dir / "Fonts" / "b.ttf") << "x";
    std::ofstream(dir / "prog" / "Fonts" / "c.ttf") << "x";
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    const std::string prog = (dir / "prog").string() + "/";
    EXPECT_EQ(findTitleFont("a", prog).path, "fonts/a.ttf");
    EXPECT_EQ(findTitleFont("b", prog).path, "Fonts/b.ttf");
    EXPECT_EQ(findTitleFont("c", prog).path, prog + "Fonts/c.ttf");
    TitleFont missing = findTitleFont("nosuchfont", prog);
    EXPECT_TRUE(missing.fallback);
    EXPECT_EQ(missing.path, kFallbackFontFile);
    EXPECT_FALSE(findTitleFont("a", prog).fallback);
    fs::current_path(before);
}

} // namespace
} // namespace tv
