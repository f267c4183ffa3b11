// Real players against the stream server: a real MPEG transport stream goes
// through the output sink at its own pace, as the encoder would write it, while
// ffmpeg and ffprobe read http://127.0.0.1:<port>/.

#include "httpserver/OutputSink.h"
#include "httpserver/THttpStreamer.h"
#include "integration/httpserver/LoopbackClient.h"
#include "support/MediaProbe.h"
#include "support/QtEventPump.h"
#include "support/TempFolder.h"
#include "support/WholeFile.h"

#include <QCoreApplication>
#include <QProcess>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using tv::OutputSink;
using tv::THttpStreamer;
using tv::test::LoopbackClient;
using tv::test::app;
using tv::test::pumpUntil;

namespace {

constexpr std::size_t kPacket = THttpStreamer::kTsPacketSize;
constexpr std::uint8_t kSyncByte = 0x47;
constexpr unsigned kNullPid = 0x1FFF;
// Size of the muxer's output buffer, as the encoder hands it over.
constexpr std::size_t kMuxerChunk = 32768;
constexpr int kSeconds = 4;

// Continuity-counter gaps over whole packets; -1 when a packet is cut or
// out of sync.
int continuityGaps(const std::string& ts)
{
    if (ts.size() % kPacket != 0)
        return -1;
    std::map<unsigned, unsigned> last;
    int gaps = 0;
    for (std::size_t at = 0; at < ts.size(); at += kPacket) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(ts.data() + at);
        if (p[0] != kSyncByte)
            return -1;
        const unsigned pid = ((p[1] & 0x1F) << 8) | p[2];
        const bool payload = (p[3] & 0x10) != 0;
        const unsigned cc = p[3] & 0x0F;
        if (pid == kNullPid || !payload)
            continue;
        const auto it = last.find(pid);
        if (it != last.end() && cc != ((it->second + 1) & 0x0F))
            ++gaps;
        last[pid] = cc;
    }
    return gaps;
}

// The decoder's error lines, less those about the end of the stream: the
// response promises a kept-alive connection of unknown length, so a reader
// reports the server's close at the end as a premature end.
std::string decodeErrors(const QByteArray& log)
{
    std::string out;
    for (const QByteArray& line : log.split('\n')) {
        if (line.isEmpty() || line.contains("Stream ends prematurely") || line.contains("Input/output error") ||
            line.contains("Last message repeated"))
            continue;
        out += line.toStdString() + "\n";
    }
    return out;
}

} // namespace

TEST(RealPlayers, DecodeTheServedStreamWhileAStalledClientIsDropped)
{
    app();
    if (!tv::test::haveTool("ffmpeg") || !tv::test::haveTool("ffprobe"))
        GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    tv::test::TempFolder dir("tv-http-ffmpeg");
    const fs::path source = dir.path() / "source.ts";
    QProcess make;
    make.start("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-f", "lavfi", "-i",
                          "sine=frequency=440:sample_rate=48000", "-t", QString::number(kSeconds), "-c:v",
                          "mpeg2video", "-b:v", "3M", "-c:a", "mp2", "-muxrate", "8000000", "-f", "mpegts",
                          QString::fromStdString(source.string())});
    ASSERT_TRUE(make.waitForFinished(120000));
    ASSERT_EQ(make.exitCode(), 0) << make.readAllStandardError().toStdString();
    const std::string stream = tv::test::readBytes(source);
    ASSERT_GT(stream.size(), 100000u);

    tv::HttpStreamerOptions options;
    options.maxBacklogBytes = 128 * 1024;
    auto created = THttpStreamer::create(0, "Tilvaron", options);
    ASSERT_TRUE(created.ok()) << created.error();
    auto server = std::move(created).value();
    tv::RecordingRingOptions ring;
    ring.folder = (dir.path() / "tmp").string() + "/";
    OutputSink sink(server.get(), ring);

    const QString url = QString("http://127.0.0.1:%1/").arg(server->port());
    QProcess decoder;
    decoder.start("ffmpeg", {"-v", "error", "-i", url, "-map", "0", "-f", "null", "-"});
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0", url});
    LoopbackClient::Options stalledOptions;
    stalledOptions.read = false;
    stalledOptions.receiveBuffer = 4096;
    LoopbackClient stalled(server->port(), stalledOptions);
    LoopbackClient counter(server->port(), {});
    ASSERT_TRUE(pumpUntil([&] { return server->clientCount() == 4; })) << server->clientCount() << " clients";

    // The encoder's side: chunks at the stream's own pace, each handed to the
    // main thread and waited for.
    std::atomic<bool> fed{false};
    std::thread encoder([&] {
        sink.encoderOpen();
        const auto start = std::chrono::steady_clock::now();
        const double bytesPerSecond = static_cast<double>(stream.size()) / kSeconds;
        for (std::size_t at = 0; at < stream.size(); at += kMuxerChunk) {
            const std::size_t n = std::min(kMuxerChunk, stream.size() - at);
            std::this_thread::sleep_until(start + std::chrono::microseconds(static_cast<long long>(at / bytesPerSecond * 1e6)));
            sink.encoderWrite(reinterpret_cast<const std::uint8_t*>(stream.data()) + at, static_cast<int>(n));
        }
        sink.encoderClose();
        fed = true;
    });
    const bool finished = pumpUntil([&] { return fed.load(); });
    encoder.join();
    ASSERT_TRUE(finished);

    ASSERT_TRUE(pumpUntil([&] { return decoder.state() == QProcess::NotRunning && probe.state() == QProcess::NotRunning; }));
    EXPECT_EQ(decoder.exitCode(), 0);
    EXPECT_EQ(decodeErrors(decoder.readAllStandardError()), "") << "the decoder met errors";
    const std::string codecs = probe.readAllStandardOutput().toStdString();
    EXPECT_NE(codecs.find("mpeg2video"), std::string::npos) << codecs;
    EXPECT_NE(codecs.find("mp2"), std::string::npos) << codecs;

    EXPECT_GE(server->droppedClients(), 1u) << "the stalled client was kept";
    ASSERT_TRUE(pumpUntil([&] { return counter.ended(); }));
    counter.stop();
    const std::string body = counter.data().substr(std::string(THttpStreamer::kResponseHeader).size());
    EXPECT_EQ(body.size(), stream.size() / kPacket * kPacket);
    EXPECT_EQ(continuityGaps(body), 0);
    EXPECT_TRUE(tv::test::readBytes(ring.folder + "0.mpg") == stream) << "the recording differs from the stream";
}
