#include "platform/InstanceLock.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tv::platform {

std::string InstanceLock::address(const std::string& title)
{
    return std::string(1, '\0') + "tilvaron." + std::to_string(getuid()) + ".instance." + title;
}

InstanceLock::~InstanceLock() { release(); }

Result<bool> InstanceLock::acquire(const std::string& title)
{
    if (fd_ >= 0)
        return true;
    const std::string a = address(title);
    sockaddr_un addr{};
    if (a.size() > sizeof addr.sun_path)
        return fail(systemErrorText(ENAMETOOLONG));
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, a.data(), a.size());
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(systemErrorText(errno));
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr),
               static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + a.size())) != 0) {
        int e = errno;
        ::close(fd);
        if (e == EADDRINUSE)
            return false;
        return fail(systemErrorText(e));
    }
    fd_ = fd;
    return true;
}

void InstanceLock::release()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace tv::platform
