// The encoder component end to end inside one process: frame and wave
// adapters, URL inputs, the composition graph, encoders and muxer, URL and
// memory outputs. Outputs are read back with ffprobe/ffmpeg.

#include "media/TFFEncoder.h"
#include "media/TFrameInputAdapter.h"
#include "media/TMemoryAccessAdapter.h"
#include "media/TWaveInputAdapter.h"

#include <gtest/gtest.h>

#include "support/MediaProbe.h"
#include "support/TempFolder.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace tv;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using test::haveTool;
std::string run(const std::string& cmd) { return test::runCommand(cmd); }

// A solid yuv420p picture written by a frame handler.
struct Solid {
    uint8_t y, u, v;
};
constexpr Solid kRed{81, 90, 240};
constexpr Solid kBlue{41, 240, 110};

void fillSolid(uint8_t* data, const TInputFrameInfo& info, Solid c)
{
    const int w = info.Width, h = info.Height;
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    std::memset(data, c.y, size_t(w) * h);
    std::memset(data + size_t(w) * h, c.u, size_t(cw) * ch);
    std::memset(data + size_t(w) * h + size_t(cw) * ch, c.v, size_t(cw) * ch);
}

bool waitFor(const std::function<bool()>& cond, std::chrono::seconds limit = 60s)
{
    auto end = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

void expectNear(std::array<int, 3> got, std::array<int, 3> want, const char* what)
{
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(got[i], want[i], 24) << what << " channel " << i;
}

} // namespace

class MediaEncoder : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!haveTool("ffprobe") || !haveTool("ffmpeg"))
            GTEST_SKIP() << "ffmpeg/ffprobe command-line tools are not installed";
    }
    test::TempFolder dir{"tv_media_enc"};
};

TEST_F(MediaEncoder, ComposesFrameInputsOverAColourBase)
{
    TFrameInputAdapter main, left, right;
    std::atomic<int> reads{0};
    left.OnReadFrameYUV = [&](TFrameInputAdapter*, uint8_t* d, TInputFrameInfo& i) {
        fillSolid(d, i, kRed);
        ++reads;
        return i.BytesPerFrame;
    };
    right.OnReadFrameYUV = [&](TFrameInputAdapter*, uint8_t* d, TInputFrameInfo& i) {
        fillSolid(d, i, kBlue);
        return i.BytesPerFrame;
    };
    // The main input's handler writes nothing: its picture stays black.
    main.OnReadFrameYUV = [](TFrameInputAdapter*, uint8_t*, TInputFrameInfo& i) { return i.BytesPerFrame; };

    TFFEncoder enc;
    enc.ReadTimeout = -1;
    enc.TriggerEventInMainThread = false;
    int task = enc.AddTask(main.FileName(), {"-f frameinput -input_type yuv -pix_fmt yuv420p -r 25 -s 64x48"});
    ASSERT_EQ(task, 0) << enc.LastErrMsg();
    ASSERT_EQ(enc.AddInput(task, left.FileName(), {"-f frameinput -input_type yuv -pix_fmt yuv420p -r 25 -s 100x80"}), 1)
        << enc.LastErrMsg();
    ASSERT_EQ(enc.AddInput(task, right.FileName(), {"-f frameinput -pix_fmt yuv420p -r 25 -s 100x80"}), 2)
        << enc.LastErrMsg();
    const fs::path out = dir.path() / "mosaic.ts";
    const std::string options =
        "-filter_complex \"color=size=320x240:c=0x00ff00,format=rgb24 [base];[0:v]  scale=64x48 [p0];"
        "[1:v] scale=100x80 [p1];[2:v] scale=100x80 [p2];[base][p0] overlay=shortest=1:x=0:y=0 [t0];"
        "[t0][p1] overlay=shortest=1:x=20:y=100 [t1];[t1][p2] overlay=shortest=1:x=200:y=100 \" "
        "-vcodec mpeg2video -b:v 2000k -f mpegts -metadata service_provider=\"VornCo\" -flush_packets 0";
    ASSERT_EQ(enc.SetOutput(task, out.string(), {options}), 0) << enc.LastErrMsg();

    std::atomic<int> terminated{0};
    TTerminateInfo endInfo;
    enc.OnTerminate = [&](TFFEncoder*, const TTerminateInfo& i) {
        endInfo = i;
        ++terminated;
    };
    ASSERT_TRUE(enc.Start(1));
    ASSERT_TRUE(waitFor([&] { return reads >= 40; }));
    enc.Stop(true);
    EXPECT_EQ(terminated.load(), 1);
    EXPECT_TRUE(endInfo.Finished) << endInfo.ErrorMessage;

    EXPECT_EQ(test::probeStreams(out.string(), "codec_name,width,height"),
              std::vector<std::string>{"mpeg2video,320,240"});
    EXPECT_NE(run("ffprobe -v error -show_entries program_tags=service_provider -of csv=p=0 '" + out.string() + "'")
                  .find("VornCo"),
              std::string::npos);
    auto rgb = test::decodeRgb(out.string(), 10, 320, 240, (dir.path() / "frame.rgb").string());
    ASSERT_FALSE(rgb.empty());
    expectNear(test::rgbAt(rgb, 320, 30, 24), {0, 0, 0}, "main input (black)");
    expectNear(test::rgbAt(rgb, 320, 70, 140), {255, 0, 0}, "left input");
    expectNear(test::rgbAt(rgb, 320, 250, 140), {0, 0, 255}, "right input");
    expectNear(test::rgbAt(rgb, 320, 160, 20), {0, 255, 0}, "base");
}

TEST_F(MediaEncoder, FrameInputTimestampsFollowTheHandler)
{
    // What the handler does with TimeStamp, and the stamps the input gives.
    struct Case {
        const char* what;
        std::function<void(TInputFrameInfo&)> handler;
        std::vector<int64_t> stamps;
    };
    const Case cases[] = {
        {"left alone", [](TInputFrameInfo&) {}, {0, 40000, 80000, 120000}},
        {"restamped 40 ms after the last", [](TInputFrameInfo& i) { i.TimeStamp = i.LastTimeStamp + 40000; },
         {40000, 80000, 120000, 160000}},
        {"moved back: refused", [](TInputFrameInfo& i) { i.TimeStamp = i.LastTimeStamp; }, {0, 40000, 80000, 120000}},
        {"jump ahead: counting goes on from it",
         [](TInputFrameInfo& i) {
             if (i.FrameNumber++ == 1)
                 i.TimeStamp = 1000000;
         },
         {0, 1000000, 1040000, 1080000}},
    };
    for (const auto& c : cases) {
        TFrameInputAdapter a;
        int headers = 0;
        a.OnReadHeader = [&](TFrameInputAdapter* s) {
            ++headers;
            EXPECT_EQ(s->FrameInfo.Width, 6);
            EXPECT_EQ(s->FrameInfo.BytesPerFrame, 6 * 4 + 2 * 3 * 2);
            EXPECT_EQ(s->FrameInfo.LastTimeStamp, 0);
        };
        // LastTimeStamp before read n is the stamp picture n-1 got.
        std::vector<int64_t> stamps;
        std::atomic<int> reads{0};
        a.OnReadFrameYUV = [&](TFrameInputAdapter*, uint8_t*, TInputFrameInfo& i) {
            if (stamps.size() < 5)
                stamps.push_back(i.LastTimeStamp);
            c.handler(i);
            ++reads;
            return i.BytesPerFrame;
        };
        TFFEncoder enc;
        enc.TriggerEventInMainThread = false;
        ASSERT_EQ(enc.AddTask(a.FileName(), {"-f frameinput -input_type yuv -pix_fmt yuv420p -r 25 -s 6x4"}), 0)
            << enc.LastErrMsg();
        EXPECT_EQ(headers, 1);
        ASSERT_EQ(enc.SetOutput(0, "out", {"-f null"}), 0) << enc.LastErrMsg();
        ASSERT_TRUE(enc.Start(1));
        ASSERT_TRUE(waitFor([&] { return reads >= 6; }));
        enc.Stop(true);
        std::vector<int64_t> got(stamps.begin() + 1, stamps.begin() + 5);
        EXPECT_EQ(got, c.stamps) << c.what;
    }
}

TEST_F(MediaEncoder, WaveInputsBecomeSoundStreams)
{
    TFrameInputAdapter pic;
    TWaveInputAdapter first, second;
    constexpr int kSecond = 192000;
    std::atomic<int> waveReads{0};
    std::vector<int64_t> waveStamps;
    auto header = [](TWaveInputAdapter* s) {
        EXPECT_EQ(s->WaveInfo.SampleRate, 48000);
        EXPECT_EQ(s->WaveInfo.Channels, 2);
        s->WaveInfo.TimeStamp = 0;
        s->WaveInfo.FrameSize = kSecond;
    };
    first.OnReadHeader = header;
    second.OnReadHeader = header;
    first.OnReadWaveData = [&](TWaveInputAdapter*, uint8_t* d, TInputWaveInfo& i) {
        EXPECT_EQ(i.FrameSize, kSecond);
        waveStamps.push_back(i.TimeStamp);
        std::memset(d, 0, i.FrameSize);
        ++waveReads;
        return i.FrameSize;
    };
    // Half a second per read: the stamps advance by what was delivered.
    second.OnReadWaveData = [&](TWaveInputAdapter*, uint8_t* d, TInputWaveInfo& i) {
        std::memset(d, 0, i.FrameSize / 2);
        return i.FrameSize / 2;
    };
    std::atomic<int> pictures{0};
    pic.OnReadFrameYUV = [&](TFrameInputAdapter*, uint8_t*, TInputFrameInfo& i) {
        ++pictures;
        return i.BytesPerFrame;
    };
    TFFEncoder enc;
    enc.TriggerEventInMainThread = false;
    ASSERT_EQ(enc.AddTask(pic.FileName(), {"-re -f frameinput -pix_fmt yuv420p -r 25 -s 32x32"}), 0) << enc.LastErrMsg();
    ASSERT_EQ(enc.AddInput(0, first.FileName(), {"-re -f waveinput -ar 48000 -ac 2  -sample_fmt s16 "}), 1)
        << enc.LastErrMsg();
    ASSERT_EQ(enc.AddInput(0, second.FileName(), {"-re -f waveinput -ar 48000 -ac 2 -sample_fmt s16"}), 2)
        << enc.LastErrMsg();
    const fs::path out = dir.path() / "sound.ts";
    ASSERT_EQ(enc.SetOutput(0, out.string(),
                            {"-filter_complex \"[0:v] scale=64x64 \" -map 1:a -map 2:a -vcodec mpeg2video "
                             "-acodec mp2 -f mpegts -c:a mp2 -b:a 128k"}),
              0)
        << enc.LastErrMsg();
    ASSERT_TRUE(enc.Start(1));
    // "-re" on the first wave input: a second of sound per second.
    ASSERT_TRUE(waitFor([&] { return waveReads >= 2; }));
    enc.Stop(true);
    ASSERT_GE(waveStamps.size(), 2u);
    EXPECT_EQ(waveStamps[0], 0);
    EXPECT_EQ(waveStamps[1], 1000000);
    EXPECT_EQ(test::probeStreams(out.string(), "codec_name,sample_rate,channels"),
              (std::vector<std::string>{"mpeg2video", "mp2,48000,2", "mp2,48000,2"}));
}

TEST_F(MediaEncoder, MemoryOutputGetsWholeTransportPackets)
{
    TFrameInputAdapter pic;
    pic.OnReadFrameYUV = [](TFrameInputAdapter*, uint8_t* d, TInputFrameInfo& i) {
        fillSolid(d, i, kRed);
        return i.BytesPerFrame;
    };
    TMemoryAccessAdapter maa;
    std::atomic<int> opens{0}, closes{0};
    std::atomic<int64_t> bytes{0};
    std::atomic<bool> allWhole{true}, synced{true};
    maa.OnOpen = [&](TMemoryAccessAdapter*, const std::string&, void*, int) {
        ++opens;
        return true;
    };
    maa.OnWrite = [&](TMemoryAccessAdapter*, const uint8_t* b, int n) {
        if (n % 188 != 0)
            allWhole = false;
        for (int at = 0; at + 188 <= n; at += 188)
            if (b[at] != 0x47)
                synced = false;
        bytes += n;
        return n;
    };
    maa.OnClose = [&](TMemoryAccessAdapter*) { ++closes; };
    TFFEncoder enc;
    enc.TriggerEventInMainThread = false;
    ASSERT_EQ(enc.AddTask(pic.FileName(), {"-f frameinput -pix_fmt yuv420p -r 25 -s 64x64"}), 0);
    ASSERT_EQ(enc.SetOutput(0, &maa, nullptr, {"-filter_complex \"[0:v] null\" -c:v mpeg2video -f mpegts"}), 0)
        << enc.LastErrMsg();
    std::atomic<int64_t> progress{0};
    enc.ProgressInterval = 50;
    enc.OnProgress = [&](TFFEncoder*, const TProgressInfo& i) { progress = i.FrameNumber; };
    ASSERT_TRUE(enc.Start(1));
    ASSERT_TRUE(waitFor([&] { return bytes > 200000 && progress > 0; }));
    enc.Stop(true);
    EXPECT_EQ(opens.load(), 1);
    EXPECT_EQ(closes.load(), 1);
    EXPECT_TRUE(allWhole.load());
    EXPECT_TRUE(synced.load());
}

TEST_F(MediaEncoder, UrlInputIsReadToItsEnd)
{
    const fs::path src = dir.path() / "src.mkv";
    run("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=2 -f lavfi -i "
        "sine=frequency=440:sample_rate=44100:duration=2 -c:v mpeg4 -c:a pcm_s16le '" + src.string() + "'");
    ASSERT_TRUE(fs::exists(src));
    // With a map, and without one (the sound of the input is picked as the
    // command line picks it).
    for (const char* map : {"-map 0:a ", ""}) {
        SCOPED_TRACE(map);
        TFFEncoder enc;
        enc.TriggerEventInMainThread = false;
        enc.ReadTimeout = -1;
        int probed = 0;
        enc.OnBeforeFindStreamInfo = [&](TFFEncoder*, int task, int input, AVFormatContext* ctx) {
            EXPECT_EQ(task, 0);
            EXPECT_EQ(input, 0);
            ctx->max_analyze_duration = 2000000;
            ctx->max_delay = 1000;
            ++probed;
        };
        ASSERT_EQ(enc.AddTask(src.string(), {""}), 0) << enc.LastErrMsg();
        EXPECT_EQ(probed, 1);
        const fs::path out = dir.path() / "fromurl.ts";
        ASSERT_EQ(enc.SetOutput(0, out.string(),
                                {std::string("-filter_complex \"[0:v]  scale=320x240 \" ") + map +
                                 "-c:v mpeg2video -c:a mp2 -f mpegts"}),
                  0)
            << enc.LastErrMsg();
        std::atomic<int> ended{0};
        TTerminateInfo info;
        enc.OnTerminate = [&](TFFEncoder*, const TTerminateInfo& i) {
            info = i;
            ++ended;
        };
        ASSERT_TRUE(enc.Start(1));
        ASSERT_TRUE(waitFor([&] { return ended > 0; }));
        EXPECT_TRUE(info.Finished) << info.ErrorMessage;
        EXPECT_EQ(test::probeStreams(out.string(), "codec_name,width,sample_rate"),
                  (std::vector<std::string>{"mpeg2video,320", "mp2,44100"}));
        EXPECT_EQ(test::probeStreams(out.string(), "nb_read_frames", "-count_frames -select_streams v"),
                  std::vector<std::string>{"50"});
    }
}

TEST_F(MediaEncoder, RefusalsNameTheCause)
{
    TFrameInputAdapter pic;
    TWaveInputAdapter wave;
    const std::string picOpts = "-f frameinput -pix_fmt yuv420p -r 25 -s 16x16";

    TFFEncoder enc;
    EXPECT_LT(enc.AddTask("12345", {"-f frameinput -s 2x2"}), 0);
    EXPECT_NE(enc.LastErrMsg().find("12345"), std::string::npos);
    EXPECT_LT(enc.AddTask(pic.FileName(), {"-f frameinput -pix_fmt yuv420p"}), 0);
    EXPECT_NE(enc.LastErrMsg().find("-s"), std::string::npos);
    EXPECT_LT(enc.AddTask(pic.FileName(), {picOpts + " -bogus 1"}), 0);
    EXPECT_NE(enc.LastErrMsg().find("bogus"), std::string::npos);
    EXPECT_LT(enc.AddTask("/nonexistent/file.ts", {""}), 0);
    EXPECT_NE(enc.LastErrMsg().find("/nonexistent/file.ts"), std::string::npos);
    EXPECT_LT(enc.AddTask("/nonexistent/file.ts", {"-f nosuchformat"}), 0);
    EXPECT_NE(enc.LastErrMsg().find("nosuchformat"), std::string::npos);
    EXPECT_LT(enc.AddInput(7, pic.FileName(), {picOpts}), 0);
    ASSERT_EQ(enc.AddTask(pic.FileName(), {picOpts}), 0);
    EXPECT_LT(enc.SetOutput(0, "", {"-f mpegts"}), 0);
    EXPECT_NE(enc.LastErrMsg().find("URL"), std::string::npos);

    struct Case {
        const char* options;
        const char* named;
    };
    const Case outputs[] = {
        {"-filter_complex \"[0:v] null\" -c:v mpeg2video -f mpegts -frobnicate 3", "frobnicate"},
        {"-filter_complex \"[5:v] null\" -c:v mpeg2video -f mpegts", "5:v"},
        {"-filter_complex \"[0:v] nosuchfilter\" -c:v mpeg2video -f mpegts", "filter graph"},
        {"-filter_complex \"[0:v] null\" -c:v nosuchcodec -f mpegts", "nosuchcodec"},
        {"-filter_complex \"[0:v] null\" -c:v mpeg2video -f mpegts -map 0:a", "0:a"},
        {"-filter_complex \"[0:v] null\" -c:v mpeg2video -f mpegts -map 9:a", "9:a"},
        {"-filter_complex \"[0:v] null\" -c:v mpeg2video -f mpegts -g notanumber", "notanumber"},
        {"-filter_complex \"[0:v] null\" -c:v mpeg2video -f nosuchmuxer", "nosuchmuxer"},
        {"-filter_complex \"[0:v] null -c:v mpeg2video", "quote"},
    };
    for (const auto& c : outputs) {
        TFFEncoder e;
        ASSERT_EQ(e.AddTask(pic.FileName(), {picOpts}), 0) << e.LastErrMsg();
        EXPECT_LT(e.SetOutput(0, (dir.path() / "x.ts").string(), {c.options}), 0) << c.options;
        EXPECT_NE(e.LastErrMsg().find(c.named), std::string::npos) << c.options << " -> " << e.LastErrMsg();
    }
    // Options of the muxer and of a stream the output lacks are accepted.
    TFFEncoder ok;
    ASSERT_EQ(ok.AddTask(pic.FileName(), {picOpts}), 0);
    EXPECT_EQ(ok.SetOutput(0, (dir.path() / "y.ts").string(),
                           {"-filter_complex \"[0:v] null\" -c:v mpeg2video -f mpegts -mpegts_service_id 7 "
                            "-b:a 128k -maxrate 3000k -bufsize 2000k -bf 0 -flush_packets 0"}),
              0)
        << ok.LastErrMsg();
    EXPECT_FALSE(ok.Start(0) && false);
    ok.Stop(true);
}

TEST_F(MediaEncoder, RealTimeFrameInputIsNotReadAhead)
{
    TFrameInputAdapter pic;
    std::atomic<int> reads{0};
    pic.OnReadFrameYUV = [&](TFrameInputAdapter*, uint8_t*, TInputFrameInfo& i) {
        ++reads;
        return i.BytesPerFrame;
    };
    TFFEncoder enc;
    enc.TriggerEventInMainThread = false;
    ASSERT_EQ(enc.AddTask(pic.FileName(), {"-re -f frameinput -pix_fmt yuv420p -r 25 -s 16x16"}), 0);
    ASSERT_EQ(enc.SetOutput(0, "out", {"-f null"}), 0) << enc.LastErrMsg();
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(enc.Start(1));
    std::this_thread::sleep_for(400ms);
    const int n = reads.load();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    enc.Stop(true);
    // Never ahead of the clock: at most one picture per 40 ms, plus the first.
    EXPECT_LE(n, int(elapsed * 25) + 1);
    EXPECT_GE(n, 1);
}

TEST_F(MediaEncoder, UrlInputTimestampJumpsKeepEveryPicture)
{
    // Two transport-stream pieces back to back, the second stamped 1000 s
    // earlier than the first: a source that restarted its clock (which the
    // demuxer's wrap correction turns into a jump of a day ahead).
    const fs::path a = dir.path() / "a.ts", b = dir.path() / "b.ts", joined = dir.path() / "joined.ts";
    run("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=1 -c:v mpeg2video "
        "-output_ts_offset 1000 '" + a.string() + "'");
    run("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=1 -c:v mpeg2video '" + b.string() + "'");
    run("cat '" + a.string() + "' '" + b.string() + "' > '" + joined.string() + "'");
    ASSERT_GT(fs::file_size(joined), 0u);

    TFFEncoder enc;
    enc.TriggerEventInMainThread = false;
    ASSERT_EQ(enc.AddTask(joined.string(), {"-f mpegts"}), 0) << enc.LastErrMsg();
    const fs::path out = dir.path() / "continuous.ts";
    ASSERT_EQ(enc.SetOutput(0, out.string(), {"-filter_complex \"[0:v] null\" -c:v mpeg2video -f mpegts"}), 0)
        << enc.LastErrMsg();
    std::atomic<int> ended{0};
    enc.OnTerminate = [&](TFFEncoder*, const TTerminateInfo&) { ++ended; };
    ASSERT_TRUE(enc.Start(1));
    ASSERT_TRUE(waitFor([&] { return ended > 0; }));
    EXPECT_EQ(test::probeStreams(out.string(), "nb_read_frames", "-count_frames -select_streams v"),
              std::vector<std::string>{"50"});
    // The pictures follow each other 40 ms apart: two seconds, not a day.
    const double seconds = std::atof(
        run("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + out.string() + "'").c_str());
    EXPECT_GT(seconds, 1.5);
    EXPECT_LT(seconds, 3.0);
}
