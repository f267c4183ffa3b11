#include "platform/SharedMemory.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tv::platform {

namespace {

constexpr mode_t kObjectMode = 0600;

Error systemError(int code) { return fail(systemErrorText(code)); }

} // namespace

Result<SharedMemory> SharedMemory::mapDescriptor(int fd, std::size_t size)
{
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
        int e = errno;
        ::close(fd);
        return systemError(e);
    }
    return SharedMemory(fd, static_cast<std::uint8_t*>(p), size);
}

std::string SharedMemory::objectName(const std::string& name)
{
    const std::string prefix = kGlobalPrefix;
    if (name.compare(0, prefix.size(), prefix) == 0)
        return "/tilvaron.global." + name.substr(prefix.size());
    return "/tilvaron." + std::to_string(getuid()) + "." + name;
}

Result<SharedMemory> SharedMemory::createOrOpen(const std::string& name, std::size_t size)
{
    if (size == 0)
        return systemError(EINVAL);
    int fd = shm_open(objectName(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kObjectMode);
    if (fd < 0)
        return systemError(errno);
    struct stat st {};
    if (fstat(fd, &st) != 0 || (static_cast<std::size_t>(st.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
        int e = errno;
        ::close(fd);
        return systemError(e);
    }
    return mapDescriptor(fd, size);
}

Result<std::optional<SharedMemory>> SharedMemory::openExisting(const std::string& name, std::size_t size)
{
    if (size == 0)
        return systemError(EINVAL);
    int fd = shm_open(objectName(name).c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::optional<SharedMemory>();
        return systemError(errno);
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        int e = errno;
        ::close(fd);
        return systemError(e);
    }
    if (static_cast<std::size_t>(st.st_size) < size) {
        ::close(fd);
        return systemError(EINVAL);
    }
    auto r = mapDescriptor(fd, size);
    if (!r)
        return fail(r.error());
    return std::optional<SharedMemory>(std::move(r).value());
}

int SharedMemory::unlink(const std::string& name)
{
    return shm_unlink(objectName(name).c_str()) == 0 ? 0 : errno;
}

SharedMemory::SharedMemory(SharedMemory&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0))
{
}

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept
{
    if (this != &other) {
        release();
        fd_ = std::exchange(other.fd_, -1);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

SharedMemory::~SharedMemory() { release(); }

void SharedMemory::closeHandle()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void SharedMemory::release()
{
    closeHandle();
    if (data_) {
        munmap(data_, size_);
        data_ = nullptr;
        size_ = 0;
    }
}

} // namespace tv::platform
