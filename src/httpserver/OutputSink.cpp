#include "httpserver/OutputSink.h"

#include "httpserver/THttpStreamer.h"

#include <QMetaObject>
#include <QThread>

#include <type_traits>

namespace tv {

OutputSink::OutputSink(THttpStreamer* streamer, RecordingRingOptions ring, QObject* parent)
    : QObject(parent), streamer_(streamer), ring_(std::move(ring))
{
}

OutputSink::~OutputSink() = default;

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

template <typename Fn>
auto OutputSink::onOwnThread(Fn&& fn)
{
    using R = std::invoke_result_t<Fn>;
    if (QThread::currentThread() == thread())
        return fn();
    if constexpr (std::is_void_v<R>) {
        QMetaObject::invokeMethod(this, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
    } else {
        // Stays a failure when the call cannot be delivered (the sink's
        // thread has ended).
        R result{};
        if constexpr (std::is_same_v<R, bool>)
            result = false;
        else
            result = -1;
        QMetaObject::invokeMethod(this, std::forward<Fn>(fn), Qt::BlockingQueuedConnection, &result);
        return result;
    }
}

bool OutputSink::encoderOpen()
{
    return onOwnThread([this] { return MAAOpen(); });
}

int OutputSink::encoderWrite(const std::uint8_t* buffer, int count)
{
    return onOwnThread([this, buffer, count] { return MAAWrite(buffer, count); });
}

std::int64_t OutputSink::encoderSeek(std::int64_t offset, int origin)
{
    return onOwnThread([this, offset, origin] { return MAASeek(offset, origin); });
}

int OutputSink::encoderRead(std::uint8_t* buffer, int count)
{
    return onOwnThread([this, buffer, count] { return MAARead(buffer, count); });
}

void OutputSink::encoderClose()
{
    onOwnThread([this] { MAAClose(); });
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
