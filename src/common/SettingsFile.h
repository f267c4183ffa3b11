#pragma once
// The settings file "TConfig.ini" in the program folder (UTF-8 with mark) and
// the one value it holds: the log level, a position in the console's level
// list. Any thread; the image belongs to the caller.

#include "common/TMemIniFile.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tv {

inline constexpr std::string_view kSettingsFileName = "TConfig.ini";
inline constexpr std::string_view kSettingsSection = "Settings";
inline constexpr std::string_view kLogLevelKey = "LogLevel";
inline constexpr std::int32_t kDefaultLogLevel = 1;

// programFolder (with its trailing "/") + "TConfig.ini".
std::string settingsFileName(std::string_view programFolder);

// The settings file of the running program.
TMemIniFile openSettingsFile();

std::int32_t readLogLevel(const TMemIniFile& settings);
void writeLogLevel(TMemIniFile& settings, std::int32_t level);

} // namespace tv
