// Fan-out of the stream server on loopback: 1, 10, 100 and 500 clients that
// read as fast as they can, fed through the output sink (each chunk handed
// from an "encoder" thread to the main thread and waited for) with chunks of
// the muxer's buffer size, at 4 Mb/s and at full speed (as fast as the slowest
// client reads; the feeder keeps at most 4 MiB ahead of it).
//
// Printed per case: the main thread's CPU (percent of one core, and per
// client), what each client received, and lost or cut packets (checked by
// packet number in every packet). Baseline, side by side: a lossy fan-out of
// one non-blocking send per client and chunk whose result is ignored, the
// cheapest possible fan-out; the ratio compares main-thread CPU per delivered
// megabyte.
//
// Usage: bench_fanout [seconds per case, default 3] [max clients, default 500]

#include "httpserver/OutputSink.h"
#include "httpserver/THttpStreamer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kPacket = tv::THttpStreamer::kTsPacketSize;
constexpr std::size_t kMuxerChunk = 32768;
constexpr double kLiveBitsPerSecond = 4e6;
constexpr std::size_t kFullSpeedLead = 4u << 20;
constexpr double kTargetMainCpuPercent = 50;
const std::size_t kHeaderSize = std::strlen(tv::THttpStreamer::kResponseHeader);

// Runs the main thread's event loop (sleeping while there is nothing to do)
// until `done` holds.
template <typename Done>
void runUntil(Done done)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(5);
    if (!done())
        loop.exec();
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

std::uint8_t expectedByte(std::uint64_t packet, unsigned k)
{
    switch (k) {
    case 0: return 0x47;
    case 1: return static_cast<std::uint8_t>(packet >> 16);
    case 2: return static_cast<std::uint8_t>(packet >> 8);
    default: return static_cast<std::uint8_t>(packet);
    }
}

// One client connection, read on a reader thread.
struct Client {
    int fd = -1;
    std::atomic<std::uint64_t> received{0}; // body bytes (after the header)
    std::uint64_t headerLeft = 0;
    std::atomic<bool> corrupt{false};
    std::atomic<bool> ended{false};

    void take(const std::uint8_t* p, std::size_t n)
    {
        if (headerLeft) {
            const std::size_t h = std::min<std::size_t>(headerLeft, n);
            headerLeft -= h;
            p += h;
            n -= h;
        }
        const std::uint64_t pos = received.load(std::memory_order_relaxed);
        // Check the sync byte and packet number of every packet start.
        std::uint64_t start = pos / kPacket * kPacket;
        for (; start < pos + n; start += kPacket)
            for (unsigned k = 0; k < 4; ++k) {
                const std::uint64_t at = start + k;
                if (at >= pos && at < pos + n && p[at - pos] != expectedByte(start / kPacket, k))
                    corrupt = true;
            }
        received.store(pos + n, std::memory_order_relaxed);
    }
};

class Readers {
public:
    Readers(std::vector<std::unique_ptr<Client>>& clients, int threads) : clients_(clients)
    {
        for (int t = 0; t < threads; ++t) {
            const int ep = epoll_create1(EPOLL_CLOEXEC);
            for (std::size_t i = t; i < clients.size(); i += threads) {
                epoll_event ev{};
                ev.events = EPOLLIN;
                ev.data.ptr = clients[i].get();
                epoll_ctl(ep, EPOLL_CTL_ADD, clients[i]->fd, &ev);
            }
            threads_.emplace_back([this, ep] { run(ep); });
        }
    }
    ~Readers()
    {
        stop_ = true;
        for (auto& t : threads_)
            t.join();
    }

private:
    void run(int ep)
    {
        std::vector<std::uint8_t> buf(1 << 17);
        epoll_event events[64];
        while (!stop_) {
            const int n = epoll_wait(ep, events, 64, 50);
            for (int i = 0; i < n; ++i) {
                auto* c = static_cast<Client*>(events[i].data.ptr);
                const ssize_t r = ::recv(c->fd, buf.data(), buf.size(), MSG_DONTWAIT);
                if (r > 0) {
                    c->take(buf.data(), static_cast<std::size_t>(r));
                } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                    c->ended = true;
                    epoll_ctl(ep, EPOLL_CTL_DEL, c->fd, nullptr);
                }
            }
        }
        ::close(ep);
    }

    std::vector<std::unique_ptr<Client>>& clients_;
    std::vector<std::thread> threads_;
    std::atomic<bool> stop_{false};
};

std::vector<std::unique_ptr<Client>> connectClients(std::uint16_t port, int count)
{
    std::vector<std::unique_ptr<Client>> clients;
    const char request[] = "GET / HTTP/1.1\r\nHost: bench\r\n\r\n";
    for (int i = 0; i < count; ++i) {
        auto c = std::make_unique<Client>();
        c->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(c->fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            std::perror("connect");
            std::exit(1);
        }
        ::send(c->fd, request, sizeof request - 1, MSG_NOSIGNAL);
        c->headerLeft = kHeaderSize;
        clients.push_back(std::move(c));
    }
    return clients;
}

// The cheapest fan-out: one send per client and chunk, result ignored.
class LossyFanOut : public QObject {
public:
    explicit LossyFanOut(std::uint16_t& port)
    {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listenFd_, 1024);
        socklen_t len = sizeof addr;
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
    }
    ~LossyFanOut() override
    {
        for (int fd : fds_)
            ::close(fd);
        ::close(listenFd_);
    }
    void acceptAll(int count)
    {
        while (static_cast<int>(fds_.size()) < count) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            char discard[256];
            (void)!::recv(fd, discard, sizeof discard, MSG_DONTWAIT);
            (void)!::send(fd, tv::THttpStreamer::kResponseHeader, kHeaderSize, MSG_NOSIGNAL);
            fds_.push_back(fd);
        }
    }
    int write(const std::uint8_t* p, int n)
    {
        buffer_.insert(buffer_.end(), p, p + n);
        const std::size_t whole = buffer_.size() / kPacket * kPacket;
        if (whole == 0)
            return n;
        for (int fd : fds_)
            (void)!::send(fd, buffer_.data(), whole, MSG_NOSIGNAL | MSG_DONTWAIT);
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(whole));
        return n;
    }
    void closeAll()
    {
        for (int fd : fds_)
            ::close(fd);
        fds_.clear();
    }

private:
    int listenFd_ = -1;
    std::vector<int> fds_;
    std::vector<std::uint8_t> buffer_;
};

struct Outcome {
    double mainCpu = 0;     // seconds of main-thread CPU while feeding
    double wall = 0;        // seconds of feeding
    std::uint64_t fed = 0;  // bytes written by the feeder
    std::uint64_t minReceived = 0, maxReceived = 0, delivered = 0;
    int corrupt = 0, dropped = 0, partial = 0;
    std::uint64_t lostPackets = 0;
};

// Feeds for `seconds` and collects what the clients received.
template <typename Write>
Outcome feed(std::vector<std::unique_ptr<Client>>& clients, bool live, double seconds, Write write)
{
    Outcome o;
    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> fed{0};
    std::thread encoder([&] {
        std::vector<std::uint8_t> chunk(kMuxerChunk);
        std::uint64_t pos = 0;
        const auto start = std::chrono::steady_clock::now();
        const auto end = start + std::chrono::duration<double>(seconds);
        const double bytesPerSecond = kLiveBitsPerSecond / 8;
        while (std::chrono::steady_clock::now() < end) {
            if (live) {
                std::this_thread::sleep_until(start + std::chrono::duration<double>(pos / bytesPerSecond));
            } else {
                // As fast as the slowest connected reader goes.
                for (;;) {
                    std::uint64_t slowest = UINT64_MAX;
                    for (auto& c : clients)
                        if (!c->ended)
                            slowest = std::min<std::uint64_t>(slowest, c->received);
                    if (slowest == UINT64_MAX || pos < slowest + kFullSpeedLead || std::chrono::steady_clock::now() >= end)
                        break;
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
            }
            for (std::size_t i = 0; i < kMuxerChunk; ++i) {
                const std::uint64_t at = pos + i;
                const unsigned k = at % kPacket;
                chunk[i] = k < 4 ? expectedByte(at / kPacket, k) : static_cast<std::uint8_t>(at);
            }
            write(chunk.data(), static_cast<int>(kMuxerChunk));
            pos += kMuxerChunk;
            fed = pos;
        }
        done = true;
    });
    const double cpu0 = threadCpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    runUntil([&] { return done.load(); });
    o.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // Let the clients catch up with what was sent.
    const std::uint64_t sent = fed / kPacket * kPacket;
    const auto settle = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    runUntil([&] {
        bool all = true;
        for (auto& c : clients)
            if (!c->ended && c->received < sent)
                all = false;
        return all || std::chrono::steady_clock::now() > settle;
    });
    o.mainCpu = threadCpuSeconds() - cpu0;
    encoder.join();
    o.fed = fed;
    o.minReceived = UINT64_MAX;
    for (auto& c : clients) {
        const std::uint64_t r = c->received;
        o.minReceived = std::min(o.minReceived, r);
        o.maxReceived = std::max(o.maxReceived, r);
        o.delivered += r;
        o.corrupt += c->corrupt ? 1 : 0;
        o.dropped += c->ended ? 1 : 0;
        o.partial += (r % kPacket) != 0 ? 1 : 0;
        if (!c->ended && r < sent)
            o.lostPackets += (sent - r) / kPacket;
    }
    return o;
}

void print(const char* who, int clients, bool live, const Outcome& o, double baselineCpuPerMB)
{
    const double cpuPct = 100.0 * o.mainCpu / o.wall;
    const double cpuPerMB = o.delivered ? o.mainCpu * 1e6 / (o.delivered / 1e6) : 0; // µs per delivered MB
    std::printf("%-8s %4d clients %-10s main %6.1f%% core (%7.3f%%/client)  per client %7.2f..%7.2f MB"
                "  %6.1f Mb/s each  lost pkts %llu  cut/bad clients %d  dropped %d  main %.0f us/MB",
                who, clients, live ? "4 Mb/s" : "full", cpuPct, cpuPct / clients, o.minReceived / 1e6,
                o.maxReceived / 1e6, o.minReceived * 8 / o.wall / 1e6, static_cast<unsigned long long>(o.lostPackets),
                std::max(o.corrupt, o.partial), o.dropped, cpuPerMB);
    if (baselineCpuPerMB > 0)
        std::printf("  ratio %.2fx baseline", cpuPerMB / baselineCpuPerMB);
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const int maxClients = argc > 2 ? std::atoi(argv[2]) : 500;
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    QCoreApplication app(argc, argv);
    const int readerThreads = std::max(1u, std::min(4u, std::thread::hardware_concurrency() / 2));
    std::printf("fan-out bench: %.1f s per case, chunks of %zu bytes, %d reader threads\n", seconds, kMuxerChunk,
                readerThreads);

    for (int n : {1, 10, 100, 500}) {
        if (n > maxClients)
            break;
        for (bool live : {true, false}) {
            // Baseline: the lossy fan-out.
            double baselineCpuPerMB = 0;
            {
                std::uint16_t port = 0;
                LossyFanOut lossy(port);
                std::vector<std::unique_ptr<Client>> clients;
                std::thread connector([&] { clients = connectClients(port, n); });
                lossy.acceptAll(n);
                connector.join();
                Readers readers(clients, readerThreads);
                const Outcome o = feed(clients, live, seconds, [&](const std::uint8_t* p, int count) {
                    int r = 0;
                    QMetaObject::invokeMethod(&lossy, [&] { r = lossy.write(p, count); }, Qt::BlockingQueuedConnection);
                    return r;
                });
                lossy.closeAll();
                baselineCpuPerMB = o.delivered ? o.mainCpu * 1e6 / (o.delivered / 1e6) : 0;
                print("baseline", n, live, o, 0);
            }
            // The stream server through the output sink.
            {
                auto server = tv::THttpStreamer::create(0, "bench").value();
                tv::RecordingRingOptions ring;
                ring.folder = "/tmp/tv-bench-fanout-" + std::to_string(::getpid()) + "/";
                tv::OutputSink sink(server.get(), ring);
                sink.ring().close(); // the fan-out alone: no recording
                std::vector<std::unique_ptr<Client>> clients;
                std::thread connector([&] { clients = connectClients(server->port(), n); });
                runUntil([&] { return server->clientCount() >= static_cast<std::size_t>(n); });
                connector.join();
                Readers readers(clients, readerThreads);
                const Outcome o = feed(clients, live, seconds, [&](const std::uint8_t* p, int count) {
                    return sink.encoderWrite(p, count);
                });
                print("server", n, live, o, baselineCpuPerMB);
                if (n == 500 && live) {
                    const double pct = 100.0 * o.mainCpu / o.wall;
                    const bool met = pct < kTargetMainCpuPercent && o.lostPackets == 0 && o.corrupt == 0 && o.dropped == 0;
                    std::printf("target: 500 clients at 4 Mb/s, main thread below %.0f%% of one core, nothing lost: %s "
                                "(%.1f%%)\n",
                                kTargetMainCpuPercent, met ? "met" : "NOT met", pct);
                }
                server->RemoveAllClients();
                std::error_code ec;
                std::filesystem::remove_all(ring.folder, ec);
            }
        }
    }
    return 0;
}
