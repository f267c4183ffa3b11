#include "httpserver/OutputSink.h"

#include "httpserver/THttpStreamer.h"

#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <mutex>

namespace tv {

OutputSink::OutputSink(THttpStreamer* streamer, RecordingRingOptions ring, QObject* parent)
    : QObject(parent), streamer_(streamer), ring_(std::move(ring)), gate_(std::make_shared<Gate>())
{
}

OutputSink::~OutputSink()
{
    abort();
}

bool OutputSink::MAAOpen()
{
    // A recording file that cannot be created does not stop the stream: the
    // ring logs it and tries again later.
    ring_.open();
    return true;
}

int OutputSink::MAAWrite(const std::uint8_t* Buffer, int Count)
{
    if (Count <= 0)
        return 0;
    ring_.write(Buffer, static_cast<std::size_t>(Count));
    if (streamer_)
        streamer_->SendStream2HttpClients(Buffer, static_cast<std::size_t>(Count));
    return Count;
}

std::int64_t OutputSink::MAASeek(std::int64_t Offset, int Origin)
{
    if (Origin & kSeekSizeQuery)
        return -1;
    return ring_.seek(Offset, Origin);
}

int OutputSink::MAARead(std::uint8_t*, int)
{
    return -1; // the sink cannot be read
}

void OutputSink::MAAClose()
{
    ring_.close();
    if (streamer_)
        streamer_->RemoveAllClients();
}

// Shared by the sink and the encoder calls waiting on it, so that a waiting
// call outlives neither.
struct OutputSink::Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool aborted = false;
};

template <typename R, typename Fn>
R OutputSink::onOwnThread(Fn fn, R failed)
{
    if (QThread::currentThread() == thread())
        return fn();

    struct Call {
        bool started = false;
        bool done = false;
        bool cancelled = false;
        R result{};
    };
    const std::shared_ptr<Gate> gate = gate_;
    const auto call = std::make_shared<Call>();
    {
        std::lock_guard guard(gate->lock);
        if (gate->aborted)
            return failed;
    }
    // Runs only while the sink exists (it is the call's context object).
    QMetaObject::invokeMethod(
        this,
        [gate, call, fn]() mutable {
            {
                std::lock_guard guard(gate->lock);
                if (call->cancelled)
                    return; // the caller gave up; its buffer may be gone
                call->started = true;
            }
            R result = fn();
            {
                std::lock_guard guard(gate->lock);
                call->result = result;
                call->done = true;
            }
            gate->changed.notify_all();
        },
        Qt::QueuedConnection);

    std::unique_lock guard(gate->lock);
    gate->changed.wait(guard, [&] { return call->done || (gate->aborted && !call->started); });
    if (call->done)
        return call->result;
    call->cancelled = true;
    return failed;
}

void OutputSink::abort()
{
    {
        std::lock_guard guard(gate_->lock);
        gate_->aborted = true;
    }
    gate_->changed.notify_all();
}

void OutputSink::reset()
{
    std::lock_guard guard(gate_->lock);
    gate_->aborted = false;
}

bool OutputSink::encoderOpen()
{
    return onOwnThread([this] { return MAAOpen(); }, false);
}

int OutputSink::encoderWrite(const std::uint8_t* buffer, int count)
{
    return onOwnThread([this, buffer, count] { return MAAWrite(buffer, count); }, -1);
}

std::int64_t OutputSink::encoderSeek(std::int64_t offset, int origin)
{
    return onOwnThread([this, offset, origin] { return MAASeek(offset, origin); }, std::int64_t{-1});
}

int OutputSink::encoderRead(std::uint8_t* buffer, int count)
{
    return onOwnThread([this, buffer, count] { return MAARead(buffer, count); }, -1);
}

void OutputSink::encoderClose()
{
    onOwnThread(
        [this] {
            MAAClose();
            return true;
        },
        false);
}

int OutputSink::avioWrite(void* opaque, std::uint8_t* buffer, int count)
{
    return static_cast<OutputSink*>(opaque)->encoderWrite(buffer, count);
}

int OutputSink::avioRead(void* opaque, std::uint8_t* buffer, int count)
{
    return static_cast<OutputSink*>(opaque)->encoderRead(buffer, count);
}

std::int64_t OutputSink::avioSeek(void* opaque, std::int64_t offset, int whence)
{
    return static_cast<OutputSink*>(opaque)->encoderSeek(offset, whence);
}

} // namespace tv
