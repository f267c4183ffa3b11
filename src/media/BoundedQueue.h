#pragma once
// BoundedQueue<T>: a first-in first-out queue of at most `capacity` items
// shared by one producer thread and one consumer thread. push() waits while
// the queue is full, until it has drained to half (so that a producer that
// runs ahead wakes once per half queue, not once per item); pop() waits while
// it is empty. stop() wakes every waiter and makes both return false from
// then on. Owns the queued items.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

namespace tv::media {

template <typename T>
class BoundedQueue {
public:
    explicit BoundedQueue(std::size_t capacity) : capacity_(capacity ? capacity : 1) {}

    // Waits for room; false once the queue is stopped (the item is dropped).
    bool push(T item)
    {
        std::unique_lock lock(mutex_);
        if (items_.size() >= capacity_)
            notFull_.wait(lock, [&] { return stopped_ || items_.size() <= capacity_ / 2; });
        if (stopped_)
            return false;
        items_.push_back(std::move(item));
        notEmpty_.notify_one();
        return true;
    }

    // Waits for an item; nullopt once the queue is stopped.
    std::optional<T> pop()
    {
        std::unique_lock lock(mutex_);
        notEmpty_.wait(lock, [&] { return stopped_ || !items_.empty(); });
        if (stopped_)
            return std::nullopt;
        T item = std::move(items_.front());
        items_.pop_front();
        if (items_.size() <= capacity_ / 2)
            notFull_.notify_one();
        return item;
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
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable notFull_;
    std::condition_variable notEmpty_;
    std::deque<T> items_;
    bool stopped_ = false;
};

} // namespace tv::media
