// The option texts a profile gives the encoder, character for character, the
// output URL rules, and the frame and wave handlers over real channels.

#include "channels/TAudioShare.h"
#include "channels/TShareFileMap.h"
#include "common/Colors.h"
#include "common/ProfileSettings.h"
#include "common/TMemIniFile.h"
#include "engine/MosaicInputs.h"
#include "engine/MosaicPlan.h"
#include "engine/OutputUrl.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace tv;

namespace {

// The reference profile: 720 x 576 in 2 x 2 cells, two players, no main URL.
std::string referenceProfile(int audio)
{
    return "[Output]\r\nWidth=720\r\nHeight=576\r\nColumns=2\r\nRows=2\r\nBorder=2\r\nBorderColor=clWhite\r\n"
           "Format=-vcodec mpeg2video -b:v 3000k -acodec mp2 -f mpegts\r\n"
           "[Main]\r\nURL=\r\nWidth=360\r\nHeight=288\r\nLeft=0\r\nTop=0\r\n"
           "[Players]\r\nCount=2\r\nAudio=" +
           std::to_string(audio) +
           "\r\n[Player1]\r\nLeft=0\r\nTop=0\r\nRight=0\r\nBottom=0\r\n"
           "[Player2]\r\nLeft=1\r\nTop=0\r\nRight=1\r\nBottom=1\r\n";
}

MosaicPlan planOf(const std::string& profile)
{
    const ProfileSettings s = readProfile(TMemIniFile::FromBytes(profile, IniEncoding::Utf8));
    auto color = colorTextToHex(s.borderColor, true);
    EXPECT_TRUE(color.ok());
    return MosaicPlan::build(s, color.ok() ? color.value() : "");
}

const std::string kGraph =
    "-filter_complex \"color=size=720x576:c=0xffffff,format=rgb24 [base];[0:v]  scale=360x288 [player0];"
    "[1:v]  scale=356x284 [player1];[2:v]  scale=356x572 [player2];[base][player0]  overlay=shortest=1 "
    ":x=0:y=0 [tmp0];[tmp0][player1]  overlay=shortest=1 :x=2:y=2 [tmp1];[tmp1][player2]  "
    "overlay=shortest=1 :x=362:y=2 \" ";
const std::string kTail = "-vcodec mpeg2video -b:v 3000k -acodec mp2 -f mpegts";
const std::string kMeta = " -metadata service_provider=\"VornCo\" -flush_packets 0";

} // namespace

TEST(EngineMosaicPlan, ReferenceProfileGivesTheExactOutputOptions)
{
    struct Case {
        int audio;
        std::string options;
        std::vector<int> soundInputs;
    };
    const Case cases[] = {
        {1, kGraph + "-map 3:a " + kTail + " -c:a mp2" + kMeta, {3}},
        {0, kGraph + kTail + kMeta, {}},
        {2, kGraph + "-map 3:a -map 4:a " + kTail + " -c:a mp2" + kMeta, {3, 4}},
    };
    for (const auto& c : cases) {
        const MosaicPlan plan = planOf(referenceProfile(c.audio));
        EXPECT_EQ(plan.outputOptions, c.options) << "audio " << c.audio;
        EXPECT_EQ(plan.soundInputs, c.soundInputs) << "audio " << c.audio;
    }
}

TEST(EngineMosaicPlan, ReferenceProfileInputs)
{
    const MosaicPlan plan = planOf(referenceProfile(1));
    EXPECT_FALSE(plan.hasMainUrl);
    EXPECT_EQ(plan.mainInputOptions, "-re -f frameinput -input_type yuv -pix_fmt yuv420p -re  -r  25 -s 1x1 ");
    ASSERT_EQ(plan.players.size(), 2u);
    const MosaicPlayerPlan& p1 = plan.players[0];
    const MosaicPlayerPlan& p2 = plan.players[1];
    EXPECT_EQ(p1.input, 1);
    EXPECT_EQ(std::make_tuple(p1.width, p1.height, p1.x, p1.y), std::make_tuple(356, 284, 2, 2));
    EXPECT_EQ(std::make_tuple(p2.width, p2.height, p2.x, p2.y), std::make_tuple(356, 572, 362, 2));
    EXPECT_EQ(p1.inputOptions, "-re  -f frameinput -input_type yuv -pix_fmt yuv420p -r 25 -s 356x284");
    EXPECT_TRUE(p1.hasAudio);
    EXPECT_FALSE(p2.hasAudio);
    EXPECT_EQ(plan.soundPlayers, std::vector<int>{0});
}

TEST(EngineMosaicPlan, PlayerWithoutSectionSitsOutsideThePicture)
{
    std::string profile = referenceProfile(0);
    profile.replace(profile.find("Count=2"), 7, "Count=3");
    const MosaicPlan plan = planOf(profile);
    ASSERT_EQ(plan.players.size(), 3u);
    const MosaicPlayerPlan& p3 = plan.players[2];
    // One cell large, placed at column 100, row 100.
    EXPECT_EQ(std::make_tuple(p3.width, p3.height, p3.x, p3.y), std::make_tuple(356, 284, 36002, 28802));
    EXPECT_NE(plan.outputOptions.find("[tmp2][player3]  overlay=shortest=1 :x=36002:y=28802 \" "),
              std::string::npos);
}

TEST(EngineOutputUrl, LowerCasingAndHttpPort)
{
    EXPECT_EQ(lowerCaseUrl("UDP://239.1.1.1:1234/Path?Key=AbC"), "udp://239.1.1.1:1234/path?key=abc");
    struct Case {
        const char* url;
        bool http;
        const char* port;
        bool number;
    };
    const Case cases[] = {
        {"HTTP://0.0.0.0:8080", true, "8080", true},
        {"http://8080", true, "8080", true},
        {"http://0.0.0.0:8080/live", true, "8080/live", false},
        {"http://host:1:2", true, "1", true},
        {"http://", true, "", false},
        {"udp://127.0.0.1:5000", false, "", false},
    };
    for (const auto& c : cases) {
        const std::string url = lowerCaseUrl(c.url);
        EXPECT_EQ(isHttpOutput(url), c.http) << c.url;
        if (!c.http)
            continue;
        EXPECT_EQ(httpPortText(url), c.port) << c.url;
        EXPECT_EQ(parsePort(httpPortText(url)).has_value(), c.number) << c.url;
    }
    EXPECT_FALSE(parsePort("70000").has_value());
    EXPECT_FALSE(parsePort("-1").has_value());
}

class EngineMosaicInputs : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string base = "EI" + std::to_string(getpid()) + "_";
        for (int i = 0; i < 2; ++i) {
            auto mm = TShareFileMap::Create(base + std::to_string(i), true, 0);
            ASSERT_TRUE(mm.ok()) << mm.error();
            frames.push_back(std::shared_ptr<TShareFileMap>(std::move(mm.value())));
            auto a = TAudioShare::Create("A" + base + std::to_string(i), true, 0);
            ASSERT_TRUE(a.ok()) << a.error();
            sound.push_back(std::shared_ptr<TAudioShare>(std::move(a.value())));
        }
    }
    void TearDown() override
    {
        for (auto& f : frames) {
            f->CloseSharedFileMappnig();
            f->UnlinkSharedFileMapping();
        }
        for (auto& a : sound) {
            a->CloseSharedFileMappnig();
            a->UnlinkSharedFileMapping();
        }
    }
    std::vector<std::shared_ptr<TShareFileMap>> frames;
    std::vector<std::shared_ptr<TAudioShare>> sound;
};

TEST_F(EngineMosaicInputs, FrameHandlersCopyTheSlotsPlayer)
{
    int tagOfSlot0 = -1;
    MosaicInputs in([&](int slot) { return slot == 0 ? tagOfSlot0 : -1; });
    in.addPlayer(frames[0], sound[0]);
    in.addPlayer(frames[1], sound[1]);
    ASSERT_EQ(in.players(), 2);
    EXPECT_EQ(in.FIA[1]->Tag.load(), 1);

    // A 356 x 284 slot asks for 151656 bytes; both players wrote a picture.
    TInputFrameInfo info;
    info.Width = 356;
    info.Height = 284;
    info.BytesPerFrame = static_cast<int32_t>(TShareFileMap::FrameSize(356, 284));
    ASSERT_EQ(info.BytesPerFrame, 151656);
    std::vector<uint8_t> p0(info.BytesPerFrame, 10), p1(info.BytesPerFrame, 20), out(info.BytesPerFrame, 0);
    ASSERT_TRUE(frames[0]->Write2SharedMem(p0.data(), info.BytesPerFrame));
    ASSERT_TRUE(frames[1]->Write2SharedMem(p1.data(), info.BytesPerFrame));

    in.FIAReadHeader(in.FIA[0].get());
    EXPECT_EQ(in.FIAReadFrameYUV(in.FIA[0].get(), out.data(), info), 151656);
    EXPECT_EQ(info.TimeStamp, 40000);
    EXPECT_EQ(info.FrameNumber, 1);
    EXPECT_EQ(out[0], 10);
    for (int n = 2; n <= 10; ++n) {
        info.LastTimeStamp = info.TimeStamp;
        in.FIAReadFrameYUV(in.FIA[0].get(), out.data(), info);
    }
    EXPECT_EQ(info.TimeStamp, 400000);

    // The changer moved player 1 into slot 0: slot 0 now copies its channel.
    tagOfSlot0 = 1;
    in.FIAReadFrameYUV(in.FIA[0].get(), out.data(), info);
    EXPECT_EQ(out[0], 20);
    EXPECT_EQ(out[info.BytesPerFrame - 1], 20);
}

TEST_F(EngineMosaicInputs, DummyAndWaveHandlers)
{
    MosaicInputs in;
    in.addPlayer(frames[0], sound[0]);
    struct Size {
        int w, h, bytes;
    };
    for (const Size& s : {Size{1, 1, 3}, Size{360, 240, 129600}, Size{355, 283, 151017}, Size{720, 576, 622080}}) {
        TInputFrameInfo info;
        info.Width = s.w;
        info.Height = s.h;
        uint8_t guard = 0x5a;
        EXPECT_EQ(in.FIADummyReadFrameYUV(&in.FIADummy, &guard, info), s.bytes) << s.w << "x" << s.h;
        EXPECT_EQ(guard, 0x5a);
        EXPECT_EQ(info.TimeStamp, 0);
    }

    in.WIAReadHeader(in.WIA[0].get());
    EXPECT_EQ(in.WIA[0]->WaveInfo.FrameSize, 192000);
    std::vector<uint8_t> second(192000, 0xff);
    TInputWaveInfo& info = in.WIA[0]->WaveInfo;
    // Nothing published yet: a full second of silence.
    EXPECT_EQ(in.WIAReadWaveData(in.WIA[0].get(), second.data(), info), 192000);
    EXPECT_EQ(second[0], 0);
    EXPECT_EQ(second[191999], 0);
}
