#pragma once
// Test support: a UDP receiver on the loopback address that holds its port
// from construction on, so that no other process (a test beside this one, an
// encoder's own sending socket) can take the port between picking it and
// listening on it. captureTo() records what arrives for a while into a file,
// one datagram after the other, which is how a transport stream over UDP
// reads back. Header-only; one thread at a time.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace tv::test {

class UdpCapture {
public:
    UdpCapture()
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        // Room for a few seconds of a mosaic stream while the test is slow to read.
        const int buffer = kReceiveBuffer;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~UdpCapture() { ::close(fd_); }
    UdpCapture(const UdpCapture&) = delete;
    UdpCapture& operator=(const UdpCapture&) = delete;

    int port() const { return port_; }

    // Drops what queued up before this call, then writes every datagram that
    // arrives during `duration` to `file`. Returns the bytes written.
    std::size_t captureTo(const std::filesystem::path& file, std::chrono::milliseconds duration)
    {
        std::vector<std::uint8_t> datagram(kMaxDatagram);
        while (::recv(fd_, datagram.data(), datagram.size(), MSG_DONTWAIT) > 0) {
        }
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        std::size_t written = 0;
        const auto end = std::chrono::steady_clock::now() + duration;
        for (auto now = std::chrono::steady_clock::now(); now < end; now = std::chrono::steady_clock::now()) {
            pollfd p{fd_, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
            if (::poll(&p, 1, static_cast<int>(left) + 1) <= 0)
                continue;
            const ssize_t n = ::recv(fd_, datagram.data(), datagram.size(), MSG_DONTWAIT);
            if (n > 0) {
                out.write(reinterpret_cast<const char*>(datagram.data()), n);
                written += static_cast<std::size_t>(n);
            }
        }
        return written;
    }

private:
    static constexpr int kReceiveBuffer = 8 * 1024 * 1024;
    static constexpr std::size_t kMaxDatagram = 65536;
    int fd_ = -1;
    int port_ = 0;
};

} // namespace tv::test
