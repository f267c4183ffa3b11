#pragma once
// A named block of shared memory (POSIX shm object, mode 0600) mapped into this
// process. Object names: a local name N becomes "/tilvaron.<uid>.N"; a name
// "Global\N" becomes "/tilvaron.global.N".
//
// Owns the descriptor (until closeHandle()) and the mapping (until the object
// is destroyed). Not thread-safe itself; the mapped bytes may be used from any
// thread and any process, without locks. Errors are the operating system's,
// as systemErrorText() formats them.

#include "common/Result.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tv::platform {

class SharedMemory {
public:
    static constexpr const char* kGlobalPrefix = "Global\\";

    // The POSIX object name for a channel name, as described above.
    static std::string objectName(const std::string& name);

    // Opens the object, creating it when missing. A new block reads as zero;
    // an existing one keeps its contents (and is grown, with zero bytes, when
    // it is shorter than size). Maps size bytes.
    static Result<SharedMemory> createOrOpen(const std::string& name, std::size_t size);

    // Opens an existing object only and maps size bytes. A missing object
    // gives an empty optional and creates nothing. An object shorter than size
    // is an error (mapping past its end would fault on access).
    static Result<std::optional<SharedMemory>> openExisting(const std::string& name, std::size_t size);

    // Removes the name; mappings stay valid. Returns 0 or the errno value
    // (ENOENT when no such object exists).
    static int unlink(const std::string& name);

    SharedMemory() = default;
    SharedMemory(SharedMemory&& other) noexcept;
    SharedMemory& operator=(SharedMemory&& other) noexcept;
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;
    ~SharedMemory();

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool mapped() const { return data_ != nullptr; }
    int handle() const { return fd_; }

    // Closes the descriptor; the mapping stays until destruction.
    void closeHandle();

private:
    SharedMemory(int fd, std::uint8_t* data, std::size_t size) : fd_(fd), data_(data), size_(size) {}
    static Result<SharedMemory> mapDescriptor(int fd, std::size_t size);
    void release();

    int fd_ = -1;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace tv::platform
