#include "common/LibAVLoader.h"

#include "common/LogEvent.h"
#include "platform/Paths.h"

#include <cfenv>
#include <cstdlib>
#include <sys/stat.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace tv {
namespace {

constexpr std::string_view kLibAVFolder = "LibAV/";
constexpr std::string_view kLibAVVariable = "LibAV";
constexpr std::string_view kWindowsVariable = "WINDIR";
constexpr std::string_view kSystemLibAVFolder = "/System32/LIBAV/";

bool isFolder(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string& libAVPathStore()
{
    static std::string path;
    return path;
}

unsigned majorOf(unsigned version) { return version >> 16; }

void maskFloatingPointExceptions()
{
    fedisableexcept(FE_ALL_EXCEPT);
}

} // namespace

std::string GetLibAVPath(std::string_view programFolder, const EnvironmentLookup& env)
{
    std::vector<std::string> candidates;
    candidates.push_back(std::string(programFolder) + std::string(kLibAVFolder));
    candidates.push_back(env(kLibAVVariable.data()).value_or(""));
    candidates.push_back(env(kWindowsVariable.data()).value_or("") + std::string(kSystemLibAVFolder));

    std::string parent(programFolder);
    if (!parent.empty()) {
        parent.pop_back();
        while (!parent.empty() && parent.back() != '/')
            parent.pop_back();
    }
    if (!parent.empty())
        candidates.push_back(parent + std::string(kLibAVFolder));

    std::string chosen = candidates.front();
    for (const std::string& c : candidates) {
        if (isFolder(c)) {
            chosen = c;
            break;
        }
    }
    return chosen + std::string(kLibAVPlatformFolder);
}

std::string GetLibAVPath()
{
    return GetLibAVPath(platform::programFolder(), [](const char* name) -> std::optional<std::string> {
        const char* v = std::getenv(name);
        if (!v)
            return std::nullopt;
        return std::string(v);
    });
}

const std::string& LibAVPath() { return libAVPathStore(); }

void SetLibAVPath(std::string path) { libAVPathStore() = std::move(path); }

std::vector<LibraryVersion> linkedLibraryVersions()
{
    return {
        {"libavformat", LIBAVFORMAT_VERSION_MAJOR, majorOf(avformat_version())},
        {"libavcodec", LIBAVCODEC_VERSION_MAJOR, majorOf(avcodec_version())},
        {"libavfilter", LIBAVFILTER_VERSION_MAJOR, majorOf(avfilter_version())},
        {"libavutil", LIBAVUTIL_VERSION_MAJOR, majorOf(avutil_version())},
        {"libswscale", LIBSWSCALE_VERSION_MAJOR, majorOf(swscale_version())},
        {"libswresample", LIBSWRESAMPLE_VERSION_MAJOR, majorOf(swresample_version())},
    };
}

Status checkLibraryVersions(std::span<const LibraryVersion> versions)
{
    std::string text;
    for (const LibraryVersion& v : versions) {
        if (v.builtMajor == v.runningMajor)
            continue;
        if (!text.empty())
            text += "; ";
        text += std::string(v.name) + " has major version " + std::to_string(v.runningMajor)
                + ", the program was built for " + std::to_string(v.builtMajor);
    }
    if (text.empty())
        return {};
    return fail("The FFmpeg libraries do not match: " + text);
}

bool LoadLibAV(MediaComponent component, std::string* lastErrMsg)
{
    if (component == MediaComponent::Other)
        return true;
    const auto versions = linkedLibraryVersions();
    const Status loaded = checkLibraryVersions(versions);
    if (lastErrMsg)
        *lastErrMsg = loaded ? std::string() : loaded.error();

    if (component == MediaComponent::Encoder) {
        maskFloatingPointExceptions();
        return loaded.ok();
    }
    if (loaded)
        maskFloatingPointExceptions();
    else
        WriteEventLog(loaded.error(), kEventLogError);
    return loaded.ok();
}

} // namespace tv
