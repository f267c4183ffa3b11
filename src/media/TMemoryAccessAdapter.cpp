#include "media/TMemoryAccessAdapter.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <mutex>

namespace tv {

namespace {

// One hand-over to the application thread. The caller waits until the call
// has run, or until it is aborted while the call has not started yet.
template <typename R>
struct HandOver {
    std::mutex m;
    std::condition_variable cv;
    bool started = false;
    bool done = false;
    bool cancelled = false;
    R result{};
};

} // namespace

TMemoryAccessAdapter::TMemoryAccessAdapter() = default;
TMemoryAccessAdapter::~TMemoryAccessAdapter() = default;

template <typename R>
R TMemoryAccessAdapter::dispatch(std::function<R()> call, R failed)
{
    if (aborted_)
        return failed;
    QCoreApplication* app = QCoreApplication::instance();
    if (!TriggerEventInMainThread || !app || QThread::currentThread() == app->thread())
        return call();

    auto h = std::make_shared<HandOver<R>>();
    QMetaObject::invokeMethod(
        app,
        [h, call] {
            {
                std::lock_guard lock(h->m);
                if (h->cancelled)
                    return;
                h->started = true;
            }
            R r = call();
            std::lock_guard lock(h->m);
            h->result = r;
            h->done = true;
            h->cv.notify_all();
        },
        Qt::QueuedConnection);

    // abort() does not signal; the wait re-checks it every few milliseconds.
    std::unique_lock lock(h->m);
    while (!h->done) {
        if (aborted_ && !h->started) {
            h->cancelled = true;
            return failed;
        }
        h->cv.wait_for(lock, std::chrono::milliseconds(50));
    }
    return h->result;
}

bool TMemoryAccessAdapter::open(const std::string& url, void* privateData, int flags)
{
    if (!OnOpen)
        return true;
    return dispatch<bool>([=, this] { return OnOpen(this, url, privateData, flags); }, false);
}

int TMemoryAccessAdapter::write(const uint8_t* buffer, int count)
{
    if (!OnWrite)
        return count;
    return dispatch<int>([=, this] { return OnWrite(this, buffer, count); }, -1);
}

int TMemoryAccessAdapter::read(uint8_t* buffer, int count)
{
    if (!OnRead)
        return -1;
    return dispatch<int>([=, this] { return OnRead(this, buffer, count); }, -1);
}

int64_t TMemoryAccessAdapter::seek(int64_t offset, int origin)
{
    if (!OnSeek)
        return -1;
    return dispatch<int64_t>([=, this] { return OnSeek(this, offset, origin); }, -1);
}

void TMemoryAccessAdapter::close()
{
    if (!OnClose)
        return;
    dispatch<int>([this] { OnClose(this); return 0; }, 0);
}

void TMemoryAccessAdapter::abort() { aborted_ = true; }
void TMemoryAccessAdapter::reset() { aborted_ = false; }

} // namespace tv
