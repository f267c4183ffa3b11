#include "common/CpuUsageSampler.h"

#include "unit/common/common_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

namespace tv {
namespace {

constexpr std::int64_t kHz = 100; // clock ticks per second in the fixtures

// A folder laid out like /proc with a "cpu" line and per-process stat files.
class FakeProc {
public:
    std::string root() const { return dir_.folder(); }

    void system(std::int64_t user, std::int64_t nice, std::int64_t sys, std::int64_t idle,
                std::int64_t iowait = 0, std::int64_t irq = 0, std::int64_t softirq = 0,
                std::int64_t steal = 0, std::int64_t guest = 0)
    {
        test::writeBytes(dir_.file("stat"),
                         "cpu  " + std::to_string(user) + " " + std::to_string(nice) + " " + std::to_string(sys)
                             + " " + std::to_string(idle) + " " + std::to_string(iowait) + " "
                             + std::to_string(irq) + " " + std::to_string(softirq) + " "
                             + std::to_string(steal) + " " + std::to_string(guest) + " 0\n"
                             + "cpu0 1 1 1 1 1 1 1 1 0 0\nintr 12345\n");
    }

    void process(std::uint32_t pid, std::int64_t utime, std::int64_t stime, const std::string& comm = "worker")
    {
        const std::string folder = dir_.file(std::to_string(pid));
        std::filesystem::create_directories(folder);
        // Fields 3..13, then utime (14) and stime (15), then a few more.
        test::writeBytes(folder + "/stat", std::to_string(pid) + " (" + comm + ") S 1 1 1 0 -1 4194560 10 0 0 0 "
                                               + std::to_string(utime) + " " + std::to_string(stime)
                                               + " 7 7 20 0 1 0 100 0 0\n");
    }

    void removeProcess(std::uint32_t pid) { std::filesystem::remove_all(dir_.file(std::to_string(pid))); }
    void removeSystem() { std::filesystem::remove(dir_.file("stat")); }

private:
    test::TempFolder dir_;
};

CpuUsageSampler sampler(const FakeProc& proc, std::int32_t processors)
{
    return CpuUsageSampler(proc.root(), [processors] { return processors; }, kHz);
}

TEST(CommonCpuUsage, RoundsHalfToEven)
{
    const std::pair<double, std::int32_t> cases[] = {
        {12.5, 12}, {13.5, 14}, {0.5, 0}, {1.5, 2}, {2.4999, 2}, {2.5001, 3}, {-0.5, 0},
        {-1.5, -2}, {-2.5, -2}, {0.0, 0}, {25.0, 25}, {1e12, INT32_MAX}, {-1e12, INT32_MIN},
    };
    for (auto [value, expected] : cases)
        EXPECT_EQ(roundHalfToEven(value), expected) << value;
}

TEST(CommonCpuUsage, ParsesProcFiles)
{
    auto sys = parseSystemTimes("cpu  10 2 3 100 4 5 6 7 8 9\ncpu0 1 1 1 1\n", kHz);
    ASSERT_TRUE(sys);
    EXPECT_EQ(sys->UserTime, 12 * (kTimeUnitsPerSecond / kHz));                  // user + nice
    EXPECT_EQ(sys->KernelTime, (3 + 100 + 4 + 5 + 6 + 7) * (kTimeUnitsPerSecond / kHz)); // incl. idle
    EXPECT_TRUE(parseSystemTimes("cpu 1 2 3 4\n", kHz)); // old kernels: four fields
    EXPECT_FALSE(parseSystemTimes("cpu 1 2 3\n", kHz));
    EXPECT_FALSE(parseSystemTimes("cpu0 1 2 3 4\n", kHz));
    EXPECT_FALSE(parseSystemTimes("", kHz));

    // A command name with blanks and ")" inside.
    auto proc = parseProcessTimes("42 (a) b (c)) R 1 1 1 0 -1 0 0 0 0 0 300 200 0 0 20 0 1 0 5\n", kHz);
    ASSERT_TRUE(proc);
    EXPECT_EQ(proc->UserTime, 3 * kTimeUnitsPerSecond);
    EXPECT_EQ(proc->KernelTime, 2 * kTimeUnitsPerSecond);
    EXPECT_FALSE(parseProcessTimes("42 (x) R 1 2 3", kHz));
    EXPECT_FALSE(parseProcessTimes("garbage", kHz));

    EXPECT_EQ(ticksToTimeUnits(250, 100), 25'000'000);
    EXPECT_EQ(ticksToTimeUnits(1, 3), 3'333'333);
    // Ten years of 1024 busy processors at 100 Hz: ticks * 10^7 alone would overflow.
    EXPECT_EQ(ticksToTimeUnits(32'000'000'000'000, 100), 3'200'000'000'000'000'000);
}

TEST(CommonCpuUsage, FigureFromTheFormula)
{
    FakeProc proc;
    proc.system(1000, 0, 0, 3000);
    proc.process(10, 500, 500, "busy one");
    proc.process(20, 500, 0);
    proc.process(7, 0, 0);
    auto s = sampler(proc, 4);
    EXPECT_EQ(s.GetProcessIDs(), (std::vector<std::uint32_t>{7, 10, 20}));

    // Priming: first samples compare with zero times: (1000 + 500) / 4000 = 37.5 %, / 4 = 9.375.
    EXPECT_EQ(s.GetTotalCpuUsage(), 9);
    EXPECT_EQ(s.recordCount(), 3u);
    EXPECT_EQ(s.record(10)->LastProcessTimes.UserTime, 5 * kTimeUnitsPerSecond);

    // Nothing passed: system deltas of 0 give 0.
    EXPECT_EQ(s.GetTotalCpuUsage(), 0);

    // One second with all four processors busy (400 ticks), all of it in these processes.
    proc.system(1300, 100, 0, 3000);
    proc.process(10, 650, 600);
    proc.process(20, 650, 0);
    EXPECT_EQ(s.GetTotalCpuUsage(), 25);

    // 50 % of the machine over 4 processors is 12.5: rounds to 12; 54 % gives 13.5: rounds to 14.
    proc.system(1800, 100, 0, 3500);
    proc.process(10, 1150, 600);
    EXPECT_EQ(s.GetTotalCpuUsage(), 12);
    proc.system(2300, 100, 0, 4000);
    proc.process(10, 1650, 640);
    EXPECT_EQ(s.GetTotalCpuUsage(), 14);
}

TEST(CommonCpuUsage, ProcessesThatEndOrComeBack)
{
    FakeProc proc;
    proc.system(0, 0, 0, 1000);
    proc.process(10, 100, 0);
    proc.process(20, 100, 0);
    auto s = sampler(proc, 1);
    EXPECT_EQ(s.GetTotalCpuUsage(), 20);

    // Process 20 ends: it contributes 0 and keeps its record.
    proc.removeProcess(20);
    proc.system(0, 0, 0, 2000);
    proc.process(10, 200, 0);
    EXPECT_EQ(s.GetTotalCpuUsage(), 10);
    EXPECT_NE(s.record(20), nullptr);

    // Id 20 reused by a new process with less CPU time: a negative share lowers the sum.
    proc.process(20, 50, 0);
    proc.system(0, 0, 0, 3000);
    proc.process(10, 300, 0);
    // Process 10: 100 of 1000; process 20: 50 - 100 of 2000 since its last good sample.
    EXPECT_NEAR(s.GetProcessCpuUsage(10), 10.0, 1e-9);
    EXPECT_NEAR(s.GetProcessCpuUsage(20), -2.5, 1e-9);

    // A process that cannot be read still gets a record, and a share of 0.
    EXPECT_EQ(s.GetProcessCpuUsage(99), 0.0);
    EXPECT_NE(s.record(99), nullptr);
    EXPECT_EQ(s.record(99)->LastSystemTimes.KernelTime, 0);

    // A process whose times cannot be parsed: 0, but the system times are stored.
    test::writeBytes(proc.root() + "10/stat", "10 (x) Z\n");
    proc.system(0, 0, 0, 4000);
    EXPECT_EQ(s.GetProcessCpuUsage(10), 0.0);
    EXPECT_EQ(s.record(10)->LastSystemTimes.KernelTime, 4000 * (kTimeUnitsPerSecond / kHz));

    // No system times: everything is 0.
    proc.removeSystem();
    EXPECT_EQ(s.GetTotalCpuUsage(), 0);

    // No process list at all: no ids, figure 0.
    CpuUsageSampler nowhere(proc.root() + "missing", [] { return 2; }, kHz);
    EXPECT_TRUE(nowhere.GetProcessIDs().empty());
    EXPECT_EQ(nowhere.GetTotalCpuUsage(), 0);
}

TEST(CommonCpuUsage, RealProcSample)
{
    CpuUsageSampler s;
    const auto ids = s.GetProcessIDs();
    EXPECT_TRUE(std::binary_search(ids.begin(), ids.end(), static_cast<std::uint32_t>(::getpid())));
    EXPECT_GE(s.GetProcessorCount(), 1);
    (void)s.GetTotalCpuUsage();
    volatile double x = 0;
    for (int i = 0; i < 2'000'000; ++i)
        x = x + i;
    const std::int32_t figure = s.GetTotalCpuUsage();
    EXPECT_GE(figure, 0);
    EXPECT_LE(figure, 100);
    const double own = s.GetProcessCpuUsage(static_cast<std::uint32_t>(::getpid()));
    EXPECT_GE(own, 0.0);
    EXPECT_LE(own, 100.0);
}

} // namespace
} // namespace tv
