// What Init refuses before it starts anything, and the refusal of a second
// Init while a run exists.

#include "engine/TDM.h"

#include "support/QtEventPump.h"
#include "support/TempFolder.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace tv;
using tv::test::app;
namespace fs = std::filesystem;

namespace {

std::string profile(const std::string& output, const std::string& players, const std::string& sources,
                    const std::string& main = "")
{
    return "[Output]\nURL=udp://127.0.0.1:9\nWidth=720\nHeight=576\n" + output +
           "Format=-vcodec mpeg2video -f mpegts\n[Main]\nURL=" + main +
           "\nWidth=8\nHeight=8\n[Players]\n" + players + "[Sources]\n" + sources;
}

std::string replaced(std::string text, const std::string& what, const std::string& with)
{
    text.replace(text.find(what), what.size(), with);
    return text;
}

class EngineTdmInit : public ::testing::Test {
protected:
    void SetUp() override { app(); }

    std::string write(const std::string& name, const std::string& text)
    {
        const fs::path p = dir / (name + ".ini");
        std::ofstream(p) << text;
        return p.string();
    }

    test::TempFolder folder{"tv_tdm_init"};
    const fs::path dir = folder.path();
};

} // namespace

TEST_F(EngineTdmInit, RefusesProfilesItCannotRunNamingTheKey)
{
    struct Case {
        const char* what;
        std::string text;
        std::string instance;
        const char* named;
    };
    const std::string grid = "Columns=2\nRows=2\n";
    const Case cases[] = {
        {"no players", profile(grid, "Count=0\n", "Count=1\n"), "", "Players Count"},
        {"negative players", profile(grid, "Count=-3\n", "Count=1\n"), "", "Players Count"},
        {"no columns", profile("Columns=0\nRows=2\n", "Count=1\n", "Count=1\n"), "", "Columns"},
        {"no rows", profile("Columns=2\nRows=0\n", "Count=1\n", "Count=1\n"), "", "Rows"},
        {"no sources", profile(grid, "Count=1\n", "Count=0\n"), "", "Sources Count"},
        {"bad colour", profile(grid + "BorderColor=clNoSuchColour\n", "Count=1\n", "Count=1\n"), "", "BorderColor"},
        {"channel name too long", profile(grid, "Count=2\n", "Count=1\n"), "abc", "8 characters"},
        {"ten players and a two-letter instance", profile(grid, "Count=11\n", "Count=1\n"), "ab", "8 characters"},
        {"border larger than a cell", profile("Columns=2\nRows=2\nBorder=200\n", "Count=1\n", "Count=1\n"), "",
         "Player1"},
        {"no main picture size", replaced(profile(grid, "Count=1\n", "Count=1\n"), "\nWidth=8\n", "\nWidth=0\n"), "",
         "Main Width"},
    };
    for (const auto& c : cases) {
        TDM dm;
        dm.InstanceName = c.instance;
        std::vector<std::string> texts;
        dm.OnStatus = [&](TDM*, const std::string& t) { texts.push_back(t); };
        EXPECT_FALSE(dm.Init(write("refused", c.text), "Tilvaron")) << c.what;
        EXPECT_NE(dm.LastError().find(c.named), std::string::npos) << c.what << ": " << dm.LastError();
        ASSERT_FALSE(texts.empty()) << c.what;
        EXPECT_EQ(texts.back(), dm.LastError()) << c.what;
        // Refused before anything started: nothing opened, no player, no run.
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "Openning MainTV ..."), 0) << c.what;
        EXPECT_TRUE(dm.Players.empty()) << c.what;
        EXPECT_FALSE(dm.RunExists()) << c.what;
        EXPECT_FALSE(dm.Started) << c.what;
        EXPECT_EQ(dm.Profile, "refused");
    }
}

TEST_F(EngineTdmInit, UnopenableMainSourceEndsInitBeforeAnyPlayerAndBlocksASecondInit)
{
    TDM dm;
    dm.OnProcessEnd = [](int) { FAIL() << "the process must not end here"; };
    std::vector<std::string> texts;
    dm.OnStatus = [&](TDM*, const std::string& t) { texts.push_back(t); };
    const std::string path =
        write("mainmissing", profile("Columns=1\nRows=1\n", "Count=1\n", "Count=1\n", (dir / "missing.ts").string()));
    EXPECT_FALSE(dm.Init(path, "Tilvaron"));
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Openning MainTV ...");
    EXPECT_NE(dm.LastError().find("missing.ts"), std::string::npos) << dm.LastError();
    EXPECT_TRUE(dm.Players.empty());
    EXPECT_TRUE(dm.RunExists());
    // The watchdog was armed by the attempt: full count, one tick taken.
    EXPECT_EQ(dm.HeartBit(), 9);

    EXPECT_FALSE(dm.Init(path, "Tilvaron"));
    EXPECT_NE(dm.LastError().find("already running"), std::string::npos) << dm.LastError();
}
