// Serves a transport-stream file through the output sink and the stream
// server at a given pace, as the encoder would write it: for looking at the
// served stream with real players (ffplay, ffprobe, ffmpeg).
//
// Usage: httpserver_serve_file FILE.ts BITS_PER_SECOND [PORT] [RING_FOLDER]
// Prints the URL, waits 2 seconds for players to connect, sends the file once
// and ends.

#include "httpserver/OutputSink.h"
#include "httpserver/THttpStreamer.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE.ts BITS_PER_SECOND [PORT] [RING_FOLDER]\n", argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    std::ifstream in(argv[1], std::ios::binary);
    const std::string stream((std::istreambuf_iterator<char>(in)), {});
    const double bytesPerSecond = std::stod(argv[2]) / 8;
    const auto port = static_cast<std::uint16_t>(argc > 3 ? std::stoi(argv[3]) : 0);
    auto server = tv::THttpStreamer::create(port, "Tilvaron");
    if (!server) {
        std::fprintf(stderr, "cannot listen: %s\n", server.error().c_str());
        return 1;
    }
    tv::RecordingRingOptions ring = tv::RecordingRing::defaultOptions();
    if (argc > 4)
        ring.folder = argv[4];
    tv::OutputSink sink(server.value().get(), ring);
    std::printf("serving %zu bytes on http://127.0.0.1:%u/\n", stream.size(), server.value()->port());
    std::fflush(stdout);

    std::thread encoder([&] {
        constexpr std::size_t kChunk = 32768;
        std::this_thread::sleep_for(std::chrono::seconds(2));
        sink.encoderOpen();
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t at = 0; at < stream.size(); at += kChunk) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(static_cast<long long>(at / bytesPerSecond * 1e6)));
            sink.encoderWrite(reinterpret_cast<const std::uint8_t*>(stream.data()) + at,
                              static_cast<int>(std::min(kChunk, stream.size() - at)));
        }
        sink.encoderClose();
        QMetaObject::invokeMethod(&app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    const int rc = app.exec();
    encoder.join();
    return rc;
}
