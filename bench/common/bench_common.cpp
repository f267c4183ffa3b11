// Costs of the common helpers that run repeatedly, each beside a baseline that
// does only the unavoidable part of the same work in the same run:
// - one CPU sample of the whole machine (once a second in the console) beside
//   just reading /proc/stat and every /proc/<pid>/stat;
// - building the image of a large profile (1000 sources) beside only decoding
//   its UTF-16LE bytes;
// - a source lookup in that image (each source change) beside a lookup in a
//   plain std::map of the same keys.

#include "common/CpuUsageSampler.h"
#include "common/TMemIniFile.h"
#include "common/TextCodec.h"

#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <map>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double secondsPerCall(int calls, F&& f)
{
    f(); // warm up
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i)
        f();
    return std::chrono::duration<double>(Clock::now() - start).count() / calls;
}

void report(const char* what, const char* baseline, double ours, double base)
{
    std::printf("%-38s %10.2f us | %-34s %10.2f us | ratio %.2f\n", what, ours * 1e6, baseline, base * 1e6,
                base > 0 ? ours / base : 0.0);
}

size_t readProcRaw()
{
    size_t bytes = 0;
    auto slurp = [&](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        char buf[4096];
        while (in.read(buf, sizeof buf) || in.gcount() > 0)
            bytes += static_cast<size_t>(in.gcount());
    };
    slurp("/proc/stat");
    if (DIR* d = ::opendir("/proc")) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] >= '0' && e->d_name[0] <= '9')
                slurp(std::string("/proc/") + e->d_name + "/stat");
        ::closedir(d);
    }
    return bytes;
}

} // namespace

int main()
{
    tv::CpuUsageSampler sampler;
    volatile std::int64_t sink = 0;
    const double sample = secondsPerCall(50, [&] { sink = sink + sampler.GetTotalCpuUsage(); });
    const double raw = secondsPerCall(50, [&] { sink = sink + static_cast<std::int64_t>(readProcRaw()); });
    std::printf("processes: %zu\n", sampler.GetProcessIDs().size());
    report("CPU sample (GetTotalCpuUsage)", "read /proc stat files only", sample, raw);

    std::string text = "[Output]\r\nURL=udp://239.0.0.1:1234\r\nWidth=1920\r\n\r\n[Sources]\r\nCount=1000\r\n\r\n";
    for (int k = 1; k <= 1000; ++k)
        text += "[Source" + std::to_string(k) + "]\r\nTitle=Channel " + std::to_string(k)
                + "\r\nURL=udp://239.1." + std::to_string(k / 250) + "." + std::to_string(k % 250)
                + ":1234\r\n\r\n";
    const std::string bytes = std::string(tv::text::kUtf16LeBom) + tv::text::utf8ToUtf16Le(text);
    const double parse = secondsPerCall(50, [&] {
        auto ini = tv::TMemIniFile::FromBytes(bytes);
        sink = sink + static_cast<std::int64_t>(ini.ReadSections().size());
    });
    const double decode = secondsPerCall(50, [&] {
        sink = sink + static_cast<std::int64_t>(tv::text::utf16LeToUtf8(bytes.substr(2)).size());
    });
    report("image of a 1000-source profile", "UTF-16LE decode only", parse, decode);

    const auto ini = tv::TMemIniFile::FromBytes(bytes);
    std::map<std::string, std::string> plain;
    for (int k = 1; k <= 1000; ++k)
        plain["source" + std::to_string(k) + "/url"] = ini.ReadString("Source" + std::to_string(k), "URL", "");
    int k = 0;
    const double lookup = secondsPerCall(100000, [&] {
        k = k % 1000 + 1;
        sink = sink + static_cast<std::int64_t>(ini.ReadString("SOURCE" + std::to_string(k), "url", "").size());
    });
    const double mapLookup = secondsPerCall(100000, [&] {
        k = k % 1000 + 1;
        sink = sink + static_cast<std::int64_t>(plain.find("source" + std::to_string(k) + "/url")->second.size());
    });
    report("ReadString in that image", "std::map lookup", lookup, mapLookup);
    return 0;
}
