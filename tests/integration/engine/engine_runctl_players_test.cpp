// The run control with real Player processes on real channels and colour
// sources: the changer moves the next source into the right channel, a
// pinned player keeps its source, a killed Player comes back, and the stop
// leaves no Player, zombie or channel behind.

#include "channels/TALMailSlot.h"
#include "channels/TAudioShare.h"
#include "channels/TShareFileMap.h"
#include "engine/RunControl.h"
#include "player/RunPlayer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 160;
constexpr int kHeight = 120;

QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "engine_runctl_players_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* instance = new QCoreApplication(argc, argv);
    return *instance;
}

template <typename F>
bool runUntil(F done, int limitMs = 60000)
{
    QElapsedTimer t;
    t.start();
    QTimer wake;
    wake.start(20);
    while (!done() && t.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

bool processExists(pid_t pid)
{
    return pid > 0 && fs::exists("/proc/" + std::to_string(pid));
}

// The colours of the sources and how a picture centre is told apart.
struct Colour {
    const char* name;      // for the ffmpeg colour source
    int y, u, v;           // BT.601 limited range
};
const Colour kColours[] = {
    {"red", 81, 90, 240},
    {"lime", 145, 54, 34},
    {"blue", 41, 240, 110},
};

// Index into kColours of the channel's centre pixel; -1 when it matches
// none (black: nothing written yet).
int centreColour(tv::TShareFileMap& channel)
{
    const auto size = tv::TShareFileMap::FrameSize(kWidth, kHeight);
    std::vector<uint8_t> frame(static_cast<size_t>(size));
    if (channel.ReadFromSharedMem(frame.data(), static_cast<int32_t>(size)) == 0)
        return -1;
    const int cw = (kWidth + 1) / 2, ch = (kHeight + 1) / 2;
    const int y = frame[(kHeight / 2) * kWidth + kWidth / 2];
    const int u = frame[kWidth * kHeight + (ch / 2) * cw + cw / 2];
    const int v = frame[kWidth * kHeight + cw * ch + (ch / 2) * cw + cw / 2];
    for (int i = 0; i < 3; ++i) {
        const Colour& c = kColours[i];
        if (std::abs(y - c.y) < 24 && std::abs(u - c.u) < 24 && std::abs(v - c.v) < 24)
            return i;
    }
    return -1;
}

std::string base36(unsigned long n)
{
    std::string s;
    do {
        s.insert(s.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[n % 36]);
        n /= 36;
    } while (n);
    return s;
}

class EngineRunctlPlayers : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        const std::string player = std::string(TILVARON_BIN_DIR) + "/Player";
        if (!fs::exists(player))
            GTEST_SKIP() << "no Player program at " << player;
        if (std::system("ffmpeg -version >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "no ffmpeg command-line tool";
        dir_ = fs::temp_directory_path() / ("runctl-players-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        for (const Colour& c : kColours) {
            const fs::path file = dir_ / (std::string(c.name) + ".ts");
            const std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i color=c=" + std::string(c.name)
                                    + ":size=" + std::to_string(kWidth) + "x" + std::to_string(kHeight)
                                    + ":rate=25 -t 20 -c:v mpeg2video -q:v 2 -f mpegts " + file.string();
            ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
            sources_.push_back(file.string());
        }
    }

    void TearDown() override
    {
        if (!dir_.empty())
            fs::remove_all(dir_);
    }

    // Channels of `players` players: the names stay within the 8 characters
    // a mailbox may have and differ between test processes.
    void makeChannels(int players)
    {
        const std::string base = "R" + base36(static_cast<unsigned long>(::getpid()));
        for (int i = 0; i < players; ++i) {
            const std::string name = base + std::to_string(i);
            ASSERT_LE(name.size(), 8u);
            auto mm = tv::TShareFileMap::Create(name, true, 0);
            ASSERT_TRUE(mm) << mm.error();
            auto mma = tv::TAudioShare::Create("A" + name, true, 0);
            ASSERT_TRUE(mma) << mma.error();
            names_.push_back(name);
            mm_.push_back(std::move(mm.value()));
            mma_.push_back(std::move(mma.value()));
        }
    }

    void removeChannels()
    {
        for (auto& m : mm_)
            m->UnlinkSharedFileMapping();
        for (auto& m : mma_)
            m->UnlinkSharedFileMapping();
    }

    tv::RunControlHooks hooks()
    {
        tv::RunControlHooks h;
        h.startPlayer = [this](int player, int source) -> pid_t {
            auto pid = tv::RunPlayer(player, sources_[source - 1], names_[player], false, kWidth, kHeight,
                                     "", "tahoma", "1", "clwhite", "1", "1", "1", "clblack", "10");
            return pid ? *pid : 0;
        };
        h.sendClose = [this](int player) {
            mailSlot_.SendMessage(".", QString::fromStdString(names_[player]), "Close");
        };
        h.logError = [this](const std::string& text) { errors_.push_back(text); };
        return h;
    }

    // Waits until channel `player` shows source `source` (1-based).
    bool shows(int player, int source, int limitMs = 60000)
    {
        return runUntil([&] { return centreColour(*mm_[player]) == source - 1; }, limitMs);
    }

    fs::path dir_;
    std::vector<std::string> sources_;
    std::vector<std::string> names_;
    std::vector<std::unique_ptr<tv::TShareFileMap>> mm_;
    std::vector<std::unique_ptr<tv::TAudioShare>> mma_;
    tv::TALMailSlot mailSlot_;
    std::vector<std::string> errors_;
};

TEST_F(EngineRunctlPlayers, RotationPinAndKilledPlayer)
{
    makeChannels(2);
    tv::RunControl rc(hooks());
    rc.createPool(2, 3);
    for (int p = 0; p < 2; ++p)
        ASSERT_GT(rc.startInitialPlayer(p, rc.initialSource(p)), 0);
    rc.startRotation(3, tv::SourceChanger::OneByOne);
    ASSERT_TRUE(shows(0, 1)) << "player 0 starts with source 1";
    ASSERT_TRUE(shows(1, 2)) << "player 1 starts with source 2";

    // One change interval later player 0 shows source 3; player 1 is
    // untouched.
    const pid_t first0 = rc.supervisor()->processId(0);
    rc.startChanger();
    ASSERT_TRUE(shows(0, 3));
    EXPECT_EQ(centreColour(*mm_[1]), 1);
    EXPECT_TRUE(runUntil([&] { return !processExists(first0); }))
        << "the replaced Player ended and was reaped";

    // Pin player 1 (slot 1) to source 2: it restarts with it and keeps it
    // while player 0 goes on rotating.
    rc.AssignSourceToPlayer(1, 2);
    ASSERT_TRUE(runUntil([&] { return rc.supervisor()->processId(1) > 0; }));
    const pid_t pinned = rc.supervisor()->processId(1);
    ASSERT_TRUE(shows(1, 2));
    int changesSeen = 0;
    int last0 = rc.supervisor()->source(0);
    runUntil([&] {
        if (rc.supervisor()->source(0) != last0) {
            last0 = rc.supervisor()->source(0);
            ++changesSeen;
        }
        EXPECT_NE(centreColour(*mm_[1]), 0);
        EXPECT_NE(centreColour(*mm_[1]), 2);
        return changesSeen >= 2;
    });
    EXPECT_GE(changesSeen, 2);
    EXPECT_EQ(rc.supervisor()->processId(1), pinned);

    // kill -9 of the pinned Player: its cell comes back with its source.
    const std::vector<uint8_t> black(static_cast<size_t>(tv::TShareFileMap::FrameSize(kWidth, kHeight)), 0);
    ::kill(pinned, SIGKILL);
    ASSERT_TRUE(runUntil([&] { return !processExists(pinned); }, 10000));
    mm_[1]->Write2SharedMem(black.data(), static_cast<int32_t>(black.size()));
    ASSERT_TRUE(shows(1, 2));
    EXPECT_NE(rc.supervisor()->processId(1), pinned);
    ASSERT_FALSE(errors_.empty());
    EXPECT_NE(errors_.back().find("signal 9"), std::string::npos) << errors_.back();

    // The stop leaves nothing behind.
    const std::vector<pid_t> alive = rc.supervisor()->knownProcesses();
    EXPECT_FALSE(alive.empty());
    rc.StopAll();
    removeChannels();
    for (pid_t pid : alive)
        EXPECT_FALSE(processExists(pid)) << "Player " << pid << " outlived the stop";
    for (const std::string& name : names_)
        EXPECT_FALSE(fs::exists("/dev/shm/tilvaron." + std::to_string(::getuid()) + "." + name)) << name;
}

} // namespace
