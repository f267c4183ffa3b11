// The restart hands the single-instance lock to its successor before it
// ends, and SIGTERM/SIGINT end a runner with the stop exit code after the
// stop action ran. Real processes, real signals.

#include "engine/MosaicRestart.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kHelper = std::string(TILVARON_BIN_DIR) + "/engine_runctl_restart_helper";

struct TempDir {
    fs::path path;
    TempDir()
    {
        std::string templ = (fs::temp_directory_path() / "runctl-XXXXXX").string();
        path = ::mkdtemp(templ.data());
    }
    ~TempDir() { fs::remove_all(path); }
};

// Waits for a file to appear and returns its content ("" on time-out).
std::string waitForFile(const fs::path& file, std::chrono::seconds limit = 30s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (fs::exists(file)) {
            std::ifstream in(file);
            return std::string(std::istreambuf_iterator<char>(in), {});
        }
        std::this_thread::sleep_for(20ms);
    }
    return {};
}

// Exit code of `pid`, -1 when it did not end normally within the limit.
int waitExit(pid_t pid, std::chrono::seconds limit = 30s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(20ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

TEST(EngineRunctlRestart, SuccessorTakesTheLockWhileTheOldCopyStillRuns)
{
    TempDir dir;
    const std::string lock = "restart." + std::to_string(::getpid());
    auto child = tv::spawnSuccessor(kHelper, {"restart", dir.path.string(), "0", lock});
    ASSERT_TRUE(child) << child.error();

    // The successor reports while its predecessor lingers for a second.
    const std::string report = waitForFile(dir.path / "gen1");
    EXPECT_EQ(report, "lock group closed\n");
    EXPECT_EQ(waitForFile(dir.path / "stopped"), "yes\n") << "the players are stopped first";
    EXPECT_EQ(waitExit(*child), tv::kExitStopped);
}

TEST(EngineRunctlRestart, TerminationSignalsStopTheWayExitDoes)
{
    for (int sig : {SIGTERM, SIGINT}) {
        TempDir dir;
        auto child = tv::spawnSuccessor(kHelper, {"signal", dir.path.string()});
        ASSERT_TRUE(child) << child.error();
        ASSERT_EQ(waitForFile(dir.path / "ready"), "ready\n");
        ::kill(*child, sig);
        EXPECT_EQ(waitExit(*child), tv::kExitStopped) << "signal " << sig;
        EXPECT_EQ(waitForFile(dir.path / "stopped", 5s), std::to_string(sig) + "\n");
    }
}

TEST(EngineRunctlRestart, TerminationSignalsReachABlockedMainThread)
{
    TempDir dir;
    auto child = tv::spawnSuccessor(kHelper, {"signal", dir.path.string(), "block"});
    ASSERT_TRUE(child) << child.error();
    ASSERT_EQ(waitForFile(dir.path / "ready"), "ready\n");
    ::kill(*child, SIGTERM);
    EXPECT_EQ(waitExit(*child), tv::kExitStopped);
    EXPECT_EQ(waitForFile(dir.path / "stopped", 5s), std::to_string(SIGTERM) + "\n");
}

TEST(EngineRunctlRestart, SpawnOfAMissingProgramFails)
{
    auto child = tv::spawnSuccessor("/nonexistent/tilvaron-run", {});
    EXPECT_FALSE(child);
}

} // namespace
