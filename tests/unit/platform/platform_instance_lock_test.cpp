#include "platform/InstanceLock.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <unistd.h>

using tv::platform::InstanceLock;
using tv::platform::Process;

namespace {

std::string uniqueTitle(const std::string& tag) { return "Tilvaron-test-" + std::to_string(getpid()) + tag; }

} // namespace

TEST(PlatformInstanceLock, AddressFollowsTheNamingRule)
{
    const std::string a = InstanceLock::address("Tilvaron2");
    EXPECT_EQ(a, std::string(1, '\0') + "tilvaron." + std::to_string(getuid()) + ".instance.Tilvaron2");
}

TEST(PlatformInstanceLock, SecondHolderIsRefusedUntilRelease)
{
    const std::string title = uniqueTitle("a");
    InstanceLock first, second, other;
    auto r1 = first.acquire(title);
    ASSERT_TRUE(r1) << r1.error();
    EXPECT_TRUE(r1.value());
    auto r2 = second.acquire(title);
    ASSERT_TRUE(r2) << r2.error();
    EXPECT_FALSE(r2.value());
    EXPECT_FALSE(second.held());
    auto r3 = other.acquire(uniqueTitle("b"));
    ASSERT_TRUE(r3);
    EXPECT_TRUE(r3.value()) << "another title is independent";
    first.release();
    auto r4 = second.acquire(title);
    ASSERT_TRUE(r4);
    EXPECT_TRUE(r4.value());
}

TEST(PlatformInstanceLock, LockOfAnotherProcessEndsWithIt)
{
    const std::string title = uniqueTitle("c");
    auto holder = Process::spawn(std::string(TILVARON_BIN_DIR) + "/platform_child", {"lock", title});
    ASSERT_TRUE(holder) << holder.error();
    InstanceLock lock;
    bool busy = false;
    for (int i = 0; i < 2000 && !busy; ++i) {
        auto r = lock.acquire(title);
        ASSERT_TRUE(r) << r.error();
        if (!r.value()) {
            busy = true;
        } else {
            lock.release(); // the child has not taken it yet
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ASSERT_TRUE(busy) << "the child never held the lock";
    holder->kill();
    auto r = lock.acquire(title);
    ASSERT_TRUE(r) << r.error();
    EXPECT_TRUE(r.value()) << "the kernel releases the lock of an ended process";
}
