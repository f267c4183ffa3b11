// The real Player program: started as the engine starts it, reading a file
// and a live UDP stream, writing titled pictures and sound into channels
// made here, reopening a source that ends, obeying "Close", and refusing to
// start without its arguments, its channel or its mailbox.
#include "channels/TALMailSlot.h"
#include "channels/TAudioShare.h"
#include "channels/TShareFileMap.h"
#include "integration/player/PlayerTestSupport.h"
#include "player/RunPlayer.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <optional>

namespace tv {
namespace {

using namespace std::chrono;
using test::pumpUntil;

constexpr int kW = 160;
constexpr int kH = 120;

const std::string kPlayer = std::string(TILVARON_BIN_DIR) + "/Player";

bool looksBlue(test::Yuv p)
{
    return std::abs(p.y - 41) < 16 && std::abs(p.u - 240) < 16 && std::abs(p.v - 110) < 16;
}

// Channels of one player, made as the engine makes them, removed afterwards.
struct Channels {
    explicit Channels(std::string n) : name(std::move(n))
    {
        auto f = TShareFileMap::Create(name, true, 0);
        if (f)
            frames = std::move(f.value());
        auto a = TAudioShare::Create("A" + name, true, 0);
        if (a)
            sound = std::move(a.value());
    }
    ~Channels()
    {
        if (frames)
            frames->UnlinkSharedFileMapping();
        if (sound)
            sound->UnlinkSharedFileMapping();
    }
    std::vector<uint8_t> picture()
    {
        std::vector<uint8_t> p(TShareFileMap::FrameSize(kW, kH));
        frames->ReadFromSharedMem(p.data(), static_cast<int32_t>(p.size()));
        return p;
    }
    test::Yuv centre() { return test::sampleAt(picture().data(), kW, kH, kW / 2, kH / 2); }
    // Samples with neutral colour (the black box, the white letters) in the top-left corner.
    int titleSamples()
    {
        const std::vector<uint8_t> p = picture();
        int n = 0;
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 48; ++x) {
                const test::Yuv s = test::sampleAt(p.data(), kW, kH, x, y);
                if (std::abs(s.u - 128) < 20 && std::abs(s.v - 128) < 20)
                    ++n;
            }
        }
        return n;
    }

    std::string name;
    std::unique_ptr<TShareFileMap> frames;
    std::unique_ptr<TAudioShare> sound;
};

PlayerLaunch launchFor(const std::string& channel, const std::string& url, bool hasAudio)
{
    PlayerLaunch l;
    l.index = 0;
    l.url = url;
    l.channelName = channel;
    l.hasAudio = hasAudio;
    l.width = kW;
    l.height = kH;
    l.title = "Test Title";
    l.font = "No Such Font"; // falls back to DejaVu Sans
    l.size = "3";
    l.colour = "clWhite";
    l.position = "0";
    l.offset = "0";
    l.transparent = "0";
    l.backColour = "clBlack";
    l.alpha = "10";
    return l;
}

// The exit code once the child has ended, or nothing after timeoutMs.
std::optional<int> waitExit(pid_t pid, int timeoutMs)
{
    const auto end = steady_clock::now() + milliseconds(timeoutMs);
    while (steady_clock::now() < end) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (r < 0)
            return -1;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(milliseconds(2));
    }
    return std::nullopt;
}

// Ends a Player the test still owns.
struct Reaper {
    pid_t pid = 0;
    ~Reaper()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

class PlayerProgram : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        test::app();
        if (!test::haveTool("ffmpeg"))
            return;
        dir_ = new test::TempFolder("tv_player");
        // One second of red, then one of blue, with a tone.
        file_ = dir_->file("redblue.ts");
        ok_ = test::ffmpeg({"-f", "lavfi", "-i", "color=c=red:s=320x240:r=25:d=1", "-f", "lavfi", "-i",
                            "color=c=blue:s=320x240:r=25:d=1", "-f", "lavfi", "-i",
                            "sine=frequency=440:sample_rate=48000:duration=2", "-filter_complex",
                            "[0:v][1:v]concat=n=2:v=1:a=0[v]", "-map", "[v]", "-map", "2:a", "-c:v", "libx264",
                            "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "mp2",
                            QString::fromStdString(file_)});
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override
    {
        if (!ok_)
            GTEST_SKIP() << "ffmpeg could not make the test source";
    }

    static inline test::TempFolder* dir_ = nullptr;
    static inline std::string file_;
    static inline bool ok_ = false;
};

TEST_F(PlayerProgram, FileSourceIsTitledReopenedAndClosed)
{
    Channels ch(test::uniqueName('F'));
    ASSERT_TRUE(ch.frames && ch.sound);
    Result<pid_t> pid = RunPlayer(launchFor(ch.name, file_, false));
    ASSERT_TRUE(pid.ok()) << pid.error();
    Reaper reaper{pid.value()};

    ASSERT_TRUE(pumpUntil([&] { return test::looksRed(ch.centre()); }, 30000ms)) << "no red picture";
    EXPECT_GT(ch.titleSamples(), 100) << "the title box is missing";
    ASSERT_TRUE(pumpUntil([&] { return looksBlue(ch.centre()); }, 30000ms)) << "the second second never came";
    // The file ends after the blue second; the Player opens it again.
    ASSERT_TRUE(pumpUntil([&] { return test::looksRed(ch.centre()); }, 30000ms)) << "no reopen";
    EXPECT_GT(ch.titleSamples(), 100);

    TALMailSlot engine;
    const auto sent = steady_clock::now();
    engine.SendMessage(".", QString::fromStdString(ch.name), "Close");
    // The mailbox name is free again after about 100 ms.
    TALMailSlot successor;
    successor.SetMailBox(QString::fromStdString(ch.name));
    ASSERT_TRUE(pumpUntil([&] {
        successor.SetActive(true);
        return successor.Active();
    }, 10000ms));
    const auto freed = duration_cast<milliseconds>(steady_clock::now() - sent).count();
    std::optional<int> code = waitExit(pid.value(), 10000);
    const auto ended = duration_cast<milliseconds>(steady_clock::now() - sent).count();
    ASSERT_TRUE(code.has_value()) << "the Player did not end after Close";
    reaper.pid = 0;
    EXPECT_EQ(*code, 4);
    EXPECT_GE(freed, 50);
    // Two timer steps of 100 ms come first.
    EXPECT_GE(ended, 150);
    // The pictures written after "Close" carry no title.
    EXPECT_LT(ch.titleSamples(), 20);
}

TEST_F(PlayerProgram, LiveUdpStream)
{
    Channels ch(test::uniqueName('U'));
    const int port = test::freeUdpPort();
    const QString url = QString("udp://127.0.0.1:%1").arg(port);
    QProcess sender;
    sender.start("ffmpeg", {"-hide_banner", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                            "color=c=blue:s=320x240:r=25", "-t", "20", "-c:v", "mpeg2video", "-f", "mpegts",
                            url + "?pkt_size=1316"});
    Result<pid_t> pid = RunPlayer(launchFor(ch.name, url.toStdString(), false));
    ASSERT_TRUE(pid.ok()) << pid.error();
    Reaper reaper{pid.value()};
    ASSERT_TRUE(pumpUntil([&] { return looksBlue(ch.centre()); }, 30000ms)) << "no picture from the UDP stream";
    EXPECT_GT(ch.titleSamples(), 100);
    sender.kill();
    sender.waitForFinished(5000);
}

TEST_F(PlayerProgram, SoundIsPublishedOneSecondAtATime)
{
    Channels ch(test::uniqueName('A'));
    Result<pid_t> pid = RunPlayer(launchFor(ch.name, file_, true));
    ASSERT_TRUE(pid.ok()) << pid.error();
    Reaper reaper{pid.value()};
    ASSERT_TRUE(pumpUntil([&] { return !ch.sound->IsReaded(); }, 30000ms)) << "no second of sound published";
    std::vector<uint8_t> second(TAudioShare::kBlockSize);
    ASSERT_EQ(ch.sound->ReadFromSharedMemFixed(second.data()), static_cast<int32_t>(TAudioShare::kBlockSize));
    // The tone, not silence.
    int loud = 0;
    for (std::size_t i = 0; i + 1 < second.size(); i += 2) {
        const int16_t s = static_cast<int16_t>(second[i] | (second[i + 1] << 8));
        if (std::abs(s) > 1000)
            ++loud;
    }
    EXPECT_GT(loud, 10000);
    // With sound the pictures come through the delay line, and do come.
    ASSERT_TRUE(pumpUntil([&] { return test::looksRed(ch.centre()) || looksBlue(ch.centre()); }, 30000ms));
}

TEST_F(PlayerProgram, SecondPlayerOnABusyMailboxEndsAtOnce)
{
    Channels ch(test::uniqueName('B'));
    Result<pid_t> first = RunPlayer(launchFor(ch.name, file_, false));
    ASSERT_TRUE(first.ok());
    Reaper reaper{first.value()};
    ASSERT_TRUE(pumpUntil([&] { return test::looksRed(ch.centre()) || looksBlue(ch.centre()); }, 30000ms));

    QProcess second;
    Result<std::vector<std::string>> args = EncodePlayerArguments(launchFor(ch.name, file_, false));
    ASSERT_TRUE(args.ok());
    QStringList list;
    for (const std::string& a : args.value())
        list << QString::fromStdString(a);
    second.start(QString::fromStdString(kPlayer), list);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 4);
    EXPECT_TRUE(second.readAllStandardError().contains(("MailSlot not oppened : " + ch.name).c_str()));
    EXPECT_FALSE(waitExit(first.value(), 100).has_value()) << "the first Player keeps running";
}

TEST_F(PlayerProgram, StartUpRefusals)
{
    Channels ch(test::uniqueName('R'));
    Result<std::vector<std::string>> good = EncodePlayerArguments(launchFor(ch.name, file_, false));
    ASSERT_TRUE(good.ok());
    struct Case {
        std::vector<std::string> args;
        std::string logged;
    };
    std::vector<std::string> few(good.value().begin(), good.value().begin() + 14);
    std::vector<std::string> badIndex = good.value();
    badIndex[0] = "first";
    std::vector<std::string> badAlpha = good.value();
    badAlpha[14] = "x";
    std::vector<std::string> noChannel = good.value();
    noChannel[2] = test::uniqueName('N');
    const Case cases[] = {
        {{}, "ParamCount:0"},
        {few, "ParamCount:14"},
        {badIndex, "'first' is not a valid integer value"},
        {badAlpha, "'x' is not a valid integer value"},
        {noChannel, "Channel not found : " + noChannel[2]},
    };
    for (const Case& c : cases) {
        QProcess p;
        QStringList list;
        for (const std::string& a : c.args)
            list << QString::fromStdString(a);
        p.start(QString::fromStdString(kPlayer), list);
        ASSERT_TRUE(p.waitForFinished(10000)) << c.logged;
        EXPECT_EQ(p.exitCode(), 4) << c.logged;
        const QByteArray err = p.readAllStandardError();
        EXPECT_TRUE(err.contains(("TilvaronPlayer: ") ) && err.contains(c.logged.c_str())) << c.logged << " / " << err.toStdString();
    }
}

TEST_F(PlayerProgram, PlayerEndsWithTheProcessThatStartedIt)
{
    Channels ch(test::uniqueName('P'));
    QProcess engine;
    engine.start(QString(TILVARON_BIN_DIR) + "/player_spawner",
                 {QString::fromStdString(ch.name), QString::fromStdString(file_)});
    ASSERT_TRUE(engine.waitForReadyRead(10000));
    const pid_t player = engine.readLine().trimmed().toInt();
    ASSERT_GT(player, 0);
    ASSERT_TRUE(pumpUntil([&] { return test::looksRed(ch.centre()) || looksBlue(ch.centre()); }, 30000ms))
        << "the Player never showed a picture";
    engine.kill();
    engine.waitForFinished(5000);
    // Reparented and killed: gone, or a zombie until its new parent reaps it.
    auto ended = [&] {
        QFile stat(QString("/proc/%1/stat").arg(player));
        if (!stat.open(QIODevice::ReadOnly))
            return true;
        const QByteArray line = stat.readAll();
        const int paren = line.lastIndexOf(')');
        return paren < 0 || line.mid(paren + 2, 1) == "Z";
    };
    EXPECT_TRUE(pumpUntil(ended, 10000ms)) << "the Player outlived its engine";
}

} // namespace
} // namespace tv
