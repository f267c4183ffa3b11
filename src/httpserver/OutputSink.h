#pragma once
// OutputSink: where the encoder's muxed stream goes when the output is the
// built-in HTTP server. Every chunk is recorded in the RecordingRing and handed
// to the server's fan-out.
//
// The MAA* handlers run on the thread the sink lives on (the main thread).
// The encoder's output thread calls the encoder* entry points (or the avio*
// callbacks, whose opaque pointer is the sink): each hands its call to the
// sink's thread and waits until it has run there, then returns its result.
// Called on the sink's own thread they run at once. abort() (any thread), and
// the sink's destruction, release a waiting output thread with a failure, so
// a main thread that stops the encoder and waits for it never deadlocks.
//
// Owns the ring; does not own the server (which may be absent: recording
// only). A recording failure never reaches the encoder: MAAWrite always
// reports the bytes it was given, so the stream goes on.

#include "httpserver/RecordingRing.h"

#include <QObject>

#include <cstdint>
#include <memory>

namespace tv {

class THttpStreamer;

class OutputSink : public QObject {
public:
    // The output callback's query for the stream's total size (libavformat's
    // AVSEEK_SIZE), answered with -1: the stream has no size.
    static constexpr int kSeekSizeQuery = 0x10000;

    explicit OutputSink(THttpStreamer* streamer, RecordingRingOptions ring = RecordingRing::defaultOptions(),
                        QObject* parent = nullptr);
    ~OutputSink() override;

    // Handlers, on the sink's thread.
    bool MAAOpen();
    int MAAWrite(const std::uint8_t* Buffer, int Count);
    std::int64_t MAASeek(std::int64_t Offset, int Origin);
    int MAARead(std::uint8_t* Buffer, int Count);
    void MAAClose();

    // Entry points for the encoder's thread: run the handler on the sink's
    // thread and wait for it.
    bool encoderOpen();
    int encoderWrite(const std::uint8_t* buffer, int count);
    std::int64_t encoderSeek(std::int64_t offset, int origin);
    int encoderRead(std::uint8_t* buffer, int count);
    void encoderClose();

    // Any thread: encoder calls waiting for the sink's thread, and every later
    // one, fail at once (false / -1) until reset(). A call already running on
    // the sink's thread is finished first.
    void abort();
    void reset();

    // Callbacks in the shape avio_alloc_context takes; opaque is the sink.
    static int avioWrite(void* opaque, std::uint8_t* buffer, int count);
    static int avioRead(void* opaque, std::uint8_t* buffer, int count);
    static std::int64_t avioSeek(void* opaque, std::int64_t offset, int whence);

    RecordingRing& ring() { return ring_; }

private:
    struct Gate;
    template <typename R, typename Fn>
    R onOwnThread(Fn fn, R failed);

    THttpStreamer* streamer_;
    RecordingRing ring_;
    std::shared_ptr<Gate> gate_;
};

} // namespace tv
