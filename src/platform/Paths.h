#pragma once
// Folders the programs rely on: the program folder (the folder of the running
// executable) and the per-user configuration folder. Any thread.

#include <string>

namespace tv::platform {

// Folder of /proc/self/exe with a trailing "/".
std::string programFolder();

// Full path of the running executable.
std::string programFile();

// $XDG_CONFIG_HOME, or ~/.config when unset, with a trailing "/".
std::string configFolder();

} // namespace tv::platform
