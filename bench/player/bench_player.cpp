// CPU cost of one Player showing a 720x576 25 fps H.264 source as a 356x284
// cell with a title, beside a bare decode of the same source by the ffmpeg
// tool (`ffmpeg -i source -f null -`) in the same run. Prints both CPU times
// (user + system) and their ratio.
#include "channels/TALMailSlot.h"
#include "channels/TAudioShare.h"
#include "channels/TShareFileMap.h"
#include "platform/SpawnProcess.h"
#include "player/RunPlayer.h"

#include <QCoreApplication>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

using namespace std::chrono;

constexpr int kSourceSeconds = 16;
// Each side runs this often, alternately; the least CPU time of each counts
// (the machine is shared, so the extra time is other load).
constexpr int kRounds = 3;
constexpr int kCellWidth = 356;
constexpr int kCellHeight = 284;

double cpuSeconds(const rusage& u)
{
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

// Waits for the child and returns its CPU time, or a negative value.
double reapCpu(pid_t pid, int* exitCode)
{
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return -1;
    if (exitCode)
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return cpuSeconds(usage);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("tv_bench_player_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string source = (dir / "source.ts").string();
    const std::string make = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=s=720x576:r=25 -t " +
                             std::to_string(kSourceSeconds) +
                             " -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 50 '" + source + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "cannot make the source with ffmpeg\n");
        return 1;
    }

    const std::string name = "B" + std::to_string(getpid() % 1000000);
    auto frames = tv::TShareFileMap::Create(name, true, 0);
    auto sound = tv::TAudioShare::Create("A" + name, true, 0);
    if (!frames || !sound) {
        std::fprintf(stderr, "cannot create the channels\n");
        return 1;
    }
    tv::PlayerLaunch l;
    l.url = source;
    l.channelName = name;
    l.width = kCellWidth;
    l.height = kCellHeight;
    l.title = "Sport News";
    l.font = "DejaVu Sans";
    l.size = "3";
    l.colour = "clWhite";
    l.position = "1";
    l.offset = "1";
    l.transparent = "0";
    l.backColour = "clBlack";
    l.alpha = "8";

    double bareCpu = 1e9, playerCpu = 1e9;
    int exitCode = 0;
    for (int round = 0; round < kRounds; ++round) {
        // Baseline: a bare decode by the ffmpeg tool.
        const pid_t bare = tv::platform::spawnProcess(
            "/usr/bin/ffmpeg", {"-hide_banner", "-loglevel", "error", "-i", source, "-f", "null", "-"});
        if (bare < 0) {
            std::fprintf(stderr, "cannot start /usr/bin/ffmpeg: %s\n", std::strerror(-bare));
            return 1;
        }
        bareCpu = std::min(bareCpu, reapCpu(bare, nullptr));

        // One Player with a title, for the length of the source.
        std::memset(frames.value()->SharedData, 0, 16);
        tv::Result<pid_t> player = tv::RunPlayer(l);
        if (!player) {
            std::fprintf(stderr, "%s\n", player.error().c_str());
            return 1;
        }
        // Wait for the first picture, then let the whole source play once.
        const auto start = steady_clock::now();
        while (frames.value()->SharedData[0] == 0 && steady_clock::now() - start < seconds(30))
            std::this_thread::sleep_for(milliseconds(5));
        std::this_thread::sleep_for(milliseconds(kSourceSeconds * 1000 - 200));
        tv::TALMailSlot engine;
        engine.SendMessage(".", QString::fromStdString(name), "Close");
        playerCpu = std::min(playerCpu, reapCpu(player.value(), &exitCode));
    }

    frames.value()->UnlinkSharedFileMapping();
    sound.value()->UnlinkSharedFileMapping();
    fs::remove_all(dir);

    std::printf("source: 720x576 25 fps H.264, %d s; cell %dx%d with a title; least of %d rounds\n",
                kSourceSeconds, kCellWidth, kCellHeight, kRounds);
    std::printf("bare decode (ffmpeg -f null): %.3f s CPU\n", bareCpu);
    std::printf("Player (exit code %d):         %.3f s CPU\n", exitCode, playerCpu);
    std::printf("ratio Player / bare decode:    %.2f (target <= 1.2)\n", bareCpu > 0 ? playerCpu / bareCpu : 0.0);
    return 0;
}
