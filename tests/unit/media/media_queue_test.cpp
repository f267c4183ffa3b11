#include "media/BoundedQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

using tv::media::BoundedQueue;
using namespace std::chrono_literals;

namespace {

using Queue = BoundedQueue<int>;

// Bounded only to stay alive.
template <typename Pred>
bool eventually(Pred pred)
{
    for (int i = 0; i < 1000; ++i) {
        if (pred())
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return pred();
}

// The scheduler's state letter of one of our threads ('S': waiting).
char threadState(pid_t tid)
{
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string s;
    std::getline(in, s);
    const auto close = s.rfind(')');
    return close == std::string::npos || close + 2 >= s.size() ? 0 : s[close + 2];
}

} // namespace

TEST(MediaQueue, ItemsLeaveInOrderThenTheEndOnceFinishedAndDrained)
{
    Queue q(4);
    ASSERT_TRUE(q.push(1));
    ASSERT_TRUE(q.push(2));
    int out = 0;
    EXPECT_EQ(q.pop(out, 0ms), Queue::Pop::Item);
    EXPECT_EQ(out, 1);
    q.finish();
    EXPECT_EQ(q.pop(), std::optional<int>(2)) << "what was queued before the end still arrives";
    EXPECT_EQ(q.pop(out, 0ms), Queue::Pop::End);
    EXPECT_EQ(q.pop(), std::nullopt);
}

TEST(MediaQueue, EmptyQueueTimesOutUntilStopped)
{
    Queue q(2);
    int out = 0;
    EXPECT_EQ(q.pop(out, 0ms), Queue::Pop::Timeout);
    EXPECT_EQ(q.pop(out, 5ms), Queue::Pop::Timeout);
    ASSERT_TRUE(q.push(7));
    q.stop();
    EXPECT_EQ(q.size(), 0u) << "stop drops what is queued";
    EXPECT_EQ(q.pop(out, 0ms), Queue::Pop::Stopped);
    EXPECT_EQ(q.pop(), std::nullopt);
    EXPECT_FALSE(q.push(8));
}

TEST(MediaQueue, StopReleasesWaitingProducerAndConsumer)
{
    Queue full(1);
    ASSERT_TRUE(full.push(1));
    Queue empty(1);
    std::atomic<int> released{0};
    std::thread producer([&] {
        EXPECT_FALSE(full.push(2));
        ++released;
    });
    std::thread consumer([&] {
        EXPECT_EQ(empty.pop(), std::nullopt);
        ++released;
    });
    std::this_thread::sleep_for(20ms);
    full.stop();
    empty.stop();
    producer.join();
    consumer.join();
    EXPECT_EQ(released, 2);
}

TEST(MediaQueue, FullQueueTakesTheNextItemAsItsRefillSays)
{
    constexpr int kCapacity = 8;
    struct Case {
        Queue::Refill refill;
        std::size_t popsBeforeRoom; // items the consumer takes before the producer goes on
    };
    for (const Case& c : {Case{Queue::Refill::AnyRoom, 1}, Case{Queue::Refill::HalfDrained, kCapacity / 2}}) {
        SCOPED_TRACE(static_cast<int>(c.refill));
        Queue q(kCapacity, c.refill);
        for (int i = 0; i < kCapacity; ++i)
            ASSERT_TRUE(q.push(i));
        std::atomic<bool> pushed{false};
        std::atomic<pid_t> producerTid{0};
        std::thread producer([&] {
            producerTid = gettid();
            EXPECT_TRUE(q.push(kCapacity));
            pushed = true;
        });
        // Only a producer that found the queue full waits for the refill.
        ASSERT_TRUE(eventually([&] { return producerTid != 0 && threadState(producerTid) == 'S'; }));
        for (std::size_t n = 0; n + 1 < c.popsBeforeRoom; ++n) {
            ASSERT_TRUE(q.pop());
            std::this_thread::sleep_for(10ms);
            EXPECT_FALSE(pushed) << "the producer went on after " << n + 1 << " items";
        }
        ASSERT_TRUE(q.pop());
        EXPECT_TRUE(eventually([&] { return pushed.load(); }));
        producer.join();
        EXPECT_EQ(q.size(), kCapacity - c.popsBeforeRoom + 1);
    }
}
