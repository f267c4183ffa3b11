#include "httpserver/SocketPoller.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/epoll.h>
#include <unistd.h>

namespace tv {

namespace {
constexpr int kEventsPerWait = 256;
// Waits per notifier activation; more events wait for the next loop turn so
// that timers and queued calls are not starved.
constexpr int kWaitsPerActivation = 4;
} // namespace

Result<std::unique_ptr<SocketPoller>> SocketPoller::create()
{
    const int fd = epoll_create1(EPOLL_CLOEXEC);
    if (fd < 0)
        return fail(std::string("epoll_create1: ") + std::strerror(errno));
    return std::unique_ptr<SocketPoller>(new SocketPoller(fd));
}

SocketPoller::SocketPoller(int epollFd)
    : epollFd_(epollFd), notifier_(new QSocketNotifier(epollFd, QSocketNotifier::Read, this))
{
    connect(notifier_, &QSocketNotifier::activated, this, [this] { dispatch(); });
}

SocketPoller::~SocketPoller()
{
    delete notifier_;
    ::close(epollFd_);
}

Result<std::uint64_t> SocketPoller::add(int fd, std::uint32_t events, Target* target)
{
    const std::uint64_t id = nextId_++;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = id;
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0)
        return fail(std::string("epoll_ctl: ") + std::strerror(errno));
    targets_[id] = target;
    return id;
}

void SocketPoller::modify(std::uint64_t id, int fd, std::uint32_t events)
{
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = id;
    epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd, &ev);
}

void SocketPoller::remove(std::uint64_t id, int fd)
{
    epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
    targets_.erase(id);
}

void SocketPoller::dispatch()
{
    epoll_event events[kEventsPerWait];
    for (int round = 0; round < kWaitsPerActivation; ++round) {
        const int n = epoll_wait(epollFd_, events, kEventsPerWait, 0);
        if (n <= 0)
            return;
        for (int i = 0; i < n; ++i) {
            // Looked up per event: an earlier event of this batch may have
            // removed the target.
            const auto it = targets_.find(events[i].data.u64);
            if (it != targets_.end())
                it->second->onPoll(events[i].events);
        }
        if (n < kEventsPerWait)
            return;
    }
}

} // namespace tv
