// A memory output whose handlers run on the application's thread: every call
// arrives there, Stop(true) on that thread does not deadlock, and abort()
// releases an output thread that waits for a main thread that never comes.

#include "media/TFFEncoder.h"
#include "media/TFrameInputAdapter.h"
#include "media/TMemoryAccessAdapter.h"

#include "support/QtEventPump.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace tv;
using tv::test::app;
using namespace std::chrono_literals;

TEST(MediaMemoryOutput, HandlersRunOnTheApplicationThread)
{
    app();
    TFrameInputAdapter pic;
    TMemoryAccessAdapter maa;   // TriggerEventInMainThread is on by default
    std::atomic<int> offThread{0}, writes{0}, closes{0};
    QThread* main = QThread::currentThread();
    maa.OnOpen = [&](TMemoryAccessAdapter*, const std::string&, void*, int) {
        offThread += QThread::currentThread() != main;
        return true;
    };
    maa.OnWrite = [&](TMemoryAccessAdapter*, const uint8_t*, int n) {
        offThread += QThread::currentThread() != main;
        ++writes;
        return n;
    };
    maa.OnClose = [&](TMemoryAccessAdapter*) {
        offThread += QThread::currentThread() != main;
        ++closes;
    };
    TFFEncoder enc;
    ASSERT_EQ(enc.AddTask(pic.FileName(), {"-f frameinput -pix_fmt yuv420p -r 25 -s 64x64"}), 0) << enc.LastErrMsg();
    ASSERT_EQ(enc.SetOutput(0, &maa, nullptr, {"-filter_complex \"[0:v] null\" -c:v mpeg2video -f mpegts"}), 0)
        << enc.LastErrMsg();
    ASSERT_TRUE(enc.Start(1));
    auto end = std::chrono::steady_clock::now() + 60s;
    while (writes < 20 && std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_GE(writes.load(), 20);
    enc.Stop(true);   // the output thread still needs the main thread to finish
    EXPECT_FALSE(enc.Working());
    EXPECT_EQ(closes.load(), 1);
    EXPECT_EQ(offThread.load(), 0);
}

TEST(MediaMemoryOutput, AbortReleasesAWaitingOutputThread)
{
    app();
    TMemoryAccessAdapter maa;
    maa.OnWrite = [](TMemoryAccessAdapter*, const uint8_t*, int n) { return n; };
    std::atomic<int> result{0};
    std::atomic<bool> done{false};
    // The application thread (this one) does not serve events meanwhile.
    std::thread output([&] {
        uint8_t b[188] = {0x47};
        result = maa.write(b, sizeof b);
        done = true;
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(done.load());
    maa.abort();
    output.join();
    EXPECT_LT(result.load(), 0);
    // Later calls fail at once until reset.
    uint8_t b[188] = {0x47};
    EXPECT_LT(maa.write(b, sizeof b), 0);
    maa.reset();
    EXPECT_EQ(maa.write(b, sizeof b), 188);   // on the application thread: direct
    QCoreApplication::processEvents();       // the cancelled hand-over runs as a no-op
}
