// The media player component against generated sources: a file played at its
// own pace, a live UDP stream from ffmpeg that goes silent, filter texts that
// change while playing, sound in the audio hook, and stop.
#include "integration/player/PlayerTestSupport.h"
#include "media/TFFPlayer.h"
#include "player/TitleFilter.h"

#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <mutex>

namespace tv {
namespace {

using namespace std::chrono;
using test::pumpUntil;

class PlayerComponent : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        test::app();
        if (!test::haveTool("ffmpeg"))
            return;
        dir_ = new test::TempFolder("tv_player");
        // Two seconds of red at 25 pictures per second with a mono 44.1 kHz tone.
        redFile_ = dir_->file("red.ts");
        ok_ = test::ffmpeg({"-f", "lavfi", "-i", "color=c=red:s=320x240:r=25", "-f", "lavfi", "-i",
                            "sine=frequency=440:sample_rate=44100", "-t", "2", "-c:v", "libx264", "-preset",
                            "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-ac", "1",
                            QString::fromStdString(redFile_)});
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
        ASSERT_TRUE(player_.LoadAVLib(""));
        player_.SetFrameHookHandler([this](const TFFPicture& p, AVPixelFormat f, int w, int h, int64_t) {
            std::lock_guard lock(mutex_);
            ++frames_;
            width_ = w;
            height_ = h;
            format_ = f;
            centre_ = {p.data[0][(h / 2) * p.linesize[0] + w / 2], p.data[1][(h / 4) * p.linesize[1] + w / 4],
                       p.data[2][(h / 4) * p.linesize[2] + w / 4]};
            const auto now = steady_clock::now();
            if (frames_ == 1)
                firstFrame_ = now;
            lastFrame_ = now;
        });
        player_.SetFrameHook(true);
        player_.OnState = [this](TPlayState s) { states_.push_back(s); };
        player_.OnFileOpen = [this](int64_t, int w, int h, int&, int&) {
            opened_ = true;
            openedWidth_ = w;
            openedHeight_ = h;
        };
        player_.OnOpenFailed = [this] { failed_ = true; };
    }
    int frames()
    {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    bool sawState(TPlayState s) const { return std::find(states_.begin(), states_.end(), s) != states_.end(); }

    static inline test::TempFolder* dir_ = nullptr;
    static inline std::string redFile_;
    static inline bool ok_ = false;

    TFFPlayer player_;
    std::mutex mutex_;
    int frames_ = 0;
    int width_ = 0, height_ = 0;
    AVPixelFormat format_ = AV_PIX_FMT_NONE;
    test::Yuv centre_{};
    steady_clock::time_point firstFrame_, lastFrame_;
    std::vector<TPlayState> states_;
    bool opened_ = false, failed_ = false;
    int openedWidth_ = 0, openedHeight_ = 0;
};

TEST_F(PlayerComponent, FilePlaysAtItsOwnPaceThroughTheFilterText)
{
    bool beforeOnMainThread = false;
    bool beforeCameFirst = false;
    player_.OnBeforeFindStreamInfo = [&](AVFormatContext* c) {
        beforeOnMainThread = QThread::currentThread() == test::app().thread();
        beforeCameFirst = !opened_;
        c->max_analyze_duration = 2'500'000;
        player_.SetVideoFilters("scale=w=160:h=120");
    };
    player_.SetDisableAudio(true);
    ASSERT_TRUE(player_.TryOpen(redFile_));
    EXPECT_FALSE(player_.TryOpen(redFile_)) << "a second open while one is under way is refused";
    ASSERT_TRUE(pumpUntil([&] { return sawState(TPlayState::End) || failed_; }, 60000ms));
    EXPECT_FALSE(failed_) << player_.LastErrMsg();
    EXPECT_TRUE(beforeOnMainThread);
    EXPECT_TRUE(beforeCameFirst);
    EXPECT_EQ(openedWidth_, 320);
    EXPECT_EQ(openedHeight_, 240);

    std::lock_guard lock(mutex_);
    // Late pictures may be dropped on a busy machine, never repeated.
    EXPECT_GE(frames_, 25);
    EXPECT_LE(frames_, 50);
    EXPECT_EQ(width_, 160);
    EXPECT_EQ(height_, 120);
    EXPECT_EQ(format_, AV_PIX_FMT_YUV420P);
    EXPECT_TRUE(test::looksRed(centre_)) << centre_.y << "," << centre_.u << "," << centre_.v;
    // Two seconds of pictures are not handed over in a burst.
    EXPECT_GT(duration_cast<milliseconds>(lastFrame_ - firstFrame_).count(), 1500);
}

TEST_F(PlayerComponent, OpenFailuresAndRefusals)
{
    ASSERT_TRUE(player_.TryOpen(dir_->file("missing.ts")));
    ASSERT_TRUE(pumpUntil([&] { return failed_ || opened_; }, 30000ms));
    EXPECT_TRUE(failed_);
    EXPECT_FALSE(opened_);
    EXPECT_FALSE(player_.LastErrMsg().empty());

    // A file that is not media at all.
    failed_ = false;
    const std::string junk = dir_->file("junk.ts");
    FILE* f = fopen(junk.c_str(), "wb");
    fputs("not a video", f);
    fclose(f);
    ASSERT_TRUE(player_.TryOpen(junk));
    ASSERT_TRUE(pumpUntil([&] { return failed_ || opened_; }, 30000ms));
    EXPECT_TRUE(failed_);

    player_.UnloadAVLib();
    failed_ = false;
    EXPECT_FALSE(player_.TryOpen(redFile_)) << "refused without the libraries";
    test::pumpFor(200ms);
    EXPECT_FALSE(failed_) << "a refusal gives no verdict";
}

TEST_F(PlayerComponent, ChangedFilterTextTakesEffectWhilePlaying)
{
    player_.OnBeforeFindStreamInfo = [&](AVFormatContext*) { player_.SetVideoFilters("scale=w=160:h=120"); };
    player_.SetDisableAudio(true);
    ASSERT_TRUE(player_.TryOpen(redFile_));
    ASSERT_TRUE(pumpUntil([&] { return frames() >= 5; }, 30000ms));
    player_.SetVideoFilters("scale=w=80:h=60");
    ASSERT_TRUE(pumpUntil([&] {
        std::lock_guard lock(mutex_);
        return width_ == 80 || sawState(TPlayState::End);
    }, 30000ms));
    std::lock_guard lock(mutex_);
    EXPECT_EQ(width_, 80);
    EXPECT_EQ(height_, 60);
}

TEST_F(PlayerComponent, SoundReachesTheAudioHookAsS16Stereo48k)
{
    std::mutex m;
    int64_t bytes = 0;
    int rate = 0, channels = 0;
    player_.SetAudioHookHandler([&](int64_t, const uint8_t*, int size, int r, int c) {
        std::lock_guard lock(m);
        bytes += size;
        rate = r;
        channels = c;
    });
    player_.SetAudioHook(true);
    player_.OnBeforeFindStreamInfo = [&](AVFormatContext*) {
        player_.SetVideoFilters("scale=w=160:h=120");
        player_.SetAudioFilters(kAudioFilterText);
    };
    ASSERT_TRUE(player_.TryOpen(redFile_));
    ASSERT_TRUE(pumpUntil([&] { return sawState(TPlayState::End) || failed_; }, 60000ms));
    std::lock_guard lock(m);
    EXPECT_EQ(rate, 48000);
    EXPECT_EQ(channels, 2);
    // Two seconds of 16-bit stereo at 48 kHz, give or take the codec's edges.
    EXPECT_NEAR(static_cast<double>(bytes), 2 * 192000.0, 0.1 * 2 * 192000.0);

    // With sound disabled the hook stays quiet.
    bytes = 0;
    states_.clear();
    player_.SetDisableAudio(true);
    ASSERT_TRUE(player_.TryOpen(redFile_));
    {
        // pump without holding the lock the hook needs
        m.unlock();
        ASSERT_TRUE(pumpUntil([&] { return sawState(TPlayState::End) || failed_; }, 60000ms));
        m.lock();
    }
    EXPECT_EQ(bytes, 0);
}

TEST_F(PlayerComponent, StopWaitsForItsThreadsAndNothingFollows)
{
    player_.OnBeforeFindStreamInfo = [&](AVFormatContext*) { player_.SetVideoFilters("scale=w=160:h=120"); };
    ASSERT_TRUE(player_.TryOpen(redFile_));
    ASSERT_TRUE(pumpUntil([&] { return frames() >= 3; }, 30000ms));
    player_.Stop();
    const int after = frames();
    test::pumpFor(300ms);
    EXPECT_EQ(frames(), after);
    EXPECT_TRUE(states_.empty());
    EXPECT_FALSE(player_.Opening());
}

TEST_F(PlayerComponent, LiveUdpSourceThatFallsSilentCountsAsStopped)
{
    const int port = test::freeUdpPort();
    const QString url = QString("udp://127.0.0.1:%1").arg(port);
    player_.OnBeforeFindStreamInfo = [&](AVFormatContext* c) {
        c->max_analyze_duration = 2'500'000;
        player_.SetVideoFilters("scale=w=160:h=120");
    };
    ASSERT_TRUE(player_.TryOpen(url.toStdString()));
    QProcess sender;
    sender.start("ffmpeg", {"-hide_banner", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                            "color=c=red:s=320x240:r=25", "-t", "4", "-c:v", "mpeg2video", "-f", "mpegts",
                            url + "?pkt_size=1316"});
    ASSERT_TRUE(pumpUntil([&] { return opened_ || failed_; }, 30000ms));
    ASSERT_TRUE(opened_) << player_.LastErrMsg();
    ASSERT_TRUE(pumpUntil([&] { return frames() >= 10; }, 30000ms));
    {
        std::lock_guard lock(mutex_);
        EXPECT_TRUE(test::looksRed(centre_));
    }
    sender.waitForFinished(30000);
    const auto silentSince = steady_clock::now();
    ASSERT_TRUE(pumpUntil([&] { return sawState(TPlayState::Stop); }, 40000ms))
        << "a silent source must end its playback; states " << states_.size() << " " << player_.LastErrMsg();
    EXPECT_GE(duration_cast<seconds>(steady_clock::now() - silentSince).count(), 5);
}

} // namespace
} // namespace tv
