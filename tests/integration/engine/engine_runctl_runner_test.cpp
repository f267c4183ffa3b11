// tilvaron-run kept on air: the changer moves the next source into the right
// cell of the output, a main source that stops sending makes the watchdog
// count down and restart the runner under the same instance (or, without
// automatic restart, end it with exit code 0), and SIGTERM stops it. No run
// leaves a Player, a runner or a shared-memory channel behind.

#include "channels/MailSlotWire.h"
#include "engine/TDM.h"
#include "platform/DatagramMailbox.h"
#include "platform/InstanceLock.h"
#include "engine/SourceChanger.h"
#include "platform/Process.h"

#include "support/MediaProbe.h"
#include "support/UdpCapture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using tv::platform::Process;

const std::string kBin = TILVARON_BIN_DIR;

int freePort(int type)
{
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

int freeUdpPort() { return freePort(SOCK_DGRAM); }

// Two characters, so that "MFile" + instance + player index fits a mailbox
// name. Tests run side by side: start from the pid and skip names whose
// instance lock or channels are in use.
std::string instanceName()
{
    const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    const std::string shmPrefix = "tilvaron." + std::to_string(::getuid()) + ".MFile";
    for (int i = 0; i < 36 * 36; ++i) {
        const int n = (::getpid() * 7 + 13 + i) % (36 * 36);
        const std::string name{digits[n / 36], digits[n % 36]};
        tv::platform::InstanceLock lock;
        auto free = lock.acquire("Tilvaron" + name);
        if (!free || !free.value())
            continue;
        bool channels = false;
        for (const auto& e : fs::directory_iterator("/dev/shm"))
            channels = channels || e.path().filename().string().rfind(shmPrefix + name, 0) == 0;
        if (!channels)
            return name;
    }
    return "zz";
}

std::string readFile(const fs::path& file)
{
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Processes whose command line contains `needle`.
std::vector<pid_t> processesWith(const std::string& needle)
{
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string cmdline = readFile(entry.path() / "cmdline");
        for (char& c : cmdline)
            if (c == '\0')
                c = ' ';
        if (cmdline.find(needle) != std::string::npos && std::stoi(name) != ::getpid())
            found.push_back(std::stoi(name));
    }
    return found;
}

template <typename F>
bool waitFor(F done, std::chrono::seconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// Position of each line of `wanted` in `text`, one after the other; npos
// when one is missing.
size_t findInOrder(const std::string& text, const std::vector<std::string>& wanted)
{
    size_t at = 0;
    for (const std::string& w : wanted) {
        at = text.find(w, at);
        if (at == std::string::npos)
            return at;
        at += w.size();
    }
    return at;
}

class EngineRunctlRunner : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(kBin + "/Player") || !fs::exists(kBin + "/tilvaron-run"))
            GTEST_SKIP() << "Player and tilvaron-run are not built in " << kBin;
        if (!tv::test::haveTool("ffmpeg") || !tv::test::haveTool("ffprobe"))
            GTEST_SKIP() << "ffmpeg/ffprobe command-line tools are not installed";
        instance_ = instanceName();
        // Lower case only: the engine lower-cases the output URL.
        dir_ = fs::temp_directory_path() / ("tv_runctl_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        for (const char* colour : {"red", "lime", "blue"})
            tv::test::runCommand(std::string("ffmpeg -v error -y -f lavfi -i color=c=") + colour
                                 + ":size=320x240:rate=25:duration=60 -c:v mpeg2video -b:v 300k '"
                                 + (dir_ / (std::string(colour) + ".ts")).string() + "'");
    }

    void TearDown() override
    {
        stopEveryRunner();
        if (!dir_.empty()) {
            // Nothing of the run may survive it.
            EXPECT_TRUE(processesWith("MFile" + instance_).empty()) << "a Player outlived its run";
            for (const auto& e : fs::directory_iterator("/dev/shm")) {
                const std::string name = e.path().filename();
                EXPECT_EQ(name.find("MFile" + instance_), std::string::npos) << name << " survived the run";
            }
            fs::remove_all(dir_);
        }
    }

    // A profile of two players side by side over three sources.
    fs::path writeProfile(const std::string& mainUrl, int changeMode, int changeInterval,
                          const std::string& outputUrl = "")
    {
        const fs::path profile = dir_ / "runctl.ini";
        const std::string url = outputUrl.empty()
                                    ? "UDP://127.0.0.1:" + std::to_string(outPort_) + "?pkt_size=1316"
                                    : outputUrl;
        std::string p = "[Output]\nURL=" + url + "\nWidth=720\nHeight=576\nColumns=2\nRows=1\nBorder=4\n"
                          "Format=-vcodec mpeg2video -b:v 2000k -f mpegts\nBorderColor=clWhite\n"
                          "[Main]\nURL="
                        + mainUrl + "\nWidth=64\nHeight=48\nLeft=0\nTop=0\n"
                        + "[Players]\nCount=2\nAudio=0\nChangeMode=" + std::to_string(changeMode)
                        + "\nChangeInterval=" + std::to_string(changeInterval) + "\n[Sources]\nCount=3\n";
        int k = 1;
        for (const char* colour : {"red", "lime", "blue"})
            p += "[Source" + std::to_string(k++) + "]\nURL=" + (dir_ / (std::string(colour) + ".ts")).string()
                 + "\nTitle=\n";
        p += "[Player1]\nLeft=0\nTop=0\nRight=0\nBottom=0\n[Player2]\nLeft=1\nTop=0\nRight=1\nBottom=0\n";
        std::ofstream(profile) << p;
        profile_ = profile;
        return profile;
    }

    Process startRunner(const std::vector<std::string>& options = {})
    {
        std::string cmd = "exec '" + kBin + "/tilvaron-run'";
        for (const auto& o : options)
            cmd += " " + o;
        cmd += " '" + profile_.string() + "' " + instance_ + " > '" + log().string() + "' 2>&1";
        auto runner = Process::spawn("/bin/sh", {"-c", cmd});
        EXPECT_TRUE(runner.ok());
        return runner ? std::move(runner.value()) : Process();
    }

    // A main source that sends for `seconds` and then stops.
    Process startMainSender(int port, int seconds)
    {
        auto sender = Process::spawn(
            "/bin/sh", {"-c", "exec ffmpeg -v error -re -f lavfi -i color=c=gray:size=160x120:rate=25 -t "
                                  + std::to_string(seconds) + " -c:v mpeg2video -f mpegts 'udp://127.0.0.1:"
                                  + std::to_string(port) + "?pkt_size=1316' > /dev/null 2>&1"});
        EXPECT_TRUE(sender.ok());
        return sender ? std::move(sender.value()) : Process();
    }

    // SIGTERM to every runner of this test (a restarted one is no child of
    // ours) until none is left.
    void stopEveryRunner()
    {
        if (profile_.empty())
            return;
        waitFor([&] {
            const auto runners = processesWith(profile_.string());
            for (pid_t pid : runners)
                ::kill(pid, SIGTERM);
            return runners.empty();
        }, 60s);
        waitFor([&] { return processesWith("MFile" + instance_).empty(); }, 10s);
    }

    std::optional<tv::platform::ExitStatus> waitExit(Process& p, std::chrono::seconds limit)
    {
        std::optional<tv::platform::ExitStatus> st;
        waitFor([&] { return (st = p.poll()).has_value(); }, limit);
        if (!st)
            p.kill();
        return st;
    }

    // Runs the profile in `changeMode` (interval 4 s), captures 11 s of the
    // output and classifies both cell centres two times a second: one letter
    // per picture, r(ed), l(ime), b(lue) or o(ther). Ends the runner by
    // SIGTERM, which must give exit code 4.
    std::pair<std::string, std::string> rotation(int changeMode, std::function<void()> during = {})
    {
        writeProfile("", changeMode, 4);
        const fs::path capture = dir_ / "capture.ts";
        Process runner = startRunner();
        // Whatever arrives in the engine's mailbox is dropped: a "Close" there
        // ends nothing.
        std::thread([] {
            std::this_thread::sleep_for(3s);
            const auto message = tv::channels::encodeMessage("test", "localhost", "Close");
            tv::platform::DatagramMailbox::send(tv::TDM::kEngineMailBox, message.data(), message.size());
        }).detach();
        std::thread meanwhile([&] {
            if (!during)
                return;
            std::this_thread::sleep_for(4s);
            during();
        });
        output_.captureTo(capture, 11s);
        meanwhile.join();
        ::kill(runner.pid(), SIGTERM);
        auto st = waitExit(runner, 30s);
        const std::string logText = readFile(log());
        EXPECT_TRUE(st && st->exited && st->code == 4) << logText;

        // Two pictures a second, the cell centres classified.
        const fs::path raw = dir_ / "frames.rgb";
        constexpr int w = 180, h = 144;
        tv::test::runCommand("ffmpeg -v error -y -i '" + capture.string() + "' -vf fps=2 -s " + std::to_string(w) + "x"
                             + std::to_string(h) + " -f rawvideo -pix_fmt rgb24 '" + raw.string() + "'");
        const std::string bytes = readFile(raw);
        const size_t frameBytes = size_t(w) * h * 3;
        auto colourAt = [&](size_t frame, int x, int y) -> std::string {
            const auto* px = reinterpret_cast<const unsigned char*>(bytes.data() + frame * frameBytes
                                                                    + (size_t(y) * w + x) * 3);
            const int r = px[0], g = px[1], b = px[2];
            if (r > 180 && g < 80 && b < 80)
                return "red";
            if (g > 180 && r < 80 && b < 80)
                return "lime";
            if (b > 180 && r < 80 && g < 80)
                return "blue";
            return "other";
        };
        std::string cell0, cell1; // one letter per picture
        for (size_t f = 0; f < bytes.size() / frameBytes; ++f) {
            cell0 += colourAt(f, w / 4, h / 2)[0];
            cell1 += colourAt(f, 3 * w / 4, h / 2)[0];
        }
        log_ = logText;
        RecordProperty("cell0", cell0);
        RecordProperty("cell1", cell1);
        return {cell0, cell1};
    }

    fs::path log() const { return dir_ / "run.log"; }

    fs::path dir_;
    fs::path profile_;
    std::string instance_;
    std::string log_;
    tv::test::UdpCapture output_;
    int outPort_ = output_.port();
};

TEST_F(EngineRunctlRunner, NoChangeKeepsEverySourceAndAKilledPlayerComesBack)
{
    // Meanwhile player 2's process is killed; the runner starts it again.
    const std::string channel = "MFile" + instance_ + "1";
    pid_t killed = 0;
    bool cameBack = false;
    auto [cell0, cell1] = rotation(tv::SourceChanger::NoChange, [&] {
        const auto players = processesWith(channel);
        if (players.size() != 1)
            return;
        killed = players.front();
        ::kill(killed, SIGKILL);
        cameBack = waitFor([&] {
            const auto now = processesWith(channel);
            return now.size() == 1 && now.front() != killed;
        }, 5s);
    });
    SCOPED_TRACE("cell 0: " + cell0 + "\ncell 1: " + cell1 + "\n" + log_);
    EXPECT_NE(killed, 0) << "one Player for " << channel;
    EXPECT_TRUE(cameBack);
    EXPECT_NE(log_.find("Player 2 was ended by signal 9; starting it again in 1 s"), std::string::npos);
    ASSERT_NE(cell0.find('r'), std::string::npos);
    ASSERT_NE(cell1.find('l'), std::string::npos);
    EXPECT_EQ(cell0.find_first_not_of("r", cell0.find('r')), std::string::npos);
    EXPECT_EQ(cell1.find_first_not_of("l", cell1.find('l')), std::string::npos);
}

TEST_F(EngineRunctlRunner, OneByOneMovesTheNextSourceIntoTheRightCell)
{
    auto [cell0, cell1] = rotation(tv::SourceChanger::OneByOne);
    SCOPED_TRACE("cell 0: " + cell0 + "\ncell 1: " + cell1 + "\n" + log_);
    // Player 0 starts with source 1 (red) and gets source 3 (blue) one
    // interval later, while player 1 still shows source 2 (lime).
    const size_t firstRed = cell0.find('r');
    ASSERT_NE(firstRed, std::string::npos);
    const size_t firstBlue = cell0.find('b', firstRed);
    ASSERT_NE(firstBlue, std::string::npos);
    EXPECT_EQ(cell1[firstBlue], 'l');
    EXPECT_EQ(cell0.find_first_not_of("ro", firstRed), firstBlue) << "nothing but red before the first change";
}

TEST_F(EngineRunctlRunner, CircularMovesPicturesBetweenCells)
{
    auto [cell0, cell1] = rotation(tv::SourceChanger::Circular);
    SCOPED_TRACE("cell 0: " + cell0 + "\ncell 1: " + cell1 + "\n" + log_);
    // The first tick swaps the two pictures (cell 0 shows player 1's lime,
    // cell 1 player 0's red) and then gives player 0 source 3: cell 1 turns
    // blue while cell 0 stays lime.
    const size_t firstRed = cell0.find('r');
    ASSERT_NE(firstRed, std::string::npos);
    const size_t swapped = cell0.find('l', firstRed);
    ASSERT_NE(swapped, std::string::npos);
    const size_t firstBlue = cell1.find('b');
    ASSERT_NE(firstBlue, std::string::npos);
    EXPECT_GE(firstBlue + 1, swapped);
    EXPECT_EQ(cell0[firstBlue], 'l');
    EXPECT_EQ(cell1.find_first_not_of("ol"), cell1.find_first_of("rb")) << "lime until the swap";
}

TEST_F(EngineRunctlRunner, GroupChangesEveryPlayerInOnePass)
{
    auto [cell0, cell1] = rotation(tv::SourceChanger::GroupByGroup);
    SCOPED_TRACE("cell 0: " + cell0 + "\ncell 1: " + cell1 + "\n" + log_);
    // One pass: player 0 gets source 3 (blue), player 1 source 1 (red),
    // 100 ms apart.
    const size_t blue = cell0.find('b');
    ASSERT_NE(blue, std::string::npos);
    const size_t lime = cell1.find('l');
    ASSERT_NE(lime, std::string::npos);
    const size_t red = cell1.find('r', lime);
    ASSERT_NE(red, std::string::npos);
    EXPECT_LE(red > blue ? red - blue : blue - red, 2u) << "both within a second";
}

TEST_F(EngineRunctlRunner, StalledMainSourceRestartsUnderTheSameInstance)
{
    const int mainPort = freeUdpPort();
    writeProfile("udp://127.0.0.1:" + std::to_string(mainPort), 0, 600);
    Process sender = startMainSender(mainPort, 8);
    std::this_thread::sleep_for(500ms);
    Process runner = startRunner();
    const pid_t first = runner.pid();

    auto st = waitExit(runner, 90s);
    ASSERT_TRUE(st && st->exited) << readFile(log());
    EXPECT_EQ(st->code, 4) << readFile(log());
    // The successor runs the same profile under the same instance.
    ASSERT_TRUE(waitFor([&] {
        const auto runners = processesWith(profile_.string());
        return !runners.empty() && runners.front() != first;
    }, 30s)) << readFile(log());
    ASSERT_TRUE(waitFor([&] {
        const std::string t = readFile(log());
        return t.find("Profile ", t.find("Time out error!")) != std::string::npos;
    }, 30s)) << readFile(log());
    const std::string logText = readFile(log());
    EXPECT_NE(findInOrder(logText, {"Starting ...", " 4\n", " 3\n", " 2\n", " 1\n", " 0\n", "Time out error!",
                                    "Profile ", "instance " + instance_, "Openning MainTV ..."}),
              std::string::npos)
        << logText;
    EXPECT_EQ(logText.find("is already running"), std::string::npos) << logText;
    sender.kill();
}

TEST_F(EngineRunctlRunner, RestartTakesOverTheHttpPort)
{
    const int mainPort = freeUdpPort();
    const int httpPort = freePort(SOCK_STREAM);
    writeProfile("udp://127.0.0.1:" + std::to_string(mainPort), 0, 600,
                 "HTTP://127.0.0.1:" + std::to_string(httpPort));
    const std::string fetch = "timeout 60 ffmpeg -v error -y -i 'http://127.0.0.1:" + std::to_string(httpPort)
                              + "' -t 2 -map 0:v -c copy '";
    Process sender = startMainSender(mainPort, 8);
    std::this_thread::sleep_for(500ms);
    Process runner = startRunner();
    ASSERT_TRUE(waitFor([&] { return readFile(log()).find("Starting ...") != std::string::npos; }, 30s))
        << readFile(log());
    // A client of the first run, so that the old server had connections.
    tv::test::runCommand(fetch + (dir_ / "first.ts").string() + "' 2>&1");
    EXPECT_FALSE(tv::test::probeStreams((dir_ / "first.ts").string(), "codec_name").empty()) << readFile(log());

    auto st = waitExit(runner, 60s);
    ASSERT_TRUE(st && st->exited && st->code == 4) << readFile(log());
    // The successor blocks on the main source until it sends again.
    Process again = startMainSender(mainPort, 30);
    const std::vector<std::string> expected{"Time out error!", "Profile ", "Starting ..."};
    ASSERT_TRUE(waitFor([&] { return findInOrder(readFile(log()), expected) != std::string::npos; }, 60s))
        << readFile(log());
    tv::test::runCommand(fetch + (dir_ / "second.ts").string() + "' 2>&1");
    EXPECT_EQ(tv::test::probeStreams((dir_ / "second.ts").string(), "codec_name,width,height"),
              std::vector<std::string>{"mpeg2video,720,576"})
        << readFile(log());
    EXPECT_EQ(readFile(log()).find("is inuse!"), std::string::npos) << readFile(log());
    sender.kill();
    again.kill();
}

TEST_F(EngineRunctlRunner, UnreachableMainSourceRestartsAfterTheOpenWatchdog)
{
    // Nobody sends to the main URL: opening it blocks until the open
    // watchdog restarts the runner; the successor, blocked the same way, is
    // still stopped by SIGTERM (the test's tear-down).
    writeProfile("udp://127.0.0.1:" + std::to_string(freeUdpPort()), 0, 600);
    Process runner = startRunner();
    auto st = waitExit(runner, 60s);
    ASSERT_TRUE(st && st->exited) << readFile(log());
    EXPECT_EQ(st->code, 4) << readFile(log());
    const std::vector<std::string> expected{"Openning MainTV ...", "did not open within 10 s", "Profile ",
                                            "Openning MainTV ..."};
    EXPECT_TRUE(waitFor([&] { return findInOrder(readFile(log()), expected) != std::string::npos; }, 30s))
        << readFile(log());
    const std::string logText = readFile(log());
    EXPECT_EQ(logText.find("Starting ..."), std::string::npos) << logText;
}

TEST_F(EngineRunctlRunner, StalledMainSourceWithoutRestartEndsWithZero)
{
    const int mainPort = freeUdpPort();
    writeProfile("udp://127.0.0.1:" + std::to_string(mainPort), 0, 600);
    Process sender = startMainSender(mainPort, 8);
    std::this_thread::sleep_for(500ms);
    Process runner = startRunner({"--no-restart"});
    auto st = waitExit(runner, 90s);
    const std::string logText = readFile(log());
    ASSERT_TRUE(st && st->exited) << logText;
    EXPECT_EQ(st->code, 0) << logText;
    EXPECT_NE(findInOrder(logText, {" 4\n", " 0\n", "Time out error!", "Mosaic encoder Terminated!"}),
              std::string::npos)
        << logText;
    EXPECT_TRUE(processesWith(profile_.string()).empty()) << "no successor without automatic restart";
    sender.kill();
}

} // namespace
