// The output sink and its recording ring: rotation through five files, the
// flush rhythm, and a recording that fails without stopping the stream.

#include "httpserver/OutputSink.h"
#include "httpserver/THttpStreamer.h"
#include "unit/httpserver/FakeClientSocket.h"
#include "support/QtEventPump.h"
#include "support/TempFolder.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using tv::OutputSink;
using tv::RecordingRing;
using tv::RecordingRingOptions;
using tv::THttpStreamer;
using tv::test::TempFolder;

namespace {

// The recording folder of a ring kept in dir.
std::string ringFolder(const TempFolder& dir) { return (dir.path() / "tmp").string() + "/"; }

RecordingRingOptions ringIn(const TempFolder& dir, std::uint64_t limit = 1'000'000'000)
{
    RecordingRingOptions options;
    options.folder = ringFolder(dir);
    options.sizeLimit = limit;
    options.retryPause = std::chrono::milliseconds(0);
    return options;
}

std::vector<std::uint8_t> bytes(std::size_t n, std::uint8_t value = 0x47)
{
    return std::vector<std::uint8_t>(n, value);
}

std::uintmax_t sizeOf(const std::string& file)
{
    std::error_code ec;
    const auto n = fs::file_size(file, ec);
    return ec ? static_cast<std::uintmax_t>(-1) : n;
}

} // namespace

struct RotationCase {
    const char* name;
    std::size_t writes;
    std::vector<std::uintmax_t> sizes; // 0.mpg ... 4.mpg; -1: absent
    int fileIndex;
};

class RingRotation : public ::testing::TestWithParam<RotationCase> {};

// Limit 1000, chunks of 300: a file holds three chunks (900 bytes); the
// fourth would reach the limit and starts the next file.
TEST_P(RingRotation, RotatesThroughFiveFiles)
{
    const RotationCase& c = GetParam();
    TempFolder dir("tv-ring");
    RecordingRing ring(ringIn(dir, 1000));
    ASSERT_TRUE(ring.open());
    const auto chunk = bytes(300);
    for (std::size_t i = 0; i < c.writes; ++i)
        ring.write(chunk.data(), chunk.size());
    EXPECT_EQ(ring.FileIndex(), c.fileIndex);
    EXPECT_EQ(ring.CurrentFile(), ring.fileName(c.fileIndex));
    for (int f = 0; f < RecordingRing::kRingFiles; ++f)
        EXPECT_EQ(sizeOf(ring.fileName(f)), c.sizes[f]) << f << ".mpg";
}

constexpr auto kAbsent = static_cast<std::uintmax_t>(-1);
INSTANTIATE_TEST_SUITE_P(
    Table, RingRotation,
    ::testing::Values(RotationCase{"Empty", 0, {0, kAbsent, kAbsent, kAbsent, kAbsent}, 0},
                      RotationCase{"OneFileFull", 3, {900, kAbsent, kAbsent, kAbsent, kAbsent}, 0},
                      RotationCase{"SecondFile", 4, {900, 300, kAbsent, kAbsent, kAbsent}, 1},
                      RotationCase{"AllFive", 15, {900, 900, 900, 900, 900}, 4},
                      RotationCase{"WrapsToZeroEmptied", 16, {300, 900, 900, 900, 900}, 0},
                      RotationCase{"SecondRound", 20, {900, 600, 900, 900, 900}, 1}),
    [](const auto& info) { return info.param.name; });

TEST(Ring, EachOpenStartsAgainWithAnEmptyZero)
{
    TempFolder dir("tv-ring");
    RecordingRing ring(ringIn(dir, 1000));
    ASSERT_TRUE(ring.open());
    const auto chunk = bytes(300);
    for (int i = 0; i < 5; ++i)
        ring.write(chunk.data(), chunk.size());
    ring.close();
    ring.write(chunk.data(), chunk.size()); // closed: nothing recorded
    EXPECT_EQ(sizeOf(ring.fileName(1)), 600u);

    ASSERT_TRUE(ring.open());
    EXPECT_EQ(ring.FileIndex(), 0);
    EXPECT_EQ(sizeOf(ring.fileName(0)), 0u);
}

TEST(Ring, FlushesEvery26thWrite)
{
    TempFolder dir("tv-ring");
    RecordingRing ring(ringIn(dir));
    ASSERT_TRUE(ring.open());
    const auto chunk = bytes(10);
    std::vector<int> counters;
    for (int i = 1; i <= 52; ++i) {
        ring.write(chunk.data(), chunk.size());
        counters.push_back(ring.FlushCounter());
    }
    EXPECT_EQ(counters[0], 2);
    EXPECT_EQ(counters[24], 50);
    EXPECT_EQ(counters[25], 1); // the 26th write flushed
    EXPECT_EQ(counters[50], 51);
    EXPECT_EQ(counters[51], 1); // and the 52nd
}

TEST(Sink, SeekAndReadBehaveAsAWriteOnlyFile)
{
    TempFolder dir("tv-ring");
    OutputSink sink(nullptr, ringIn(dir));
    ASSERT_TRUE(sink.MAAOpen());
    const auto chunk = bytes(1000);
    EXPECT_EQ(sink.MAAWrite(chunk.data(), 1000), 1000);
    EXPECT_EQ(sink.MAASeek(0, SEEK_CUR), 1000);
    EXPECT_EQ(sink.MAASeek(100, SEEK_SET), 100);
    EXPECT_EQ(sink.MAASeek(0, OutputSink::kSeekSizeQuery), -1);
    std::uint8_t buf[16];
    EXPECT_EQ(sink.MAARead(buf, sizeof buf), -1);
    sink.MAAClose();
    EXPECT_EQ(sizeOf(sink.ring().fileName(0)), 1000u);
}

TEST(Sink, WritesRecordAndFanOutThenCloseRemovesEveryClient)
{
    TempFolder dir("tv-ring");
    THttpStreamer server("Tilvaron");
    auto a = tv::test::connectFake(server);
    auto b = tv::test::connectFake(server);
    OutputSink sink(&server, ringIn(dir));
    ASSERT_TRUE(sink.MAAOpen());
    const auto chunk = bytes(1000);
    EXPECT_EQ(sink.MAAWrite(chunk.data(), 1000), 1000);
    EXPECT_EQ(sizeOf(sink.ring().fileName(0)), 1000u);
    EXPECT_EQ(a->received.size(), std::string(THttpStreamer::kResponseHeader).size() + 940);

    sink.MAAClose();
    EXPECT_EQ(server.clientCount(), 0u);
    EXPECT_TRUE(a->closed);
    EXPECT_TRUE(b->closed);
}

// Files that cannot be written (here: the process's file size limit, as on a
// full disk) lose their bytes; each file's failure is logged once, and
// recording goes on with the next file once writing works again. The clients
// and the encoder notice nothing.
TEST(Sink, AWriteFailureDoesNotStopTheStreamAndRecordingResumes)
{
    TempFolder dir("tv-ring");
    THttpStreamer server("Tilvaron");
    auto client = tv::test::connectFake(server);
    OutputSink sink(&server, ringIn(dir));
    ASSERT_TRUE(sink.MAAOpen());

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    const auto chunk = bytes(1880);
    for (int i = 0; i < 7; ++i) // fails on 0.mpg ... 4.mpg, then on 0.mpg and 1.mpg again
        EXPECT_EQ(sink.MAAWrite(chunk.data(), 1880), 1880);
    EXPECT_FALSE(sink.ring().recording()) << "the failure went unnoticed";
    EXPECT_EQ(sink.ring().failuresLogged(), 5);

    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, oldHandler);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(sink.MAAWrite(chunk.data(), 1880), 1880);

    EXPECT_TRUE(sink.ring().recording());
    EXPECT_EQ(sink.ring().FileIndex(), 2);
    EXPECT_EQ(sizeOf(sink.ring().fileName(2)), 2u * 1880);
    EXPECT_EQ(sink.ring().failuresLogged(), 5);
    EXPECT_EQ(client->received.size(), std::string(THttpStreamer::kResponseHeader).size() + 9u * 1880);
}

TEST(Sink, AFolderThatCannotBeCreatedOrIsRemovedIsMadeAgain)
{
    TempFolder dir("tv-ring");
    // "tmp" is a file: the folder cannot be created.
    std::ofstream(dir.path() / "tmp") << "in the way";
    THttpStreamer server("Tilvaron");
    auto client = tv::test::connectFake(server);
    OutputSink sink(&server, ringIn(dir));
    EXPECT_TRUE(sink.MAAOpen()) << "the stream must open without a recording";
    EXPECT_FALSE(sink.ring().recording());
    const auto chunk = bytes(188);
    EXPECT_EQ(sink.MAAWrite(chunk.data(), 188), 188);

    fs::remove(dir.path() / "tmp");
    EXPECT_EQ(sink.MAAWrite(chunk.data(), 188), 188);
    EXPECT_TRUE(sink.ring().recording());
    EXPECT_EQ(sink.ring().FileIndex(), 0); // 0.mpg was never made: it is tried again
    EXPECT_EQ(sizeOf(sink.ring().fileName(0)), 188u);

    // The folder goes away under a running recording: found at the next
    // flush, and the next file is made in a new folder.
    fs::remove_all(dir.path() / "tmp");
    for (int i = 0; i < 30; ++i)
        sink.MAAWrite(chunk.data(), 188);
    EXPECT_TRUE(sink.ring().recording());
    EXPECT_EQ(sink.ring().FileIndex(), 1);
    EXPECT_GT(sizeOf(sink.ring().fileName(1)), 0u);
    EXPECT_EQ(client->received.size(), std::string(THttpStreamer::kResponseHeader).size() + 32u * 188);
}

// The encoder's thread hands each call to the sink's thread and waits.
TEST(Sink, EncoderCallsRunOnTheSinksThread)
{
    int argc = 1;
    char name[] = "httpserver_sink_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    TempFolder dir("tv-ring");
    THttpStreamer server("Tilvaron");
    auto client = tv::test::connectFake(server);
    OutputSink sink(&server, ringIn(dir));

    std::atomic<bool> done{false};
    std::vector<int> results;
    std::thread encoder([&] {
        results.push_back(sink.encoderOpen() ? 1 : 0);
        const auto chunk = bytes(376);
        for (int i = 0; i < 10; ++i)
            results.push_back(OutputSink::avioWrite(&sink, const_cast<std::uint8_t*>(chunk.data()), 376));
        results.push_back(static_cast<int>(OutputSink::avioSeek(&sink, 0, OutputSink::kSeekSizeQuery)));
        sink.encoderClose();
        done = true;
    });
    tv::test::pumpUntil([&] { return done.load(); });
    encoder.join();

    EXPECT_EQ(results, (std::vector<int>{1, 376, 376, 376, 376, 376, 376, 376, 376, 376, 376, -1}));
    EXPECT_EQ(sizeOf(sink.ring().fileName(0)), 3760u);
    EXPECT_TRUE(client->closed);
    EXPECT_EQ(client->received.size(), std::string(THttpStreamer::kResponseHeader).size() + 3760u);
}

// A main thread that stops the encoder and waits for it must not deadlock on
// a write that waits for the main thread: abort() releases it, and the write
// that was given up never happens.
TEST(Sink, AbortReleasesAnEncoderCallWaitingForABusyMainThread)
{
    int argc = 1;
    char name[] = "httpserver_sink_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    TempFolder dir("tv-ring");
    OutputSink sink(nullptr, ringIn(dir));
    ASSERT_TRUE(sink.MAAOpen());
    const auto chunk = bytes(376);
    std::atomic<int> result{0};
    std::thread encoder([&] { result = sink.encoderWrite(chunk.data(), 376); });
    // The main thread is "busy" (not running its event loop) and aborts.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sink.abort();
    encoder.join();
    EXPECT_EQ(result, -1);
    QCoreApplication::processEvents();
    EXPECT_EQ(sizeOf(sink.ring().fileName(0)), 0u);
    EXPECT_EQ(sink.encoderWrite(chunk.data(), 376), 376) << "on the sink's own thread a call runs directly";

    sink.reset();
    std::atomic<bool> done{false};
    std::thread again([&] {
        result = sink.encoderWrite(chunk.data(), 376);
        done = true;
    });
    tv::test::pumpUntil([&] { return done.load(); });
    again.join();
    EXPECT_EQ(result, 376);
    EXPECT_EQ(sizeOf(sink.ring().fileName(0)), 752u);
}
