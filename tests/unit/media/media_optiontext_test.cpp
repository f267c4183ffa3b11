// Option texts read like FFmpeg's command line: words, quotes, flags, and the
// output options the encoder takes apart itself.

#include "media/EncoderOutputSettings.h"
#include "media/OptionText.h"

#include <gtest/gtest.h>

using namespace tv::media;

TEST(MediaOptionText, SplitsWordsAndQuotes)
{
    struct Case {
        const char* text;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"", {}},
        {"  -re   -f  frameinput ", {"-re", "-f", "frameinput"}},
        {"-filter_complex \"a [b];c d\" -x 1", {"-filter_complex", "a [b];c d", "-x", "1"}},
        {"-metadata service_provider=\"VornCo\"", {"-metadata", "service_provider=VornCo"}},
        {"-vf \"drawtext=fontfile='f.ttf'\"", {"-vf", "drawtext=fontfile='f.ttf'"}},
        {"-title 'a \"b\"'", {"-title", "a \"b\""}},
        {"-empty \"\"", {"-empty", ""}},
    };
    for (const auto& c : cases) {
        auto w = splitOptionWords(c.text);
        ASSERT_TRUE(w.ok()) << c.text;
        EXPECT_EQ(w.value(), c.words) << c.text;
    }
    EXPECT_FALSE(splitOptionWords("-a \"open").ok());
}

TEST(MediaOptionText, PairsNamesWithValues)
{
    auto items = parseOptionText("-re  -f frameinput -itsoffset -1 -s 2x2", inputFlagNames());
    ASSERT_TRUE(items.ok()) << items.error();
    ASSERT_EQ(items.value().size(), 4u);
    EXPECT_TRUE(items.value()[0].isFlag);
    EXPECT_EQ(items.value()[2].name, "itsoffset");
    EXPECT_EQ(items.value()[2].value, "-1");

    auto missing = parseOptionText("-f", inputFlagNames());
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().find("'f'"), std::string::npos);
    auto stray = parseOptionText("-f mpegts oops", inputFlagNames());
    ASSERT_FALSE(stray.ok());
    EXPECT_NE(stray.error().find("oops"), std::string::npos);
}

TEST(MediaOptionText, OutputSettingsOfAMosaic)
{
    const char* text =
        "-filter_complex \"color=size=720x576:c=0xffffff,format=rgb24 [base];[0:v]  scale=360x288 [player0];"
        "[base][player0]  overlay=shortest=1 :x=0:y=0 \" -map 3:a -map 4:a -vcodec mpeg2video -b:v 3000k "
        "-acodec mp2 -f mpegts -c:a mp2 -metadata service_provider=\"VornCo\" -flush_packets 0 -r 25 -s 352x288 "
        "-pix_fmt yuv420p -g 12 -b 2M";
    auto s = EncoderOutputSettings::parse(text);
    ASSERT_TRUE(s.ok()) << s.error();
    const auto& v = s.value();
    EXPECT_TRUE(v.hasFilterComplex);
    EXPECT_EQ(v.filterComplex.substr(0, 20), "color=size=720x576:c");
    EXPECT_EQ(v.filterComplex.back(), ' ');
    EXPECT_EQ(v.audioMaps, (std::vector<int>{3, 4}));
    EXPECT_EQ(v.videoCodec, "mpeg2video");
    EXPECT_EQ(v.audioCodec, "mp2");
    EXPECT_EQ(v.format, "mpegts");
    EXPECT_EQ(v.frameRate.num, 25);
    EXPECT_EQ(v.width, 352);
    EXPECT_EQ(v.pixFmt, AV_PIX_FMT_YUV420P);
    ASSERT_EQ(v.metadata.size(), 1u);
    EXPECT_EQ(v.metadata[0].second, "VornCo");
    // Left for the encoders and the muxer: -b:v, -flush_packets, -g, -b (as b:v).
    std::vector<std::string> names;
    for (const auto& o : v.privateOptions)
        names.push_back(o.name);
    EXPECT_EQ(names, (std::vector<std::string>{"b:v", "flush_packets", "g", "b:v"}));
}

TEST(MediaOptionText, OutputSettingsRefuseWhatTheyCannotRead)
{
    const char* bad[] = {"-map 0:v", "-map [out]", "-r abc", "-s big", "-pix_fmt nonesuch", "-metadata novalue",
                         "-ac -2", "-f"};
    for (const char* text : bad)
        EXPECT_FALSE(EncoderOutputSettings::parse(text).ok()) << text;
}
