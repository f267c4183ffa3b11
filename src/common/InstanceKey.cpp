#include "common/InstanceKey.h"

#include "common/NumberText.h"
#include "common/TMemIniFile.h"
#include "platform/Paths.h"

#include <cerrno>
#include <sys/stat.h>

namespace tv {
namespace {

constexpr std::string_view kFileExtension = ".ini";

bool makeFolder(const std::string& path)
{
    // mkdir -p, one level at a time.
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/')
            continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

InstanceKey InstanceKey::open(std::string_view configFolder, std::string_view baseName,
                              std::string_view instanceName)
{
    InstanceKey key;
    std::string folder(configFolder);
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    folder += kInstanceKeyVendorFolder;
    key.keyName_ = std::string(baseName) + std::string(instanceName);
    key.fileName_ = folder + key.keyName_ + std::string(kFileExtension);
    key.open_ = makeFolder(folder);
    return key;
}

std::string InstanceKey::ReadString(std::string_view name, std::string_view def) const
{
    if (!open_)
        return std::string(def);
    return TMemIniFile(fileName_, IniEncoding::Utf8).ReadString(keyName_, name, def);
}

std::int32_t InstanceKey::ReadInteger(std::string_view name, std::int32_t def) const
{
    if (!open_)
        return def;
    return TMemIniFile(fileName_, IniEncoding::Utf8).ReadInteger(keyName_, name, def);
}

bool InstanceKey::ReadBool(std::string_view name, bool def) const
{
    return ReadInteger(name, def ? 1 : 0) != 0;
}

Status InstanceKey::WriteString(std::string_view name, std::string_view value)
{
    if (!open_)
        return fail("The instance key \"" + fileName_ + "\" is not open");
    auto ini = TMemIniFile::Open(fileName_, IniEncoding::Utf8);
    if (!ini)
        return fail(ini.error());
    ini->WriteString(keyName_, name, value);
    return ini->UpdateFile();
}

Status InstanceKey::WriteInteger(std::string_view name, std::int32_t value)
{
    return WriteString(name, integerText(value));
}

Status InstanceKey::WriteBool(std::string_view name, bool value)
{
    return WriteInteger(name, value ? 1 : 0);
}

Status InstanceKey::WriteIntegers(const std::vector<std::pair<std::string, std::int32_t>>& values)
{
    if (!open_)
        return fail("The instance key \"" + fileName_ + "\" is not open");
    auto ini = TMemIniFile::Open(fileName_, IniEncoding::Utf8);
    if (!ini)
        return fail(ini.error());
    for (const auto& [name, value] : values)
        ini->WriteInteger(keyName_, name, value);
    return ini->UpdateFile();
}

std::string programBaseName()
{
    const std::string file = platform::programFile();
    const size_t slash = file.rfind('/');
    std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

InstanceKey& processInstanceKey()
{
    static InstanceKey key;
    return key;
}

void OpenInstanceKey(std::string_view instanceName)
{
    processInstanceKey() = InstanceKey::open(platform::configFolder(), programBaseName(), instanceName);
}

std::string RegReadString(std::string_view name, std::string_view def)
{
    return processInstanceKey().ReadString(name, def);
}

std::int32_t RegReadInteger(std::string_view name, std::int32_t def)
{
    return processInstanceKey().ReadInteger(name, def);
}

bool RegReadBool(std::string_view name, bool def)
{
    return processInstanceKey().ReadBool(name, def);
}

Status RegWriteString(std::string_view name, std::string_view value)
{
    return processInstanceKey().WriteString(name, value);
}

Status RegWriteInteger(std::string_view name, std::int32_t value)
{
    return processInstanceKey().WriteInteger(name, value);
}

Status RegWriteBool(std::string_view name, bool value)
{
    return processInstanceKey().WriteBool(name, value);
}

} // namespace tv
