#pragma once
// Small fixtures shared by the common tests: a temporary folder removed at the
// end of the test, and whole-file read/write.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace tv::test {

class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tv-common-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempFolder()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder with a trailing "/".
    std::string path() const { return path_ + "/"; }
    std::string file(const std::string& name) const { return path() + name; }

private:
    std::string path_;
};

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
