#include "common/CpuUsageSampler.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace tv {
namespace {

// /proc/stat "cpu" line: user nice system idle iowait irq softirq steal ...
constexpr size_t kCpuUser = 0, kCpuNice = 1, kCpuSystem = 2, kCpuIdle = 3, kCpuIoWait = 4,
                 kCpuIrq = 5, kCpuSoftIrq = 6, kCpuSteal = 7;
constexpr size_t kCpuMinFields = 4;
// /proc/<pid>/stat fields after the ")" that closes the command name start
// with field 3 (state); utime is field 14 and stime field 15.
constexpr size_t kFirstFieldAfterName = 3;
constexpr size_t kUtimeField = 14 - kFirstFieldAfterName;
constexpr size_t kStimeField = 15 - kFirstFieldAfterName;

std::vector<std::string_view> splitBlanks(std::string_view s)
{
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
            ++i;
        const size_t start = i;
        while (i < s.size() && s[i] != ' ' && s[i] != '\t' && s[i] != '\n')
            ++i;
        if (i > start)
            out.push_back(s.substr(start, i - start));
        if (i < s.size() && s[i] == '\n')
            break;
    }
    return out;
}

std::optional<std::int64_t> number(std::string_view s)
{
    std::int64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return v;
}

std::optional<std::string> readSmallFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string data;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            if (n < 0)
                return std::nullopt;
            return data;
        }
        data.append(buf, static_cast<size_t>(n));
    }
}

bool allDigits(const char* s)
{
    if (!*s)
        return false;
    for (; *s; ++s)
        if (*s < '0' || *s > '9')
            return false;
    return true;
}

} // namespace

std::int64_t ticksToTimeUnits(std::int64_t ticks, std::int64_t ticksPerSecond)
{
    if (ticksPerSecond <= 0)
        return 0;
    return (ticks / ticksPerSecond) * kTimeUnitsPerSecond
           + (ticks % ticksPerSecond) * kTimeUnitsPerSecond / ticksPerSecond;
}

std::optional<TSystemTimesRec> parseSystemTimes(std::string_view text, std::int64_t hz)
{
    // The aggregate line comes first and begins with "cpu" and a blank.
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        std::string_view line = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        if (line.substr(0, 4) == "cpu " || line.substr(0, 4) == "cpu\t") {
            auto fields = splitBlanks(line.substr(3));
            if (fields.size() < kCpuMinFields)
                return std::nullopt;
            std::int64_t v[8] = {};
            for (size_t k = 0; k < 8 && k < fields.size(); ++k) {
                auto n = number(fields[k]);
                if (!n)
                    return std::nullopt;
                v[k] = *n;
            }
            TSystemTimesRec r;
            r.UserTime = ticksToTimeUnits(v[kCpuUser] + v[kCpuNice], hz);
            r.KernelTime = ticksToTimeUnits(v[kCpuSystem] + v[kCpuIdle] + v[kCpuIoWait] + v[kCpuIrq]
                                                + v[kCpuSoftIrq] + v[kCpuSteal], hz);
            return r;
        }
        if (end == std::string_view::npos)
            break;
        at = end + 1;
    }
    return std::nullopt;
}

std::optional<TProcessTimesRec> parseProcessTimes(std::string_view text, std::int64_t hz)
{
    const size_t close = text.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    auto fields = splitBlanks(text.substr(close + 1));
    if (fields.size() <= kStimeField)
        return std::nullopt;
    auto utime = number(fields[kUtimeField]);
    auto stime = number(fields[kStimeField]);
    if (!utime || !stime)
        return std::nullopt;
    return TProcessTimesRec{ticksToTimeUnits(*stime, hz), ticksToTimeUnits(*utime, hz)};
}

std::int32_t roundHalfToEven(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double kMin = std::numeric_limits<std::int32_t>::min();
    constexpr double kMax = std::numeric_limits<std::int32_t>::max();
    if (value <= kMin)
        return std::numeric_limits<std::int32_t>::min();
    if (value >= kMax)
        return std::numeric_limits<std::int32_t>::max();
    const double lower = std::floor(value);
    const double diff = value - lower;
    double result = lower;
    if (diff > 0.5)
        result = lower + 1;
    else if (diff == 0.5)
        result = std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
    return static_cast<std::int32_t>(result);
}

CpuUsageSampler::CpuUsageSampler(std::string procRoot, ProcessorCountFn processorCount,
                                 std::int64_t ticksPerSecond)
    : root_(std::move(procRoot)), processorCountFn_(std::move(processorCount)),
      ticksPerSecond_(ticksPerSecond > 0 ? ticksPerSecond : ::sysconf(_SC_CLK_TCK))
{
    if (!root_.empty() && root_.back() != '/')
        root_ += '/';
    if (!processorCountFn_)
        processorCountFn_ = [] { return static_cast<std::int32_t>(::sysconf(_SC_NPROCESSORS_ONLN)); };
}

std::vector<std::uint32_t> CpuUsageSampler::GetProcessIDs() const
{
    std::vector<std::uint32_t> ids;
    DIR* dir = ::opendir(root_.c_str());
    if (!dir)
        return ids;
    while (const dirent* e = ::readdir(dir)) {
        if (!allDigits(e->d_name))
            continue;
        std::uint32_t id = 0;
        const std::string_view name(e->d_name);
        auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), id);
        if (ec == std::errc() && end == name.data() + name.size())
            ids.push_back(id);
    }
    ::closedir(dir);
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::int32_t CpuUsageSampler::GetProcessorCount() const
{
    return processorCountFn_();
}

std::optional<TSystemTimesRec> CpuUsageSampler::readSystemTimes() const
{
    auto text = readSmallFile(root_ + "stat");
    if (!text)
        return std::nullopt;
    return parseSystemTimes(*text, ticksPerSecond_);
}

const TProcessCpuUsage* CpuUsageSampler::record(std::uint32_t processId) const
{
    auto it = usage_.find(processId);
    return it == usage_.end() ? nullptr : &it->second;
}

double CpuUsageSampler::processUsage(std::uint32_t processId, const std::optional<TSystemTimesRec>& system)
{
    TProcessCpuUsage& rec = usage_[processId]; // a record even for a process that cannot be read
    auto stat = readSmallFile(root_ + std::to_string(processId) + "/stat");
    if (!stat)
        return 0;
    if (!system)
        return 0;
    const std::int64_t sysKernel = system->KernelTime - rec.LastSystemTimes.KernelTime;
    const std::int64_t sysUser = system->UserTime - rec.LastSystemTimes.UserTime;
    rec.LastSystemTimes = *system;

    auto times = parseProcessTimes(*stat, ticksPerSecond_);
    if (!times)
        return 0;
    const std::int64_t procKernel = times->KernelTime - rec.LastProcessTimes.KernelTime;
    const std::int64_t procUser = times->UserTime - rec.LastProcessTimes.UserTime;
    rec.LastProcessTimes = *times;

    const std::int64_t sysSum = sysKernel + sysUser;
    if (sysSum <= 0)
        return 0;
    return static_cast<double>(procKernel + procUser) / static_cast<double>(sysSum) * 100.0;
}

double CpuUsageSampler::GetProcessCpuUsage(std::uint32_t processId)
{
    return processUsage(processId, readSystemTimes());
}

std::int32_t CpuUsageSampler::GetTotalCpuUsage()
{
    const auto ids = GetProcessIDs();
    if (processorCount_ == 0)
        processorCount_ = GetProcessorCount();
    // One reading of the system times serves every process of this sample.
    const auto system = readSystemTimes();
    double sum = 0.0;
    for (std::uint32_t id : ids)
        sum += processUsage(id, system);
    return roundHalfToEven(sum / (processorCount_ > 0 ? processorCount_ : 1));
}

namespace {
CpuUsageSampler& processSampler()
{
    static CpuUsageSampler sampler;
    return sampler;
}
} // namespace

void InitCpuUsage() { (void)processSampler().GetTotalCpuUsage(); }
std::int32_t GetTotalCpuUsage() { return processSampler().GetTotalCpuUsage(); }
double GetProcessCpuUsage(std::uint32_t processId) { return processSampler().GetProcessCpuUsage(processId); }
std::vector<std::uint32_t> GetProcessIDs() { return processSampler().GetProcessIDs(); }
std::int32_t GetProcessorCount() { return processSampler().GetProcessorCount(); }

} // namespace tv
