#include "channels/TAudioShare.h"
#include "platform/SharedMemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using tv::TAudioShare;
using tv::platform::SharedMemory;

namespace {

constexpr std::uint32_t kSecond = TAudioShare::kBlockSize;

std::string uniqueName(const std::string& tag) { return "AMtv" + std::to_string(getpid()) + tag; }

// The engine's and the Player's ends of one channel, removed afterwards.
struct Channel {
    std::string name;
    std::unique_ptr<TAudioShare> engine;
    std::unique_ptr<TAudioShare> player;

    explicit Channel(const std::string& tag) : name(uniqueName(tag))
    {
        auto e = TAudioShare::Create(name, true, 0);
        EXPECT_TRUE(e) << e.error();
        if (e)
            engine = std::move(e).value();
        auto p = TAudioShare::Create(name, false, 0);
        EXPECT_TRUE(p) << p.error();
        if (p)
            player = std::move(p).value();
    }
    ~Channel()
    {
        if (engine)
            engine->UnlinkSharedFileMapping();
    }
};

// Byte i of a deterministic sound stream.
std::uint8_t streamByte(std::size_t i) { return static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF); }

std::vector<std::uint8_t> streamBytes(std::size_t from, std::size_t count)
{
    std::vector<std::uint8_t> v(count);
    for (std::size_t i = 0; i < count; ++i)
        v[i] = streamByte(from + i);
    return v;
}

std::vector<std::uint8_t> read(TAudioShare& engine, std::uint32_t size)
{
    std::vector<std::uint8_t> v(size, 0xEE);
    EXPECT_EQ(engine.ReadFromSharedMem(v.data(), size), size);
    return v;
}

bool isSilence(const std::vector<std::uint8_t>& v)
{
    return std::all_of(v.begin(), v.end(), [](std::uint8_t b) { return b == 0; });
}

std::size_t objectSize(const std::string& channelName)
{
    int fd = shm_open(SharedMemory::objectName(channelName).c_str(), O_RDONLY, 0);
    if (fd < 0)
        return 0;
    struct stat st {};
    fstat(fd, &st);
    close(fd);
    return static_cast<std::size_t>(st.st_size);
}

} // namespace

TEST(ChannelsAudio, BlocksAreNamedAndSizedAsTheFormatSays)
{
    Channel ch("n");
    ASSERT_TRUE(ch.engine && ch.player);
    EXPECT_EQ(ch.engine->SharedFileName, "Global\\Audio" + ch.name);
    EXPECT_EQ(objectSize("Global\\Audio" + ch.name), 192'000u);
    EXPECT_EQ(objectSize("Global\\Audio" + ch.name + "Update"), 20u);
    EXPECT_EQ(SharedMemory::objectName(ch.engine->SharedFileName), "/tilvaron.global.Audio" + ch.name);
    EXPECT_TRUE(ch.engine->IsReaded());
    EXPECT_EQ(ch.engine->SharedUpdateData[0], 'R');
}

TEST(ChannelsAudio, UnwrittenChannelYieldsSilenceForever)
{
    Channel ch("s");
    ASSERT_TRUE(ch.engine);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(isSilence(read(*ch.engine, kSecond))) << "read " << i;
    EXPECT_TRUE(ch.engine->IsReaded());
}

// Feeding the writer in chunks: when each publication happens, what it
// carries, and what stays behind for the next second.
TEST(ChannelsAudio, ChunkedWritesPublishEveryFullSecond)
{
    struct Case { std::uint32_t chunk; int firstPublishingChunk; std::size_t remainder; };
    const Case cases[] = {
        {4096, 47, 512},        // 47 x 4,096 = 192,512
        {192'000, 1, 0},        // exactly one second, nothing left
        {64'000, 3, 0},
        {1000, 192, 0},
        {100'000, 2, 8'000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("chunk " + std::to_string(c.chunk));
        Channel ch("c" + std::to_string(c.chunk));
        ASSERT_TRUE(ch.engine && ch.player);
        // The engine starts with one second of silence in hand.
        EXPECT_TRUE(isSilence(read(*ch.engine, kSecond)));
        std::size_t fed = 0;
        for (int n = 1; n <= c.firstPublishingChunk; ++n) {
            auto chunk = streamBytes(fed, c.chunk);
            fed += c.chunk;
            bool updated = true;
            const std::int32_t r = ch.player->Write2SharedMem2(chunk.data(), static_cast<std::int32_t>(c.chunk), updated);
            if (n < c.firstPublishingChunk) {
                ASSERT_FALSE(updated) << "published early, at chunk " << n;
                ASSERT_EQ(r, static_cast<std::int32_t>(c.chunk));
                ASSERT_TRUE(ch.engine->IsReaded());
            } else {
                EXPECT_TRUE(updated);
                EXPECT_EQ(r, 192'000);
            }
        }
        EXPECT_EQ(fed - kSecond, c.remainder);
        EXPECT_FALSE(ch.engine->IsReaded());
        EXPECT_EQ(ch.engine->SharedUpdateData[0], 'W');
        EXPECT_EQ(read(*ch.engine, kSecond), streamBytes(0, kSecond));
        EXPECT_TRUE(ch.engine->IsReaded());
        // The remainder opens the next second.
        bool updated = false;
        auto rest = streamBytes(fed, kSecond - c.remainder);
        ch.player->Write2SharedMem2(rest.data(), static_cast<std::int32_t>(rest.size()), updated);
        EXPECT_TRUE(updated);
        EXPECT_EQ(read(*ch.engine, kSecond), streamBytes(kSecond, kSecond));
        EXPECT_TRUE(isSilence(read(*ch.engine, kSecond))) << "nothing new: silence";
    }
}

TEST(ChannelsAudio, ReaderGetsOnlyTheLatestOfTwoPublications)
{
    Channel ch("t");
    ASSERT_TRUE(ch.engine && ch.player);
    EXPECT_TRUE(isSilence(read(*ch.engine, kSecond))); // the second in hand
    auto two = streamBytes(0, 2 * kSecond);
    bool updated = false;
    ch.player->Write2SharedMem2(two.data(), static_cast<std::int32_t>(kSecond), updated);
    ch.player->Write2SharedMem2(two.data() + kSecond, static_cast<std::int32_t>(kSecond), updated);
    EXPECT_EQ(read(*ch.engine, kSecond), streamBytes(kSecond, kSecond));
    EXPECT_TRUE(isSilence(read(*ch.engine, kSecond)));
}

TEST(ChannelsAudio, ChunkOfSeveralSecondsKeepsOnlyTheLatestAndBoundsTheBuffer)
{
    Channel ch("l");
    ASSERT_TRUE(ch.engine && ch.player);
    EXPECT_TRUE(isSilence(read(*ch.engine, kSecond))); // the second in hand
    auto lots = streamBytes(0, 2 * kSecond + 1000);
    bool updated = false;
    EXPECT_EQ(ch.player->Write2SharedMem2(lots.data(), static_cast<std::int32_t>(lots.size()), updated), 192'000);
    EXPECT_TRUE(updated);
    EXPECT_EQ(read(*ch.engine, kSecond), streamBytes(kSecond, kSecond));
    // 1,000 bytes stay; 191,000 more complete the next second.
    auto more = streamBytes(lots.size(), kSecond - 1000);
    ch.player->Write2SharedMem2(more.data(), static_cast<std::int32_t>(more.size()), updated);
    EXPECT_TRUE(updated);
    EXPECT_EQ(read(*ch.engine, kSecond), streamBytes(2 * kSecond, kSecond));
}

TEST(ChannelsAudio, SmallReadsUseTheLocalSecondWithoutLookingAtTheFlag)
{
    Channel ch("r");
    ASSERT_TRUE(ch.engine && ch.player);
    EXPECT_TRUE(isSilence(read(*ch.engine, 100'000))); // from the second of silence in hand
    auto second = streamBytes(0, kSecond);
    bool updated = false;
    ch.player->Write2SharedMem2(second.data(), static_cast<std::int32_t>(kSecond), updated);
    ASSERT_TRUE(updated);
    EXPECT_TRUE(isSilence(read(*ch.engine, 50'000)));
    EXPECT_FALSE(ch.engine->IsReaded()) << "a read that fits the local buffer never takes the second";
    // 42,000 bytes of silence are left; the rest comes from the published second.
    auto mixed = read(*ch.engine, kSecond);
    EXPECT_TRUE(isSilence({mixed.begin(), mixed.begin() + 42'000}));
    EXPECT_EQ(std::vector<std::uint8_t>(mixed.begin() + 42'000, mixed.end()), streamBytes(0, kSecond - 42'000));
    EXPECT_TRUE(ch.engine->IsReaded());
    // Its last 42,000 bytes come with the next read.
    auto tail = read(*ch.engine, 42'000);
    EXPECT_EQ(tail, streamBytes(kSecond - 42'000, 42'000));
}

TEST(ChannelsAudio, ReadsLargerThanOneSecondAreRefused)
{
    Channel ch("x");
    ASSERT_TRUE(ch.engine);
    std::vector<std::uint8_t> big(kSecond + 1, 0xEE);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ch.engine->ReadFromSharedMem(big.data(), kSecond + 1), 0u);
    EXPECT_EQ(ch.engine->ReadFromSharedMem(big.data(), kSecond + 1), 0u);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(std::all_of(big.begin(), big.end(), [](std::uint8_t b) { return b == 0xEE; }));
    EXPECT_NE(log.find("refused"), std::string::npos);
    EXPECT_EQ(log.find("refused"), log.rfind("refused")) << "logged once";
    EXPECT_EQ(ch.engine->ReadFromSharedMem(big.data(), kSecond), kSecond) << "exactly one second is fine";
}

TEST(ChannelsAudio, MissingOrClosedChannelReadsAndWritesNothing)
{
    auto missing = TAudioShare::Create(uniqueName("m"), false, 0);
    ASSERT_TRUE(missing) << missing.error();
    EXPECT_EQ(missing.value()->SharedData, nullptr);
    std::vector<std::uint8_t> chunk(4096, 1);
    bool updated = true;
    EXPECT_EQ(missing.value()->Write2SharedMem2(chunk.data(), 4096, updated), 0);
    EXPECT_TRUE(updated) << "left as it was";
    EXPECT_EQ(objectSize("Global\\Audio" + uniqueName("m")), 0u) << "opening created nothing";

    Channel ch("z");
    ASSERT_TRUE(ch.engine && ch.player);
    ch.engine->CloseSharedFileMappnig();
    EXPECT_EQ(ch.engine->ReadFromSharedMem(chunk.data(), 4096), 0u);
    std::vector<std::uint8_t> fixed(kSecond);
    EXPECT_EQ(ch.player->ReadFromSharedMemFixed(fixed.data()), 192'000);
}
