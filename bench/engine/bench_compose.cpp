// Composition + encode CPU per output frame: the engine's encoder (frame
// inputs fed from real frame channels, the graph and output options the
// engine builds) against the ffmpeg command-line tool running the identical
// -filter_complex over the same pictures as raw yuv420p files. 16 players of
// 176x140 on a 720x576 wall, mpeg2video 3000k, mpegts; neither paced.
// Prints both figures and the ratio engine / ffmpeg (lower is better).

#include "channels/TAudioShare.h"
#include "channels/TShareFileMap.h"
#include "common/ProfileSettings.h"
#include "common/TMemIniFile.h"
#include "engine/MosaicInputs.h"
#include "engine/MosaicPlan.h"
#include "media/TFFEncoder.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace tv;
namespace fs = std::filesystem;

namespace {

constexpr int kPlayers = 16;
constexpr int kFrames = 500;          // output pictures measured per run
constexpr int kRuns = 3;              // best of
constexpr int kWidth = 720, kHeight = 576, kGrid = 4, kBorder = 2;

double cpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

std::string profileText()
{
    std::string p = "[Output]\nURL=\nWidth=" + std::to_string(kWidth) + "\nHeight=" + std::to_string(kHeight) +
                    "\nColumns=4\nRows=4\nBorder=" + std::to_string(kBorder) +
                    "\nFormat=-vcodec mpeg2video -b:v 3000k -f mpegts\nBorderColor=clBlack\n"
                    "[Main]\nURL=\nWidth=1\nHeight=1\nLeft=0\nTop=0\n[Players]\nCount=16\nAudio=0\n[Sources]\nCount=16\n";
    for (int i = 0; i < kPlayers; ++i) {
        const std::string c = std::to_string(i % kGrid), r = std::to_string(i / kGrid);
        p += "[Player" + std::to_string(i + 1) + "]\nLeft=" + c + "\nTop=" + r + "\nRight=" + c + "\nBottom=" + r + "\n";
    }
    return p;
}

// One test picture per player (different content per player), yuv420p.
std::vector<std::vector<uint8_t>> makePictures(const fs::path& dir, int w, int h)
{
    std::vector<std::vector<uint8_t>> pics;
    for (int i = 0; i < kPlayers; ++i) {
        const fs::path f = dir / ("pic" + std::to_string(i) + ".yuv");
        const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc2=size=" + std::to_string(w) + "x" +
                                std::to_string(h) + ":rate=25 -vf 'hue=h=" + std::to_string(i * 22) +
                                "' -frames:v 1 -f rawvideo -pix_fmt yuv420p '" + f.string() + "'";
        if (std::system(cmd.c_str()) != 0)
            return {};
        std::ifstream in(f, std::ios::binary);
        pics.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    return pics;
}

struct Figure {
    double cpu = 0;
    double wall = 0;
    long frames = 0;
};

Figure runEngine(const MosaicPlan& plan, const std::vector<std::vector<uint8_t>>& pics, const fs::path& out)
{
    const std::string base = "BC" + std::to_string(getpid()) + "_";
    std::vector<std::shared_ptr<TShareFileMap>> mm;
    std::vector<std::shared_ptr<TAudioShare>> mma;
    MosaicInputs inputs;
    for (int i = 0; i < kPlayers; ++i) {
        auto m = TShareFileMap::Create(base + std::to_string(i), true, 0);
        auto a = TAudioShare::Create("A" + base + std::to_string(i), true, 0);
        if (!m || !a) {
            std::fprintf(stderr, "channels: %s\n", m ? a.error().c_str() : m.error().c_str());
            return {};
        }
        m.value()->Write2SharedMem(pics[i].data(), static_cast<int32_t>(pics[i].size()));
        mm.emplace_back(std::move(m.value()));
        mma.emplace_back(std::move(a.value()));
        inputs.addPlayer(mm.back(), mma.back());
    }
    // The same inputs as a run, without real-time pacing.
    auto unpaced = [](std::string o) {
        for (size_t at; (at = o.find("-re ")) != std::string::npos;)
            o.erase(at, 4);
        return o;
    };
    TFFEncoder enc;
    enc.TriggerEventInMainThread = false;
    enc.ProgressInterval = 20;
    std::atomic<long> frames{0};
    enc.OnProgress = [&](TFFEncoder*, const TProgressInfo& i) { frames = i.FrameNumber; };
    int t = enc.AddTask(inputs.FIADummy.FileName(), {unpaced(plan.mainInputOptions)});
    for (int i = 0; i < kPlayers && t >= 0; ++i)
        if (enc.AddInput(t, inputs.FIA[i]->FileName(), {unpaced(plan.players[i].inputOptions)}) < 0)
            t = -1;
    if (t < 0 || enc.SetOutput(t, out.string(), {plan.outputOptions}) < 0) {
        std::fprintf(stderr, "engine: %s\n", enc.LastErrMsg().c_str());
        return {};
    }
    const double c0 = cpuSeconds(RUSAGE_SELF);
    const auto w0 = std::chrono::steady_clock::now();
    enc.Start(1);
    while (frames < kFrames)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Figure f;
    f.frames = frames;
    f.cpu = cpuSeconds(RUSAGE_SELF) - c0;
    f.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    enc.Stop(true);
    for (auto& m : mm)
        m->UnlinkSharedFileMapping();
    for (auto& a : mma)
        a->UnlinkSharedFileMapping();
    return f;
}

Figure runCli(const MosaicPlan& plan, const fs::path& dir, const fs::path& out)
{
    // Raw input files: kFrames + 1 copies of each picture (and of a 1x1 main).
    std::string cmd = "ffmpeg -v error -y -nostdin";
    cmd += " -f rawvideo -pix_fmt yuv420p -s 1x1 -r 25 -i '" + (dir / "main.yuv").string() + "'";
    for (int i = 0; i < kPlayers; ++i)
        cmd += " -f rawvideo -pix_fmt yuv420p -s " + std::to_string(plan.players[i].width) + "x" +
               std::to_string(plan.players[i].height) + " -r 25 -i '" + (dir / ("in" + std::to_string(i) + ".yuv")).string() + "'";
    cmd += " " + plan.outputOptions + " -frames:v " + std::to_string(kFrames) + " '" + out.string() + "'";
    const double c0 = cpuSeconds(RUSAGE_CHILDREN);
    const auto w0 = std::chrono::steady_clock::now();
    const int rc = std::system(cmd.c_str());
    Figure f;
    f.cpu = cpuSeconds(RUSAGE_CHILDREN) - c0;
    f.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    f.frames = rc == 0 ? kFrames : 0;
    return f;
}

} // namespace

int main()
{
    const fs::path dir = fs::temp_directory_path() / ("tv_bench_compose_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const ProfileSettings s = readProfile(TMemIniFile::FromBytes(profileText(), IniEncoding::Utf8));
    const MosaicPlan plan = MosaicPlan::build(s, "0x000000");
    const int w = plan.players[0].width, h = plan.players[0].height;
    auto pics = makePictures(dir, w, h);
    if (pics.size() != kPlayers) {
        std::fprintf(stderr, "bench_compose: ffmpeg could not make the test pictures\n");
        return 1;
    }
    for (int i = 0; i < kPlayers; ++i) {
        std::ofstream f(dir / ("in" + std::to_string(i) + ".yuv"), std::ios::binary);
        for (int n = 0; n <= kFrames + 1; ++n)
            f.write(reinterpret_cast<const char*>(pics[i].data()), static_cast<std::streamsize>(pics[i].size()));
    }
    {
        std::ofstream f(dir / "main.yuv", std::ios::binary);
        const uint8_t black[3] = {16, 128, 128};
        for (int n = 0; n <= kFrames + 1; ++n)
            f.write(reinterpret_cast<const char*>(black), 3);
    }

    std::printf("composition + encode, %d players %dx%d on %dx%d, mpeg2video 3000k mpegts, %d frames, best of %d\n",
                kPlayers, w, h, kWidth, kHeight, kFrames, kRuns);
    Figure best[2];
    for (int r = 0; r < kRuns; ++r) {
        Figure e = runEngine(plan, pics, dir / "engine.ts");
        Figure c = runCli(plan, dir, dir / "cli.ts");
        if (!e.frames || !c.frames) {
            std::fprintf(stderr, "bench_compose: a run failed\n");
            fs::remove_all(dir);
            return 1;
        }
        if (r == 0 || e.cpu / e.frames < best[0].cpu / best[0].frames)
            best[0] = e;
        if (r == 0 || c.cpu / c.frames < best[1].cpu / best[1].frames)
            best[1] = c;
    }
    const double engineMs = best[0].cpu / best[0].frames * 1000;
    const double cliMs = best[1].cpu / best[1].frames * 1000;
    std::printf("engine  : %.3f ms CPU per frame (%ld frames, %.2f s wall)\n", engineMs, best[0].frames, best[0].wall);
    std::printf("ffmpeg  : %.3f ms CPU per frame (%ld frames, %.2f s wall)\n", cliMs, best[1].frames, best[1].wall);
    std::printf("ratio engine/ffmpeg: %.3f (target <= 1.0)\n", engineMs / cliMs);
    fs::remove_all(dir);
    return 0;
}
