// The mosaic end to end: tilvaron-run with real Player processes showing four
// solid-colour sources, its UDP output captured and read by ffprobe/ffmpeg.

#include "platform/Process.h"

#include "support/ChildEnd.h"
#include "support/InstanceName.h"
#include "support/LoopbackPorts.h"
#include "support/MediaProbe.h"
#include "support/TempFolder.h"
#include "support/UdpCapture.h"
#include "support/WholeFile.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace tv;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kBin = TILVARON_BIN_DIR;

struct Colour {
    const char* name;
    std::array<int, 3> rgb;
};
const Colour kColours[] = {{"red", {255, 0, 0}}, {"lime", {0, 255, 0}}, {"blue", {0, 0, 255}}, {"yellow", {255, 255, 0}}};

std::string profileText(const fs::path& dir, int port, int audio, const std::string& scheme = "UDP")
{
    std::string p = "[Output]\nURL=" + scheme + "://127.0.0.1:" + std::to_string(port) +
                    (scheme == "UDP" ? "?pkt_size=1316" : "") + "\nWidth=720\nHeight=576\nColumns=2\nRows=2\nBorder=4\n"
                    "Format=-vcodec mpeg2video -b:v 3000k -acodec mp2 -f mpegts\nBorderColor=clWhite\n"
                    "[Main]\nURL=\nWidth=96\nHeight=72\nLeft=1000\nTop=1000\n"
                    "[Players]\nCount=4\nAudio=" +
                    std::to_string(audio) + "\nChangeMode=0\nChangeInterval=60\n[Sources]\nCount=4\n";
    for (int k = 0; k < 4; ++k)
        p += "[Source" + std::to_string(k + 1) + "]\nURL=" + (dir / (std::string(kColours[k].name) + ".ts")).string() +
             "\nTitle=\n";
    const int cells[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    for (int i = 0; i < 4; ++i) {
        const std::string c = std::to_string(cells[i][0]), r = std::to_string(cells[i][1]);
        p += "[Player" + std::to_string(i + 1) + "]\nLeft=" + c + "\nTop=" + r + "\nRight=" + c + "\nBottom=" + r + "\n";
    }
    return p;
}

} // namespace

class EngineMosaicEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(kBin + "/Player"))
            GTEST_SKIP() << "the Player program is not built in " << kBin;
        if (!fs::exists(kBin + "/tilvaron-run"))
            GTEST_SKIP() << "tilvaron-run is not built in " << kBin;
        if (!test::haveTool("ffmpeg") || !test::haveTool("ffprobe"))
            GTEST_SKIP() << "ffmpeg/ffprobe command-line tools are not installed";
        for (const auto& c : kColours)
            test::runCommand(std::string("ffmpeg -v error -y -f lavfi -i color=c=") + c.name +
                             ":size=320x240:rate=25:duration=120 -c:v mpeg2video -b:v 300k '" +
                             (dir / (std::string(c.name) + ".ts")).string() + "'");
    }
    // Runs the profile, captures `seconds` of its output into `capture`,
    // stops the runner; returns its exit status.
    platform::ExitStatus runAndCapture(int audio, const fs::path& capture, const fs::path& log)
    {
        test::UdpCapture output;
        const int port = output.port();
        const fs::path profile = dir / ("audio" + std::to_string(audio) + ".ini");
        std::ofstream(profile) << profileText(dir, port, audio);
        auto runner = platform::Process::spawn(
            "/bin/sh", {"-c", "exec '" + kBin + "/tilvaron-run' '" + profile.string() + "' " + test::instanceName() + " > '" +
                                  log.string() + "' 2>&1"});
        EXPECT_TRUE(runner.ok());
        if (!runner)
            return {};
        // The Players need a moment to open their sources: capture from when
        // the encoder runs, and long enough that the last second shows them.
        auto started = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < started) {
            const std::string text = test::readBytes(log);
            if (text.find("Starting ...") != std::string::npos)
                break;
            std::this_thread::sleep_for(100ms);
        }
        if (output.captureTo(capture, 6s) == 0)
            fs::remove(capture);
        kill(runner.value().pid(), SIGTERM);
        auto end = std::chrono::steady_clock::now() + 30s;
        std::optional<platform::ExitStatus> st;
        while (!(st = runner.value().poll()) && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(50ms);
        if (!st)
            st = runner.value().kill();
        return st.value_or(platform::ExitStatus{});
    }

    platform::Process startRunner(const fs::path& profile, const fs::path& log)
    {
        auto runner = platform::Process::spawn(
            "/bin/sh", {"-c", "exec '" + kBin + "/tilvaron-run' '" + profile.string() + "' " + test::instanceName() + " > '" +
                                  log.string() + "' 2>&1"});
        EXPECT_TRUE(runner.ok());
        return runner ? std::move(runner.value()) : platform::Process{};
    }

    static platform::ExitStatus endOf(platform::Process& p, std::chrono::seconds limit)
    {
        std::optional<platform::ExitStatus> st = test::waitForEnd(p, limit);
        if (!st)
            st = p.kill();
        return st.value_or(platform::ExitStatus{});
    }

    test::TempFolder folder{"tv_engine_e2e"};
    const fs::path dir = folder.path();
};

TEST_F(EngineMosaicEndToEnd, FourColourPlayersOverUdp)
{
    // Audio mode -> the sound streams the output carries.
    const std::pair<int, size_t> modes[] = {{2, 4}, {1, 1}, {0, 0}};
    for (const auto& [audio, soundStreams] : modes) {
        SCOPED_TRACE("audio mode " + std::to_string(audio));
        const fs::path capture = dir / ("capture" + std::to_string(audio) + ".ts");
        const fs::path log = dir / ("run" + std::to_string(audio) + ".log");
        const platform::ExitStatus st = runAndCapture(audio, capture, log);
        const std::string logText = test::readBytes(log);
        EXPECT_TRUE(st.exited && st.code == 4) << "exit " << st.code << " signal " << st.signal << "\n" << logText;
        EXPECT_NE(logText.find("Openning MainTV ..."), std::string::npos) << logText;
        EXPECT_NE(logText.find("Init Players ..."), std::string::npos) << logText;
        EXPECT_NE(logText.find("Starting ..."), std::string::npos) << logText;
        ASSERT_TRUE(fs::exists(capture)) << logText;

        std::vector<std::string> want{"mpeg2video,720,576,25/1"};
        for (size_t n = 0; n < soundStreams; ++n)
            want.push_back("mp2,48000");
        std::vector<std::string> got = test::probeStreams(capture.string(), "codec_name,width,height,r_frame_rate,sample_rate");
        for (auto& line : got)   // sound streams report r_frame_rate 0/0
            if (line.rfind("mp2,", 0) == 0)
                line = line.substr(0, line.find(",0/0")) + line.substr(line.find(",0/0") + 4);
        EXPECT_EQ(got, want) << logText;

        if (audio != 2)
            continue;
        // Each player's colour in the middle of its cell, the base colour in the border.
        auto rgb = test::decodeRgb(capture.string(), 125, 720, 576, (dir / "frame.rgb").string());
        ASSERT_FALSE(rgb.empty());
        const int centres[4][2] = {{180, 144}, {540, 144}, {180, 432}, {540, 432}};
        for (int i = 0; i < 4; ++i) {
            auto px = test::rgbAt(rgb, 720, centres[i][0], centres[i][1]);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(px[c], kColours[i].rgb[c], 40) << kColours[i].name << " channel " << c;
        }
        for (auto [x, y] : {std::pair{360, 144}, std::pair{360, 432}, std::pair{180, 288}, std::pair{1, 1}}) {
            auto px = test::rgbAt(rgb, 720, x, y);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(px[c], 255, 40) << "border at " << x << "," << y;
        }
    }
}

TEST_F(EngineMosaicEndToEnd, HttpOutputServesTheStream)
{
    const int port = test::freeTcpPort();
    const fs::path profile = dir / "http.ini";
    std::ofstream(profile) << profileText(dir, port, 1, "HTTP");
    const fs::path log = dir / "http.log";
    platform::Process runner = startRunner(profile, log);
    ASSERT_TRUE(runner.running());
    const fs::path capture = dir / "http.ts";
    // The server listens once Init has set the output up; give it a moment.
    for (int attempt = 0; attempt < 20 && !fs::exists(capture); ++attempt) {
        std::this_thread::sleep_for(500ms);
        test::runCommand("timeout 30 ffmpeg -v error -y -i 'http://127.0.0.1:" + std::to_string(port) +
                         "/' -t 3 -map 0 -c copy '" + capture.string() + "' 2>/dev/null");
    }
    kill(runner.pid(), SIGTERM);
    const platform::ExitStatus st = endOf(runner, 30s);
    const std::string text = test::readBytes(log);
    EXPECT_TRUE(st.exited && st.code == 4) << text;
    ASSERT_TRUE(fs::exists(capture)) << text;
    EXPECT_EQ(test::probeStreams(capture.string(), "codec_name,width,height"),
              (std::vector<std::string>{"mpeg2video,720,576", "mp2"}))
        << text;
}

TEST_F(EngineMosaicEndToEnd, HttpPortInUseEndsTheProcessWithFour)
{
    std::uint16_t taken = 0;
    const int holder = test::listenOnFreePort(taken);
    const int port = taken;
    const fs::path profile = dir / "busy.ini";
    std::ofstream(profile) << profileText(dir, port, 0, "HTTP");
    const fs::path log = dir / "busy.log";
    platform::Process runner = startRunner(profile, log);
    const platform::ExitStatus st = endOf(runner, 60s);
    close(holder);
    const std::string text = test::readBytes(log);
    EXPECT_TRUE(st.exited && st.code == 4) << text;
    EXPECT_NE(text.find("Port " + std::to_string(port) + " is inuse!"), std::string::npos) << text;
}
