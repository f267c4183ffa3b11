#include "channels/TShareFileMap.h"
#include "platform/SharedMemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <unistd.h>
#include <vector>

using tv::TShareFileMap;
using tv::platform::SharedMemory;

namespace {

std::string uniqueName(const std::string& tag) { return "tvfc" + std::to_string(getpid()) + tag; }

struct Unlinker {
    std::string name;
    ~Unlinker() { SharedMemory::unlink(name); }
};

bool allZero(const std::uint8_t* p, std::size_t n)
{
    return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; });
}

} // namespace

TEST(ChannelsFrame, FrameSizeOfYuv420Pictures)
{
    struct Case { int w, h; std::int64_t f; };
    const Case cases[] = {
        {1920, 1080, 3'110'400}, {720, 576, 622'080}, {3, 3, 17},   {1, 1, 3},
        {3840, 2160, 12'441'600}, {0, 576, 0},        {720, -1, 0}, {46341, 46341, 46341LL * 46341 + 2LL * 23171 * 23171},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TShareFileMap::FrameSize(c.w, c.h), c.f) << c.w << "x" << c.h;
}

TEST(ChannelsFrame, NewChannelIsZeroAndNamedAsAsked)
{
    const std::string name = uniqueName("a");
    Unlinker cleanup{name};
    auto map = TShareFileMap::Create(name, true, 0);
    ASSERT_TRUE(map) << map.error();
    auto& m = *map.value();
    EXPECT_EQ(m.SharedFileName, name);
    ASSERT_NE(m.SharedData, nullptr);
    EXPECT_GE(m.hFileMapping, 0);
    EXPECT_EQ(m.MappedSize(), static_cast<std::size_t>(TShareFileMap::kDefaultBlockSize));
    // The reader copies F bytes of a channel nobody wrote: all zero.
    std::vector<std::uint8_t> f(TShareFileMap::FrameSize(1920, 1080), 0xFF);
    EXPECT_EQ(m.ReadFromSharedMem(f.data(), static_cast<std::int32_t>(f.size())), static_cast<std::int32_t>(f.size()));
    EXPECT_TRUE(allZero(f.data(), f.size()));

    TShareFileMap global;
    const std::string gname = uniqueName("g");
    ASSERT_TRUE(global.CreateSharedFileMapping(true, gname, 0));
    EXPECT_EQ(global.SharedFileName, "Global\\" + gname);
    global.UnlinkSharedFileMapping();
}

TEST(ChannelsFrame, OpenOfMissingChannelLeavesNoViewAndCreatesNothing)
{
    const std::string name = uniqueName("b");
    auto map = TShareFileMap::Create(name, false, 0);
    ASSERT_TRUE(map) << map.error();
    EXPECT_EQ(map.value()->SharedData, nullptr);
    TShareFileMap probe;
    auto opened = probe.OpenSharedFileMappnig(false, name, 0);
    ASSERT_TRUE(opened) << opened.error();
    EXPECT_FALSE(opened.value());
    // Reads and writes on a channel without a view are refused, not crashes.
    std::uint8_t buf[16] = {};
    EXPECT_EQ(map.value()->ReadFromSharedMem(buf, sizeof buf), 0);
    EXPECT_FALSE(map.value()->Write2SharedMem(buf, sizeof buf));
}

TEST(ChannelsFrame, PlayerWritesAndEngineReadsPackedPlanes)
{
    const std::string name = uniqueName("c");
    Unlinker cleanup{name};
    auto engine = TShareFileMap::Create(name, true, 0);
    ASSERT_TRUE(engine) << engine.error();
    auto player = TShareFileMap::Create(name, false, 0);
    ASSERT_TRUE(player) << player.error();
    ASSERT_NE(player.value()->SharedData, nullptr);

    // A 3x3 picture whose planes carry row padding, as decoders hand them out.
    const int w = 3, h = 3;
    std::vector<std::uint8_t> y(8 * 3, 0xEE), u(8 * 2, 0xEE), v(8 * 2, 0xEE);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            y[r * 8 + c] = static_cast<std::uint8_t>(10 * r + c);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c) {
            u[r * 8 + c] = static_cast<std::uint8_t>(100 + 10 * r + c);
            v[r * 8 + c] = static_cast<std::uint8_t>(200 + 10 * r + c);
        }
    const std::uint8_t* planes[3] = {y.data(), u.data(), v.data()};
    const int linesizes[3] = {8, 8, 8};
    ASSERT_TRUE(player.value()->WritePlanes(planes, linesizes, w, h));

    std::vector<std::uint8_t> got(TShareFileMap::FrameSize(w, h) + 1, 0xAA);
    ASSERT_EQ(engine.value()->ReadFromSharedMem(got.data(), 17), 17);
    const std::vector<std::uint8_t> expected = {0,   1,   2,   10,  11,  12,  20,  21,  22, 100,
                                                101, 110, 111, 200, 201, 210, 211, 0xAA};
    EXPECT_EQ(got, expected);
}

TEST(ChannelsFrame, OversizedPicturesAndCopiesAreRefusedAndLoggedOnce)
{
    const std::string name = uniqueName("d");
    Unlinker cleanup{name};
    auto map = TShareFileMap::Create(name, true, 0);
    ASSERT_TRUE(map) << map.error();
    auto& m = *map.value();
    const std::int32_t block = TShareFileMap::kDefaultBlockSize;
    std::vector<std::uint8_t> big(static_cast<std::size_t>(block) + 4096, 0x5A);
    const int w = 3840, h = 2160; // 12,441,600 bytes
    std::vector<std::uint8_t> y(w * h, 1), c((w / 2) * (h / 2), 2);
    const std::uint8_t* planes[3] = {y.data(), c.data(), c.data()};
    const int linesizes[3] = {w, w / 2, w / 2};

    testing::internal::CaptureStderr();
    EXPECT_FALSE(m.WritePlanes(planes, linesizes, w, h));
    EXPECT_FALSE(m.Write2SharedMem(big.data(), block + 1));
    EXPECT_EQ(m.ReadFromSharedMem(big.data(), block + 1), 0);
    EXPECT_EQ(m.ReadStringFromSharedMem(block + 1), "");
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(allZero(m.SharedData, m.MappedSize())) << "a refused write touched the block";
    EXPECT_EQ(big[0], 0x5A) << "a refused read touched the destination";
    EXPECT_NE(log.find("refused"), std::string::npos) << log;
    EXPECT_EQ(log.find("refused"), log.rfind("refused")) << "logged more than once:\n" << log;

    // The exact block size still fits, and bad plane descriptions are refused.
    EXPECT_TRUE(m.Write2SharedMem(big.data(), block));
    EXPECT_EQ(m.ReadFromSharedMem(big.data(), block), block);
    const int shortLines[3] = {w - 1, w / 2, w / 2};
    testing::internal::CaptureStderr();
    EXPECT_FALSE(m.WritePlanes(planes, shortLines, w, 16));
    testing::internal::GetCapturedStderr();
}

TEST(ChannelsFrame, RecreatedChannelKeepsItsPictureUntilUnlinked)
{
    const std::string name = uniqueName("e");
    Unlinker cleanup{name};
    {
        auto first = TShareFileMap::Create(name, true, 0);
        ASSERT_TRUE(first) << first.error();
        ASSERT_TRUE(first.value()->WriteString2SharedMem("old picture"));
        first.value()->CloseSharedFileMappnig();
        EXPECT_EQ(first.value()->hFileMapping, -1);
        // The view outlives the handle.
        EXPECT_EQ(first.value()->ReadStringFromSharedMem(11), "old picture");
    }
    auto second = TShareFileMap::Create(name, true, 0);
    ASSERT_TRUE(second) << second.error();
    EXPECT_EQ(second.value()->ReadStringFromSharedMem(11), "old picture");
    second.value()->UnlinkSharedFileMapping();
    auto third = TShareFileMap::Create(name, true, 0);
    ASSERT_TRUE(third) << third.error();
    EXPECT_EQ(third.value()->ReadStringFromSharedMem(3), std::string(3, '\0'));
}

TEST(ChannelsFrame, BlockSizeIsOneValuePerProcess)
{
    const std::string a = uniqueName("f1"), b = uniqueName("f2");
    Unlinker ua{a}, ub{b};
    TShareFileMap small, later;
    ASSERT_TRUE(small.CreateSharedFileMapping(false, a, 4096));
    EXPECT_EQ(TShareFileMap::BlockSize(), 4096);
    ASSERT_TRUE(later.CreateSharedFileMapping(false, b, 0));
    EXPECT_EQ(later.MappedSize(), 4096u) << "ASize 0 keeps the size set before";
    // Back to the programs' size for the other tests of this process.
    TShareFileMap reset;
    ASSERT_TRUE(reset.CreateSharedFileMapping(false, a, TShareFileMap::kDefaultBlockSize));
    EXPECT_EQ(TShareFileMap::BlockSize(), TShareFileMap::kDefaultBlockSize);
    // The engine created a 4096-byte block: a Player opening it with the
    // process size of 10,000,000 bytes gets an error, never a short view.
    TShareFileMap player;
    auto opened = player.OpenSharedFileMappnig(false, b, 0);
    EXPECT_FALSE(opened);
    if (!opened) {
        EXPECT_EQ(opened.error().rfind("System Error.  Code: ", 0), 0u) << opened.error();
    }
}
