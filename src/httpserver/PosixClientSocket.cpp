#include "httpserver/PosixClientSocket.h"

#include "httpserver/ClientSocketEvents.h"

#include <algorithm>
#include <cerrno>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace tv {

namespace {
constexpr std::size_t kDiscardSlice = 4096;
// Pieces handed to one sendmsg; the kernel limit (IOV_MAX) is far above.
constexpr std::size_t kMaxIov = 64;
} // namespace

Result<std::unique_ptr<PosixClientSocket>> PosixClientSocket::adopt(int fd, std::string address,
                                                                    SocketPoller& poller)
{
    std::unique_ptr<PosixClientSocket> socket(new PosixClientSocket(fd, std::move(address), poller));
    auto id = poller.add(fd, socket->watchedEvents(), socket.get());
    if (!id)
        return fail(id.error()); // the destructor closes fd
    socket->watchId_ = id.value();
    return socket;
}

PosixClientSocket::PosixClientSocket(int fd, std::string address, SocketPoller& poller)
    : fd_(fd), address_(std::move(address)), poller_(poller)
{
}

PosixClientSocket::~PosixClientSocket() { close(); }

std::uint32_t PosixClientSocket::watchedEvents() const
{
    return EPOLLIN | EPOLLRDHUP | (wantWritable_ ? EPOLLOUT : 0u);
}

ReadOutcome PosixClientSocket::discardIncoming(std::size_t limit)
{
    ReadOutcome out;
    char sink[kDiscardSlice];
    while (fd_ >= 0 && out.bytes < limit) {
        const std::size_t want = std::min(sizeof sink, limit - out.bytes);
        const ssize_t n = ::recv(fd_, sink, want, MSG_DONTWAIT);
        if (n > 0) {
            out.bytes += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) {
            out.peerClosed = true;
            peerGone_ = true;
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
            out.error = errno;
            peerGone_ = true;
        }
        break;
    }
    return out;
}

SendOutcome PosixClientSocket::sendNow(std::span<const ByteView> pieces)
{
    SendOutcome out;
    if (fd_ < 0) {
        out.error = EBADF;
        return out;
    }
    iovec iov[kMaxIov];
    std::size_t count = 0;
    for (const ByteView& piece : pieces) {
        if (count == kMaxIov)
            break;
        if (piece.empty())
            continue;
        iov[count].iov_base = const_cast<std::uint8_t*>(piece.data());
        iov[count].iov_len = piece.size();
        ++count;
    }
    if (count == 0)
        return out;
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = count;
    for (;;) {
        const ssize_t n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            out.sent = static_cast<std::size_t>(n);
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
            out.error = errno;
            peerGone_ = true;
        }
        return out;
    }
}

void PosixClientSocket::setWantWritable(bool want)
{
    if (want == wantWritable_ || fd_ < 0)
        return;
    wantWritable_ = want;
    poller_.modify(watchId_, fd_, watchedEvents());
}

void PosixClientSocket::close()
{
    if (fd_ < 0)
        return;
    if (watchId_ != 0)
        poller_.remove(watchId_, fd_);
    ::close(fd_);
    fd_ = -1;
}

void PosixClientSocket::onPoll(std::uint32_t events)
{
    if (!events_)
        return;
    if (events & EPOLLERR) {
        int code = 0;
        socklen_t len = sizeof code;
        if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &code, &len) != 0 || code == 0)
            code = EPIPE;
        peerGone_ = true;
        events_->ClientFailed(*this, code);
        return;
    }
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP))
        events_->ClientReadable(*this);
    // The readable handler may have closed the connection.
    if (fd_ >= 0 && (events & EPOLLOUT) && wantWritable_)
        events_->ClientWritable(*this);
}

} // namespace tv
