#pragma once
// Test support: a folder of its own under the system's temporary folder,
// unique even among test programs running side by side, removed with
// everything in it when the object goes. Header-only.

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace tv::test {

class TempFolder {
public:
    // The folder's name starts with `tag`. Throws (failing the test) when no
    // folder can be made.
    explicit TempFolder(const std::string& tag = "tv")
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (tag + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder from " + pattern);
        path_ = pattern;
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The folder as text with a trailing "/", for appending a name.
    std::string folder() const { return path_.string() + "/"; }
    // The path of `name` in the folder.
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

} // namespace tv::test
