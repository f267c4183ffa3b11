#include "httpserver/StreamListener.h"

#include "httpserver/PosixClientSocket.h"
#include "common/LogEvent.h"

#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tv {

namespace {

constexpr int kListenBacklog = 128;
// Connections taken per readiness report, so that a flood of connects cannot
// hold the main thread.
constexpr int kAcceptsPerEvent = 64;

std::string addressText(const sockaddr_storage& addr)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&addr);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    } else if (addr.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&addr);
        if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr))
            inet_ntop(AF_INET, &in6->sin6_addr.s6_addr[12], text, sizeof text);
        else
            inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    }
    return text;
}

// A listening socket on all addresses, or -1 with errno set.
int openListening(int family, std::uint16_t port)
{
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    const int off = 0;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    int rc;
    if (family == AF_INET6) {
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        sockaddr_in6 addr{};
        addr.sin6_family = AF_INET6;
        addr.sin6_addr = in6addr_any;
        addr.sin6_port = htons(port);
        rc = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    } else {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        addr.sin_port = htons(port);
        rc = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    if (rc == 0)
        rc = ::listen(fd, kListenBacklog);
    if (rc != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

} // namespace

Result<std::unique_ptr<StreamListener>> StreamListener::listenOn(std::uint16_t port, SocketPoller& poller,
                                                                 AcceptHandler onAccept)
{
    int fd = openListening(AF_INET6, port);
    if (fd < 0 && (errno == EAFNOSUPPORT || errno == EADDRNOTAVAIL || errno == EPROTONOSUPPORT))
        fd = openListening(AF_INET, port);
    if (fd < 0)
        return fail(std::strerror(errno));

    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    const std::uint16_t actual = bound.ss_family == AF_INET6
        ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
        : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);

    std::unique_ptr<StreamListener> listener(new StreamListener(fd, actual, poller, std::move(onAccept)));
    auto id = poller.add(fd, EPOLLIN, listener.get());
    if (!id)
        return fail(id.error());
    listener->watchId_ = id.value();
    return listener;
}

StreamListener::StreamListener(int fd, std::uint16_t port, SocketPoller& poller, AcceptHandler onAccept)
    : fd_(fd), port_(port), poller_(poller), onAccept_(std::move(onAccept))
{
}

StreamListener::~StreamListener()
{
    *alive_ = false;
    if (watchId_ != 0)
        poller_.remove(watchId_, fd_);
    ::close(fd_);
}

void StreamListener::onPoll(std::uint32_t)
{
    for (int i = 0; i < kAcceptsPerEvent && !paused_; ++i) {
        sockaddr_storage peer{};
        socklen_t len = sizeof peer;
        const int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            const int code = errno;
            if (code == EAGAIN || code == EWOULDBLOCK)
                return;
            if (code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM)
                pauseAccepting(code);
            // Anything else (a connection aborted before it was taken, ...)
            // concerns that connection only.
            continue;
        }
        starvationLogged_ = false;
        auto socket = PosixClientSocket::adopt(fd, addressText(peer), poller_);
        if (socket)
            onAccept_(std::move(socket).value());
    }
}

void StreamListener::pauseAccepting(int code)
{
    // The pending connection stays in the kernel's queue; while it does, the
    // listening socket stays readable, so stop watching it for a while.
    if (!starvationLogged_) {
        starvationLogged_ = true;
        WriteEventLog("Cannot accept a client on port " + std::to_string(port_) + ": " + std::strerror(code),
                      kEventLogError);
    }
    paused_ = true;
    ++pauses_;
    poller_.modify(watchId_, fd_, 0);
    QTimer::singleShot(kAcceptPause, &poller_, [this, alive = alive_] {
        if (!*alive)
            return;
        paused_ = false;
        poller_.modify(watchId_, fd_, EPOLLIN);
    });
}

} // namespace tv
