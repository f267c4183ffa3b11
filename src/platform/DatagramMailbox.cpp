#include "platform/DatagramMailbox.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tv::platform {

namespace {

// Fills addr with an abstract address; returns its length, or 0 when the name
// does not fit into sun_path.
socklen_t makeAddress(const std::string& name, sockaddr_un& addr)
{
    const std::string a = DatagramMailbox::address(name);
    if (a.size() > sizeof addr.sun_path)
        return 0;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, a.data(), a.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + a.size());
}

} // namespace

std::string DatagramMailbox::address(const std::string& name)
{
    return std::string(1, '\0') + "tilvaron." + std::to_string(getuid()) + ".mailslot." + name;
}

bool DatagramMailbox::send(const std::string& name, const void* data, std::size_t size)
{
    sockaddr_un addr;
    socklen_t len = makeAddress(name, addr);
    if (len == 0)
        return false;
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    ssize_t n = sendto(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL,
                       reinterpret_cast<const sockaddr*>(&addr), len);
    ::close(fd);
    return n == static_cast<ssize_t>(size);
}

DatagramMailbox::~DatagramMailbox() { close(); }

DatagramMailbox::BindResult DatagramMailbox::bind(const std::string& name)
{
    close();
    error_.clear();
    sockaddr_un addr;
    socklen_t len = makeAddress(name, addr);
    if (len == 0) {
        error_ = systemErrorText(ENAMETOOLONG);
        return BindResult::Failed;
    }
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error_ = systemErrorText(errno);
        return BindResult::Failed;
    }
    int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
        error_ = systemErrorText(errno);
        ::close(fd);
        return BindResult::Failed;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
        int e = errno;
        ::close(fd);
        if (e == EADDRINUSE)
            return BindResult::InUse;
        error_ = systemErrorText(e);
        return BindResult::Failed;
    }
    fd_ = fd;
    return BindResult::Bound;
}

void DatagramMailbox::close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

DatagramMailbox::ReceiveResult DatagramMailbox::receive(std::vector<std::uint8_t>& payload,
                                                        std::size_t maxBytes)
{
    if (fd_ < 0)
        return ReceiveResult::Failed;
    // One byte more than accepted, so that MSG_TRUNC tells an oversized one.
    payload.resize(maxBytes + 1);
    iovec iov{payload.data(), payload.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd_, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (n < 0) {
        payload.clear();
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return ReceiveResult::Empty;
        return ReceiveResult::Failed;
    }
    bool fromUs = false;
    bool carriedDescriptors = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS
            && c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            ucred cred;
            std::memcpy(&cred, CMSG_DATA(c), sizeof cred);
            fromUs = cred.uid == getuid();
        } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
            // Descriptors are never part of a message: close what came along.
            const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int passed;
                std::memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof passed);
                ::close(passed);
            }
            carriedDescriptors = true;
        }
    }
    if (!fromUs || carriedDescriptors || (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) || static_cast<std::size_t>(n) > maxBytes) {
        payload.clear();
        return ReceiveResult::Dropped;
    }
    payload.resize(static_cast<std::size_t>(n));
    return ReceiveResult::Message;
}

} // namespace tv::platform
