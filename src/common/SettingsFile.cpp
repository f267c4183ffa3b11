#include "common/SettingsFile.h"

#include "platform/Paths.h"

namespace tv {

std::string settingsFileName(std::string_view programFolder)
{
    std::string path(programFolder);
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path + std::string(kSettingsFileName);
}

TMemIniFile openSettingsFile()
{
    return TMemIniFile(settingsFileName(platform::programFolder()), IniEncoding::Utf8);
}

std::int32_t readLogLevel(const TMemIniFile& settings)
{
    return settings.ReadInteger(kSettingsSection, kLogLevelKey, kDefaultLogLevel);
}

void writeLogLevel(TMemIniFile& settings, std::int32_t level)
{
    settings.WriteInteger(kSettingsSection, kLogLevelKey, level);
}

} // namespace tv
