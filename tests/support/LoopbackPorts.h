#pragma once
// Test support: free ports for tests that run side by side. A port from
// freeUdpPort()/freeTcpPort() is closed again before the test uses it;
// listenOnFreePort() keeps its socket open for a test that needs the port
// taken. Header-only; any thread.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace tv::test {

namespace detail {

// The port the system picks for a socket of `type` bound to `address`.
inline int pickedPort(int type, in_addr_t address)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

} // namespace detail

// A UDP port free on the loopback address.
inline int freeUdpPort() { return detail::pickedPort(SOCK_DGRAM, INADDR_LOOPBACK); }

// A TCP port free on all addresses.
inline int freeTcpPort() { return detail::pickedPort(SOCK_STREAM, INADDR_ANY); }

// A socket listening on all addresses at a free port, which goes to `port`;
// the caller closes it. -1 when none could be had.
inline int listenOnFreePort(std::uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

// Something accepts TCP connections on 127.0.0.1:port.
inline bool canConnect(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

} // namespace tv::test
