#pragma once
// Small fixtures shared by the common tests: whole-file read/write, the test
// data folder and UTF-16 text (temporary folders: support/TempFolder.h).

#include "support/TempFolder.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace tv::test {

inline std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

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
