// The Player's data module in-process: the frame hook's packing and delay
// line against a real frame channel, and the state machine's answers to
// "Close" and to late component events.
#include "integration/player/PlayerTestSupport.h"
#include "player/TDMPlayer.h"
#include "player/TitleFilter.h"

#include <gtest/gtest.h>

namespace tv {
namespace {

class PlayerDataModule : public ::testing::Test {
protected:
    void start(bool hasAudio, int w = 638, int h = 358)
    {
        test::app();
        name_ = test::uniqueName('D');
        auto f = TShareFileMap::Create(name_, true, 0);
        ASSERT_TRUE(f.ok()) << f.error();
        channel_ = std::move(f.value());
        dm_ = std::make_unique<TDMPlayer>();
        dm_->ExitProcess = [this](int code) { exitCode_ = code; };
        const std::vector<std::string> args = {"0", "'/nonexistent/source.ts'", name_, hasAudio ? "-1" : "0",
                                               std::to_string(w), std::to_string(h), "'T'", "'x'", "3",
                                               "0xFFFFFF", "0", "0", "0", "0x000000", "8"};
        std::optional<int> code = dm_->DataModuleCreate(args);
        ASSERT_FALSE(code.has_value());
    }
    void TearDown() override
    {
        dm_.reset();
        if (channel_)
            channel_->UnlinkSharedFileMapping();
    }

    // A picture whose every sample is `value`, rows padded to `pad` extra bytes.
    struct Picture {
        std::vector<uint8_t> planes[3];
        TFFPicture pic;
        Picture(int w, int h, uint8_t value, int pad)
        {
            const int cw = (w + 1) / 2, ch = (h + 1) / 2;
            const int ls[3] = {w + pad, cw + pad, cw + pad};
            const int rows[3] = {h, ch, ch};
            for (int i = 0; i < 3; ++i) {
                planes[i].assign(static_cast<std::size_t>(ls[i]) * rows[i], 0xEE); // padding
                for (int r = 0; r < rows[i]; ++r)
                    std::fill_n(planes[i].begin() + r * ls[i], i == 0 ? w : cw, static_cast<uint8_t>(value + i));
                pic.data[i] = planes[i].data();
                pic.linesize[i] = ls[i];
            }
        }
    };

    // Bytes of the channel that hold `value`, +1 and +2 for the three planes
    // of a w x h picture, as far as F reaches; -1 when a byte differs.
    int64_t packedMatch(int w, int h, uint8_t value)
    {
        const int64_t F = TShareFileMap::FrameSize(w, h);
        const uint8_t* d = channel_->SharedData;
        const int64_t luma = int64_t(w) * h;
        const int64_t chroma = int64_t((w + 1) / 2) * ((h + 1) / 2);
        for (int64_t i = 0; i < F; ++i) {
            const uint8_t want = static_cast<uint8_t>(value + (i < luma ? 0 : i < luma + chroma ? 1 : 2));
            if (d[i] != want)
                return -1;
        }
        return F;
    }

    std::string name_;
    std::unique_ptr<TShareFileMap> channel_;
    std::unique_ptr<TDMPlayer> dm_;
    std::optional<int> exitCode_;
};

TEST_F(PlayerDataModule, PicturesArePackedWhateverTheirRowPadding)
{
    start(false);
    struct Case {
        int w, h, pad;
        int64_t F;
    };
    const Case cases[] = {
        {638, 358, 66, 342'606}, // padded rows
        {637, 357, 0, 341'611},  // odd width: chroma rows of 319
        {637, 357, 35, 341'611},
        {3, 3, 0, 17},
        {720, 576, 0, 622'080},  // already packed
    };
    uint8_t value = 10;
    for (const Case& c : cases) {
        Picture p(c.w, c.h, value, c.pad);
        dm_->FFPlayerFrameHook(p.pic, AV_PIX_FMT_YUV420P, c.w, c.h, 0);
        EXPECT_EQ(packedMatch(c.w, c.h, value), c.F) << c.w << "x" << c.h << " pad " << c.pad;
        value += 10;
    }
}

TEST_F(PlayerDataModule, PicturesThatCannotBeCopiedSafelyAreSkipped)
{
    start(false);
    Picture good(64, 48, 50, 0);
    dm_->FFPlayerFrameHook(good.pic, AV_PIX_FMT_YUV420P, 64, 48, 0);
    ASSERT_EQ(packedMatch(64, 48, 50), TShareFileMap::FrameSize(64, 48));

    // Rows shorter than the width claimed, another pixel format, no size,
    // and a picture larger than the channel: the channel keeps its picture.
    Picture narrow(32, 48, 90, 0);
    dm_->FFPlayerFrameHook(narrow.pic, AV_PIX_FMT_YUV420P, 64, 48, 0);
    dm_->FFPlayerFrameHook(good.pic, AV_PIX_FMT_YUV422P, 64, 48, 0);
    dm_->FFPlayerFrameHook(good.pic, AV_PIX_FMT_YUV420P, 0, 48, 0);
    Picture huge(3840, 2160, 120, 0);
    dm_->FFPlayerFrameHook(huge.pic, AV_PIX_FMT_YUV420P, 3840, 2160, 0);
    EXPECT_EQ(packedMatch(64, 48, 50), TShareFileMap::FrameSize(64, 48));
}

TEST_F(PlayerDataModule, WithSoundTheChannelIs24PicturesBehind)
{
    start(true, 32, 24);
    for (int n = 1; n <= 60; ++n) {
        Picture p(32, 24, static_cast<uint8_t>(n), 0);
        dm_->FFPlayerFrameHook(p.pic, AV_PIX_FMT_YUV420P, 32, 24, 0);
        if (n <= 24)
            EXPECT_EQ(channel_->SharedData[0], 0) << "untouched while the delay line fills, picture " << n;
        else
            EXPECT_EQ(packedMatch(32, 24, static_cast<uint8_t>(n - 24)), TShareFileMap::FrameSize(32, 24))
                << "picture " << n;
    }
}

TEST_F(PlayerDataModule, CloseIsNeverUndoneAndEndsWithCode4)
{
    start(false);
    EXPECT_EQ(dm_->State, TDMPlayer::kStateOpening);
    int w0 = 0, h0 = 0;
    dm_->FFPlayerFileOpen(0, 320, 240, w0, h0);
    EXPECT_EQ(dm_->State, TDMPlayer::kStateOpened);
    dm_->TimerTimer();
    EXPECT_EQ(dm_->State, TDMPlayer::kStateFrameHookOn);
    dm_->TimerTimer();
    EXPECT_EQ(dm_->State, TDMPlayer::kStateRunning);
    dm_->FFPlayerState(TPlayState::Play);
    EXPECT_EQ(dm_->State, TDMPlayer::kStateRunning);
    dm_->FFPlayerState(TPlayState::End);
    EXPECT_EQ(dm_->State, TDMPlayer::kStateOpenWanted);
    dm_->State = TDMPlayer::kStateRunning;

    for (const char* ignored : {"close", "Close now", "", "CLOSE"}) {
        dm_->MailSlotNewMessage(dm_->MailSlot, ".", "u", ignored);
        EXPECT_EQ(dm_->State, TDMPlayer::kStateRunning) << ignored;
    }
    const std::string titled = VideoFilterText(dm_->Args, dm_->TitleFontFile);
    dm_->FFPlayer.SetVideoFilters(titled);
    dm_->MailSlotNewMessage(dm_->MailSlot, ".", "u", "Close");
    EXPECT_EQ(dm_->State, TDMPlayer::kStateCloseReceived);
    EXPECT_EQ(dm_->FFPlayer.VideoFilters(), "scale=w=638:h=358");

    // Late verdicts and stops leave the close alone.
    int sw = 0, sh = 0;
    dm_->FFPlayerFileOpen(0, 1, 1, sw, sh);
    dm_->FFPlayerOpenFailed();
    dm_->FFPlayerState(TPlayState::Stop);
    dm_->FFPlayerState(TPlayState::End);
    dm_->MailSlotNewMessage(dm_->MailSlot, ".", "u", "Close");
    EXPECT_EQ(dm_->State, TDMPlayer::kStateCloseReceived);

    EXPECT_TRUE(dm_->MailSlot.Active());
    dm_->TimerTimer();
    EXPECT_EQ(dm_->State, TDMPlayer::kStateClosing);
    EXPECT_FALSE(dm_->MailSlot.Active()) << "the mailbox is given up first";
    EXPECT_FALSE(exitCode_.has_value());
    dm_->TimerTimer();
    ASSERT_TRUE(exitCode_.has_value());
    EXPECT_EQ(*exitCode_, 4);
    EXPECT_FALSE(dm_->FFPlayer.AVLibLoaded());
}

} // namespace
} // namespace tv
