#pragma once
// SocketPoller: one epoll set watched from the main thread's Qt event loop
// through a single QSocketNotifier, so that hundreds of connections cost one
// notifier. Owns the epoll descriptor; does not own the watched descriptors or
// their targets. Main thread only. A target removed while events are being
// dispatched receives none of the events still pending for it.

#include "common/Result.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <unordered_map>

class QSocketNotifier;

namespace tv {

class SocketPoller : public QObject {
public:
    class Target {
    public:
        virtual ~Target() = default;
        // `events` is the epoll event mask (EPOLLIN, EPOLLOUT, ...).
        virtual void onPoll(std::uint32_t events) = 0;
    };

    static Result<std::unique_ptr<SocketPoller>> create();
    ~SocketPoller() override;

    // Starts watching `fd` for `events`; the returned id names the watch.
    Result<std::uint64_t> add(int fd, std::uint32_t events, Target* target);
    void modify(std::uint64_t id, int fd, std::uint32_t events);
    void remove(std::uint64_t id, int fd);

private:
    explicit SocketPoller(int epollFd);
    void dispatch();

    int epollFd_;
    QSocketNotifier* notifier_;
    std::unordered_map<std::uint64_t, Target*> targets_;
    std::uint64_t nextId_ = 1;
};

} // namespace tv
