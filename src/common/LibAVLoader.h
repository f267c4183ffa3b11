#pragma once
// The media library folder and the run-time check of the FFmpeg libraries.
//
// The libraries are the system's, linked normally; "loading" them means
// checking that the libraries the process runs with answer with the major
// versions it was built against (a mismatch is the load failure). The folder
// rule is kept for installations that ship their own libraries beside the
// program. LibAVPath is set once by the main thread during start-up and only
// read afterwards.

#include "common/Result.h"

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

// Platform folder appended to the chosen library folder.
inline constexpr std::string_view kLibAVPlatformFolder = "linux64/";

using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// Candidates in this order, the first that exists as a folder taken, the first
// when none exists; then kLibAVPlatformFolder is appended:
// 1. programFolder + "LibAV/";
// 2. the environment variable "LibAV" exactly as set (empty when unset);
// 3. the environment variable "WINDIR" + "/System32/LIBAV/";
// 4. the parent of programFolder + "LibAV/" (skipped when there is no parent).
// programFolder ends with "/".
std::string GetLibAVPath(std::string_view programFolder, const EnvironmentLookup& env);

// The same for the running program and the process environment.
std::string GetLibAVPath();

// The process-wide library folder; empty until set at start-up.
const std::string& LibAVPath();
void SetLibAVPath(std::string path);

// What a media component is, for LoadLibAV.
enum class MediaComponent { Player, FXPlayer, Encoder, Decoder, Other };

struct LibraryVersion {
    std::string_view name;
    unsigned builtMajor;
    unsigned runningMajor;
};

// The six libraries with the major version built against and the one the
// linked library reports.
std::vector<LibraryVersion> linkedLibraryVersions();

// Ok when every running major version equals the built one; else an error
// naming each library that differs.
Status checkLibraryVersions(std::span<const LibraryVersion> versions);

// Checks the libraries for a component. Players, effects players and decoders
// log a failure to the event log (no window shows it here); the encoder only
// returns it. Floating-point exceptions are masked (for the encoder whatever
// the result; for the others on success). Other components: nothing checked,
// true. lastErrMsg, when given, receives the failure text.
bool LoadLibAV(MediaComponent component, std::string* lastErrMsg = nullptr);

} // namespace tv
