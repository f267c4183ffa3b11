#pragma once
// The machine's CPU figure for the status bar: every process's share of the
// machine's CPU time since that process was last sampled, summed and divided
// by the number of logical processors, rounded half to even. Times come from
// /proc (or a folder laid out like it, for tests) in 100 ns units.
//
// The sampler owns one TProcessCpuUsage record per process id ever sampled;
// records are never removed while the program runs (a reused id continues
// the old record). A process that cannot be read contributes 0; nothing is
// reported. Not locked: one thread (the GUI thread) uses a sampler.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

// Units of the times below: 100 ns per count.
inline constexpr std::int64_t kTimeUnitsPerSecond = 10'000'000;

struct TSystemTimesRec {
    std::int64_t KernelTime = 0; // includes idle time
    std::int64_t UserTime = 0;
};

struct TProcessTimesRec {
    std::int64_t KernelTime = 0;
    std::int64_t UserTime = 0;
};

class TProcessCpuUsage {
public:
    TSystemTimesRec LastSystemTimes;
    TProcessTimesRec LastProcessTimes;
};

// The "cpu" line of a /proc/stat text: kernel = system + idle + iowait + irq
// + softirq + steal, user = user + nice (guest time is inside user already).
std::optional<TSystemTimesRec> parseSystemTimes(std::string_view procStat, std::int64_t ticksPerSecond);

// A /proc/<pid>/stat text: kernel = stime, user = utime.
std::optional<TProcessTimesRec> parseProcessTimes(std::string_view pidStat, std::int64_t ticksPerSecond);

// Clock ticks to 100 ns units without overflow for any uptime.
std::int64_t ticksToTimeUnits(std::int64_t ticks, std::int64_t ticksPerSecond);

// Nearest integer, a tie going to the even one (12.5 -> 12, 13.5 -> 14);
// clamped to the 32-bit range.
std::int32_t roundHalfToEven(double value);

class CpuUsageSampler {
public:
    using ProcessorCountFn = std::function<std::int32_t()>;

    // procRoot: "/proc" or a folder with the same layout ("stat" and
    // "<pid>/stat"). processorCount: by default the online logical processors.
    explicit CpuUsageSampler(std::string procRoot = "/proc", ProcessorCountFn processorCount = {},
                             std::int64_t ticksPerSecond = 0);

    std::int32_t GetTotalCpuUsage();
    double GetProcessCpuUsage(std::uint32_t processId);
    std::vector<std::uint32_t> GetProcessIDs() const;
    std::int32_t GetProcessorCount() const;

    // The record of a process id, if one was ever sampled.
    const TProcessCpuUsage* record(std::uint32_t processId) const;
    size_t recordCount() const { return usage_.size(); }

private:
    double processUsage(std::uint32_t processId, const std::optional<TSystemTimesRec>& system);
    std::optional<TSystemTimesRec> readSystemTimes() const;

    std::string root_;
    ProcessorCountFn processorCountFn_;
    std::int64_t ticksPerSecond_;
    std::int32_t processorCount_ = 0;
    std::map<std::uint32_t, TProcessCpuUsage> usage_;
};

// The process-wide sampler, created and primed (one sample, result dropped)
// by InitCpuUsage at start-up.
void InitCpuUsage();
std::int32_t GetTotalCpuUsage();
double GetProcessCpuUsage(std::uint32_t processId);
std::vector<std::uint32_t> GetProcessIDs();
std::int32_t GetProcessorCount();

} // namespace tv
