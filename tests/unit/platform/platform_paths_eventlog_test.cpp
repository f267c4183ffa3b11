#include "platform/EventLog.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace tv::platform;

TEST(PlatformPaths, ProgramFolderHoldsTheRunningProgram)
{
    const std::string file = programFile();
    const std::string folder = programFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_EQ(file.rfind(folder, 0), 0u);
    EXPECT_EQ(file.substr(folder.size()), "platform_paths_eventlog_test");
}

TEST(PlatformPaths, ConfigFolderFollowsXdgThenHome)
{
    const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string keepXdg = savedXdg ? savedXdg : "";
    setenv("XDG_CONFIG_HOME", "/tmp/tv-config", 1);
    EXPECT_EQ(configFolder(), "/tmp/tv-config/");
    setenv("XDG_CONFIG_HOME", "/tmp/tv-config/", 1);
    EXPECT_EQ(configFolder(), "/tmp/tv-config/");
    unsetenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (home && *home) {
        const std::string h = home;
        EXPECT_EQ(configFolder(), h + (h.back() == '/' ? "" : "/") + ".config/");
    }
    if (savedXdg)
        setenv("XDG_CONFIG_HOME", keepXdg.c_str(), 1);
}

TEST(PlatformEventLog, EntryAlsoReachesStandardErrorAsOneLine)
{
    testing::internal::CaptureStderr();
    writeEventLog("TilvaronTest", EventType::Error, "Player not started");
    writeEventLog("TilvaronTest", EventType::Information, "Restarted");
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "TilvaronTest: error: Player not started\nTilvaronTest: information: Restarted\n");
}
