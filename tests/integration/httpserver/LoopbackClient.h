#pragma once
// A plain blocking TCP client on its own thread for the stream server's
// loopback tests: connects to 127.0.0.1, sends its request, then reads
// (or not) until the server closes the connection or it is told to stop.
// What it read is kept for the test to check after stop().

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tv::test {

class LoopbackClient {
public:
    struct Options {
        std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        bool read = true;        // false: never reads a byte
        int receiveBuffer = 0;   // SO_RCVBUF before connecting; 0: the system's
        std::size_t keep = 1u << 30; // bytes kept for inspection (the rest only counted)
    };

    LoopbackClient(std::uint16_t port, Options options) : options_(std::move(options))
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (options_.receiveBuffer > 0)
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &options_.receiveBuffer, sizeof options_.receiveBuffer);
        timeval tv{0, 200 * 1000}; // wake up now and then to notice stop()
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (connected_ && !options_.request.empty())
            ::send(fd_, options_.request.data(), options_.request.size(), MSG_NOSIGNAL);
        thread_ = std::thread([this] { run(); });
    }

    ~LoopbackClient() { stop(); }

    bool connected() const { return connected_; }
    bool ended() const { return ended_; }  // the server closed the connection
    std::uint64_t total() const { return total_; }

    void stop()
    {
        stopping_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    // Only after stop().
    const std::string& data() const { return data_; }

private:
    void run()
    {
        char buf[65536];
        while (connected_ && !stopping_) {
            if (!options_.read) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n > 0) {
                total_ += static_cast<std::uint64_t>(n);
                if (data_.size() < options_.keep)
                    data_.append(buf, std::min<std::size_t>(static_cast<std::size_t>(n), options_.keep - data_.size()));
            } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                ended_ = true;
                return;
            }
        }
    }

    Options options_;
    int fd_ = -1;
    bool connected_ = false;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> ended_{false};
    std::atomic<std::uint64_t> total_{0};
    std::string data_;
    std::thread thread_;
};

} // namespace tv::test
