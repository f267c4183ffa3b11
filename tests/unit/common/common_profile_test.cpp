#include "common/ProfileSettings.h"
#include "common/SettingsFile.h"

#include "unit/common/common_test_support.h"

#include <gtest/gtest.h>

namespace tv {
namespace {

TMemIniFile utf8Ini(const std::string& text) { return TMemIniFile::FromBytes(text, IniEncoding::Utf8); }

TEST(CommonProfile, EmptyProfileGivesTheStartDefaults)
{
    const ProfileSettings s = readProfile(TMemIniFile());
    EXPECT_EQ(s.outputUrl, "");
    EXPECT_EQ(s.outWidth, 720);
    EXPECT_EQ(s.outHeight, 576);
    EXPECT_EQ(s.cellWidth(), 1);
    EXPECT_EQ(s.cellHeight(), 1);
    EXPECT_EQ(s.border, 1);
    EXPECT_EQ(s.format, "-c:v mpeg2video");
    EXPECT_EQ(s.borderColor, "clblack");
    EXPECT_EQ(s.mainUrl, "");
    EXPECT_EQ(s.mainWidth, 360);
    EXPECT_EQ(s.mainHeight, 288);
    EXPECT_EQ(s.mainLeft, 100);
    EXPECT_EQ(s.mainTop, 100);
    EXPECT_EQ(s.playersCount, 0);
    EXPECT_EQ(s.changeMode, 1);
    EXPECT_EQ(s.audio, 0);
    EXPECT_EQ(s.changeInterval, 3);
    EXPECT_EQ(s.sourcesCount, 1);
    EXPECT_TRUE(s.players.empty());
    const TitleStyle t = s.title;
    EXPECT_EQ(t.font, "tahoma");
    EXPECT_EQ(t.size, "12");
    EXPECT_EQ(t.color, "clwhite");
    EXPECT_EQ(t.pos, "1");
    EXPECT_EQ(t.offset, "1");
    EXPECT_EQ(t.transparent, "1");
    EXPECT_EQ(t.backColor, "clblack");
    EXPECT_EQ(t.alpha, "10");
    EXPECT_EQ(readTitleStyle(TMemIniFile(), TitleStyle::changeDefaults()).backColor, "clwhite");
    EXPECT_EQ(readTitleStyle(TMemIniFile(), TitleStyle::changeDefaults()).size, "1");
    EXPECT_TRUE(checkRunnable(s).ok());
}

TEST(CommonProfile, PlayerGeometry)
{
    // A 720 x 576 wall of 2 x 2 cells, Border 2; the fifth player has no section.
    const auto ini = utf8Ini("[Output]\nWidth=720\nHeight=576\nColumns=2\nRows=2\nBorder=2\n"
                             "[Players]\nCount=3\n"
                             "[Player1]\nLeft=0\nTop=0\nRight=0\nBottom=0\n"
                             "[Player2]\nLeft=1\nTop=0\nRight=1\nBottom=1\n"
                             "[Player9]\nLeft=0\nTop=0\nRight=1\nBottom=1\n");
    const ProfileSettings s = readProfile(ini);
    ASSERT_EQ(s.players.size(), 3u);
    EXPECT_EQ(s.cellWidth(), 360);
    EXPECT_EQ(s.cellHeight(), 288);
    struct Expect {
        std::int32_t w, h, x, y;
    };
    const Expect expect[] = {
        {356, 284, 2, 2},
        {356, 572, 362, 2},
        {360 - 4, 288 - 4, 100 * 360 + 2, 100 * 288 + 2}, // one cell, far outside the picture
    };
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const PlayerGeometry g = s.playerGeometry(i);
        EXPECT_EQ(g.width, expect[i].w);
        EXPECT_EQ(g.height, expect[i].h);
        EXPECT_EQ(g.x, expect[i].x);
        EXPECT_EQ(g.y, expect[i].y);
    }

    // Player3 on a 720 x 576 wall of 10 x 10 cells with Border 2.
    const auto ten = readProfile(utf8Ini("[Output]\nWidth=720\nHeight=576\nColumns=10\nRows=10\nBorder=2\n"
                                         "[Players]\nCount=3\n[Player3]\nLeft=2\nTop=1\nRight=3\nBottom=1\n"));
    const PlayerGeometry g = ten.playerGeometry(2);
    EXPECT_EQ(g.width, 140);
    EXPECT_EQ(g.height, 53);
    EXPECT_EQ(g.x, 146);
    EXPECT_EQ(g.y, 59);
}

TEST(CommonProfile, HexAndBadNumbersAndRunnability)
{
    const auto s = readProfile(utf8Ini("[output]\nWIDTH=0x2D0\nHeight=$240\nColumns=0\nRows=abc\n"
                                       "[Players]\nCount=-3\nAUDIO=2\n[Sources]\nCount=0\n"));
    EXPECT_EQ(s.outWidth, 720);
    EXPECT_EQ(s.outHeight, 576);
    EXPECT_EQ(s.rows, 1); // not a number: the default
    EXPECT_EQ(s.playersCount, 0);
    EXPECT_EQ(s.audio, 2);
    EXPECT_EQ(s.cellWidth(), 0); // no division by zero
    const Status columns = checkRunnable(s);
    ASSERT_FALSE(columns.ok());
    EXPECT_NE(columns.error().find("Columns"), std::string::npos);

    ProfileSettings noSources = readProfile(utf8Ini("[Sources]\nCount=0\n"));
    const Status sources = checkRunnable(noSources);
    ASSERT_FALSE(sources.ok());
    EXPECT_NE(sources.error().find("source"), std::string::npos);

    // A typing error in Players Count is refused, without reserving room for it.
    const auto typo = readProfile(utf8Ini("[Players]\nCount=2147483647\n"));
    EXPECT_EQ(typo.players.size(), static_cast<size_t>(profile::kMaxPlayersCount));
    const Status tooMany = checkRunnable(typo);
    ASSERT_FALSE(tooMany.ok());
    EXPECT_NE(tooMany.error().find("Players Count"), std::string::npos);
    EXPECT_TRUE(checkRunnable(readProfile(utf8Ini("[Players]\nCount=1000\n"))).ok());

    // Absurd cell numbers saturate instead of overflowing.
    const auto huge = readProfile(utf8Ini("[Players]\nCount=1\n[Player1]\nLeft=-2147483648\nRight=2147483647\n"));
    EXPECT_EQ(huge.playerGeometry(0).width, INT32_MAX);
    EXPECT_EQ(huge.playerGeometry(5).width, 0);
}

TEST(CommonProfile, SourcesAndNewProfileFile)
{
    const auto ini = utf8Ini("[Source2]\nURL=udp://239.1.1.1:1234\nTitle=News\n");
    EXPECT_EQ(readSource(ini, 2).url, "udp://239.1.1.1:1234");
    EXPECT_EQ(readSource(ini, 2).title, "News");
    EXPECT_EQ(readSource(ini, 1).url, "");

    test::TempFolder dir;
    TMemIniFile fresh(dir.file("fresh.ini"));
    writeNewProfile(fresh);
    ASSERT_TRUE(fresh.UpdateFile().ok());
    EXPECT_EQ(test::readBytes(dir.file("fresh.ini")), test::readBytes(test::dataFile("new_profile.ini")));

    EXPECT_EQ(profileFileName("/home/op", "Night wall"), "/home/op/Profiles/Night wall.ini");
    EXPECT_EQ(profileFileName("/home/op/", "a"), "/home/op/Profiles/a.ini");
    EXPECT_EQ(profileName("/home/op/Profiles/Night wall.ini"), "Night wall");
    EXPECT_EQ(profileName("v1.2.ini"), "v1.2");
}

TEST(CommonProfile, SettingsFileLogLevel)
{
    test::TempFolder dir;
    const std::string path = settingsFileName(dir.folder());
    EXPECT_EQ(path, dir.folder() + "TConfig.ini");
    EXPECT_EQ(readLogLevel(TMemIniFile(path, IniEncoding::Utf8)), 1);

    TMemIniFile settings(path, IniEncoding::Utf8);
    writeLogLevel(settings, 5);
    ASSERT_TRUE(settings.UpdateFile().ok());
    EXPECT_EQ(test::readBytes(path), "\xEF\xBB\xBF[Settings]\r\nLogLevel=5\r\n\r\n");
    // Edited by hand without the mark and with other letter case.
    test::writeBytes(path, "[settings]\nloglevel = 7\n");
    EXPECT_EQ(readLogLevel(TMemIniFile(path, IniEncoding::Utf8)), 7);
}

} // namespace
} // namespace tv
