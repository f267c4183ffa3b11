#pragma once
// TMemoryAccessAdapter: an output of the encoder that is not a URL. The
// encoder's output thread opens, writes, seeks and closes through the
// handlers below. With TriggerEventInMainThread (the default) every handler
// runs on the thread of the QCoreApplication and the output thread waits for
// its result; without an application object, or when called on that thread,
// the handler runs directly. abort() releases a waiting output thread with an
// error so that a main thread that stops the encoder never deadlocks on it.
//
// Handler results: OnOpen false = the output cannot be opened; OnWrite the
// bytes written or negative on failure; OnSeek the new position or negative;
// OnRead the bytes read or negative (-1: not readable).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tv {

class TMemoryAccessAdapter {
public:
    using OpenHandler = std::function<bool(TMemoryAccessAdapter* sender, const std::string& url,
                                           void* privateData, int flags)>;
    using WriteHandler = std::function<int(TMemoryAccessAdapter* sender, const uint8_t* buffer, int count)>;
    using ReadHandler = std::function<int(TMemoryAccessAdapter* sender, uint8_t* buffer, int count)>;
    using SeekHandler = std::function<int64_t(TMemoryAccessAdapter* sender, int64_t offset, int origin)>;
    using CloseHandler = std::function<void(TMemoryAccessAdapter* sender)>;

    TMemoryAccessAdapter();
    ~TMemoryAccessAdapter();
    TMemoryAccessAdapter(const TMemoryAccessAdapter&) = delete;
    TMemoryAccessAdapter& operator=(const TMemoryAccessAdapter&) = delete;

    bool TriggerEventInMainThread = true;
    OpenHandler OnOpen;
    WriteHandler OnWrite;
    ReadHandler OnRead;
    SeekHandler OnSeek;
    CloseHandler OnClose;

    // Called by the encoder's output thread.
    bool open(const std::string& url, void* privateData, int flags);
    int write(const uint8_t* buffer, int count);
    int read(uint8_t* buffer, int count);
    int64_t seek(int64_t offset, int origin);
    void close();
    bool canSeek() const { return static_cast<bool>(OnSeek); }

    // Any thread: every waiting and later call fails at once until reset().
    void abort();
    void reset();

private:
    template <typename R>
    R dispatch(std::function<R()> call, R failed);

    std::atomic<bool> aborted_{false};
};

} // namespace tv
