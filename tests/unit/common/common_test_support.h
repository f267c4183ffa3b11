#pragma once
// Small fixtures shared by the common tests: the test data folder and UTF-16
// text (temporary folders and whole-file read/write: tests/support).

#include "support/TempFolder.h"
#include "support/WholeFile.h"

#include <filesystem>
#include <string>
#include <unistd.h>

namespace tv::test {

inline std::string dataFile(const std::string& name)
{
    return std::string(TILVARON_SOURCE_DIR) + "/tests/unit/common/data/" + name;
}

// Plain ASCII text as UTF-16LE bytes (for building small inputs in tests).
inline std::string asciiUtf16(const std::string& s)
{
    std::string out;
    for (char c : s) {
        out += c;
        out += '\0';
    }
    return out;
}

} // namespace tv::test
