#pragma once
// InstanceKey: the per-instance store of small values (window placement, the
// default profile, AutoStart), one UTF-8 INI file per instance:
// <config folder>Vorn/<program base name><instance name>.ini. Integers are
// stored as decimal text, texts as they are. Nothing is cached: every read
// reads the file and every write rewrites it at once.
//
// Opening creates the folder only; the file appears with the first write. A
// key whose folder could not be created is not open: readers give their
// defaults and writers fail. A value that is not an integer reads as the
// default of RegReadInteger/RegReadBool. Used by the GUI thread only.
//
// The process-wide key (OpenInstanceKey, RegRead*, RegWrite*) is opened once
// by the main thread at start-up.

#include "common/Result.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tv {

inline constexpr std::string_view kInstanceKeyVendorFolder = "Vorn/";

class InstanceKey {
public:
    InstanceKey() = default;

    // configFolder ends with "/" (platform::configFolder()).
    static InstanceKey open(std::string_view configFolder, std::string_view programBaseName,
                            std::string_view instanceName);

    bool isOpen() const { return open_; }
    const std::string& fileName() const { return fileName_; }
    // The section of the file that holds the values: base name + instance.
    const std::string& keyName() const { return keyName_; }

    std::string ReadString(std::string_view name, std::string_view def) const;
    std::int32_t ReadInteger(std::string_view name, std::int32_t def) const;
    bool ReadBool(std::string_view name, bool def) const;

    Status WriteString(std::string_view name, std::string_view value);
    Status WriteInteger(std::string_view name, std::int32_t value);
    Status WriteBool(std::string_view name, bool value);
    // Several integer values in one rewrite of the file.
    Status WriteIntegers(const std::vector<std::pair<std::string, std::int32_t>>& values);

private:
    bool open_ = false;
    std::string fileName_;
    std::string keyName_;
};

// The program file's base name (file name without extension).
std::string programBaseName();

// Opens the process-wide key for the running program and instance name.
void OpenInstanceKey(std::string_view instanceName);
InstanceKey& processInstanceKey();

std::string RegReadString(std::string_view name, std::string_view def);
std::int32_t RegReadInteger(std::string_view name, std::int32_t def);
bool RegReadBool(std::string_view name, bool def);
Status RegWriteString(std::string_view name, std::string_view value);
Status RegWriteInteger(std::string_view name, std::int32_t value);
Status RegWriteBool(std::string_view name, bool value);

} // namespace tv
