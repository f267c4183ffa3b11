#pragma once
// BoundedQueue<T>: a first-in first-out queue of at most `capacity` items
// between one producer thread and one consumer thread (a reader and a
// decoder, an input and the encoder). Owns the queued items.
//
// push() waits while the queue is full; pop() waits while it is empty, for
// good or for a bounded time. finish() is the producer's end of stream: once
// the queue has drained, pop() reports the end. stop() wakes every waiter,
// drops what is queued and makes both sides give up from then on.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

namespace tv::media {

template <typename T>
class BoundedQueue {
public:
    // When a producer that found the queue full goes on.
    enum class Refill {
        HalfDrained, // once it holds half the capacity or less: a producer that
                     // runs ahead wakes once per half queue, not once per item
        AnyRoom,     // as soon as one item has left
    };

    enum class Pop { Item, Timeout, End, Stopped };

    explicit BoundedQueue(std::size_t capacity, Refill refill = Refill::HalfDrained)
        : capacity_(capacity ? capacity : 1),
          resumeAt_(refill == Refill::HalfDrained ? capacity_ / 2 : capacity_ - 1)
    {
    }

    // Waits for room; false once the queue is stopped (the item is dropped).
    bool push(T item)
    {
        std::unique_lock lock(mutex_);
        if (items_.size() >= capacity_)
            notFull_.wait(lock, [&] { return stopped_ || items_.size() <= resumeAt_; });
        if (stopped_)
            return false;
        items_.push_back(std::move(item));
        notEmpty_.notify_one();
        return true;
    }

    // The producer's end of stream.
    void finish()
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
        notEmpty_.notify_all();
    }

    // Waits for an item; nullopt once the queue is stopped, or finished and
    // drained.
    std::optional<T> pop()
    {
        std::unique_lock lock(mutex_);
        notEmpty_.wait(lock, [&] { return stopped_ || finished_ || !items_.empty(); });
        if (stopped_ || items_.empty())
            return std::nullopt;
        return take();
    }

    // Waits at most `wait` for an item (none: just looks); Item puts it in out.
    Pop pop(T& out, std::chrono::milliseconds wait)
    {
        std::unique_lock lock(mutex_);
        notEmpty_.wait_for(lock, wait, [&] { return stopped_ || finished_ || !items_.empty(); });
        if (stopped_)
            return Pop::Stopped;
        if (items_.empty())
            return finished_ ? Pop::End : Pop::Timeout;
        out = take();
        return Pop::Item;
    }

    void stop()
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        items_.clear();
        notFull_.notify_all();
        notEmpty_.notify_all();
    }

    std::size_t size() const
    {
        std::lock_guard lock(mutex_);
        return items_.size();
    }

private:
    // Under mutex_, with an item queued.
    T take()
    {
        T item = std::move(items_.front());
        items_.pop_front();
        if (items_.size() <= resumeAt_)
            notFull_.notify_one();
        return item;
    }

    const std::size_t capacity_;
    const std::size_t resumeAt_;
    mutable std::mutex mutex_;
    std::condition_variable notFull_;
    std::condition_variable notEmpty_;
    std::deque<T> items_;
    bool finished_ = false;
    bool stopped_ = false;
};

} // namespace tv::media
