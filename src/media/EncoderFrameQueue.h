#pragma once
// EncoderFrameQueue: the frames of one input stream on their way from the
// input's reading thread to the encoder's thread. Bounded, so a reader that
// runs ahead waits; ends with finish() after the last frame; stop() wakes
// every waiter and drops what is queued. Owns the queued frames.

#include "media/LibAV.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

namespace tv::media {

class EncoderFrameQueue {
public:
    enum class Pop { Frame, Timeout, End, Stopped };

    explicit EncoderFrameQueue(std::size_t capacity) : capacity_(capacity ? capacity : 1) {}

    // Waits for room; false once stopped (the frame is dropped).
    bool push(av::FramePtr frame)
    {
        std::unique_lock lock(mutex_);
        notFull_.wait(lock, [&] { return stopped_ || items_.size() < capacity_; });
        if (stopped_)
            return false;
        items_.push_back(std::move(frame));
        notEmpty_.notify_one();
        return true;
    }

    // The producer's end of stream: pop() reports End once the queue is empty.
    void finish()
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
        notEmpty_.notify_all();
    }

    void stop()
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        items_.clear();
        notFull_.notify_all();
        notEmpty_.notify_all();
    }

    // Waits at most `wait` for a frame.
    Pop pop(av::FramePtr& out, std::chrono::milliseconds wait)
    {
        std::unique_lock lock(mutex_);
        notEmpty_.wait_for(lock, wait, [&] { return stopped_ || finished_ || !items_.empty(); });
        if (stopped_)
            return Pop::Stopped;
        if (!items_.empty()) {
            out = std::move(items_.front());
            items_.pop_front();
            notFull_.notify_one();
            return Pop::Frame;
        }
        return finished_ ? Pop::End : Pop::Timeout;
    }

    bool hasFrames() const
    {
        std::lock_guard lock(mutex_);
        return !items_.empty();
    }

private:
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable notFull_;
    std::condition_variable notEmpty_;
    std::deque<av::FramePtr> items_;
    bool finished_ = false;
    bool stopped_ = false;
};

} // namespace tv::media
