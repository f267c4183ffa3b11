#pragma once
// Small helpers both programs use: the token cutter, the program folder, the
// version text of a program file and the termination of a process by id.
// Stateless; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace tv {

// Text of GetFileVersionStr for a file that carries no version.
inline constexpr std::string_view kNoVersionInformation = "No version information found";

// Cuts text at the first occurrence of delimiter (letter case counts):
// returns what precedes it and removes that and the delimiter from the front
// of text. Not found (or an empty delimiter): returns the empty text and
// leaves text unchanged. "udp://dest:1234" with "//" gives "udp:" and leaves
// "dest:1234".
std::string CutToken(std::string& text, std::string_view delimiter);

// The folder of the running executable with a trailing "/".
std::string GetAppPath();

// The version of this project's programs (compiled in) when path names an
// existing file in the folder of the running executable, where the programs
// are installed together; kNoVersionInformation for any other path.
std::string GetFileVersionStr(const std::string& path);

// Ends the process with this id: the own process ends at once with exit code
// 0 (the call does not return); another one is sent SIGKILL (its parent reaps
// it). False when there is no such process, it may not be signalled, or the
// id is not a single process (0 and ids above the pid range would signal a
// whole process group or every process).
bool KillProcess(std::uint32_t processId);

// The pid KillProcess may signal for an id, or nothing for 0 and for ids that
// do not fit a positive pid.
std::optional<pid_t> singleProcessId(std::uint32_t processId);

} // namespace tv
