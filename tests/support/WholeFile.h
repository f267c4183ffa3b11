#pragma once
// Test support: a whole file read or written at once, byte for byte. A file
// that cannot be read reads as empty. Header-only; any thread.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tv::test {

inline std::string readBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

} // namespace tv::test
