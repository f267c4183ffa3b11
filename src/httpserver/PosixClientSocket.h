#pragma once
// PosixClientSocket: an accepted TCP connection on a non-blocking descriptor,
// watched by a SocketPoller. Owns the descriptor (closed by close() or the
// destructor). Main thread only; sends use MSG_NOSIGNAL so a vanished client
// is an EPIPE outcome, never a signal.

#include "httpserver/ClientSocket.h"
#include "httpserver/SocketPoller.h"

#include <cstdint>
#include <string>

namespace tv {

class PosixClientSocket final : public ClientSocket, private SocketPoller::Target {
public:
    // Takes `fd` (already non-blocking). Fails when the poller refuses it; the
    // descriptor is closed then.
    static Result<std::unique_ptr<PosixClientSocket>> adopt(int fd, std::string address,
                                                            SocketPoller& poller);
    ~PosixClientSocket() override;

    std::string remoteAddress() const override { return address_; }
    bool connected() const override { return fd_ >= 0 && !peerGone_; }
    ReadOutcome discardIncoming(std::size_t limit) override;
    SendOutcome sendNow(std::span<const ByteView> pieces) override;
    void setWantWritable(bool want) override;
    void setEvents(ClientSocketEvents* events) override { events_ = events; }
    void close() override;

private:
    PosixClientSocket(int fd, std::string address, SocketPoller& poller);
    void onPoll(std::uint32_t events) override;
    std::uint32_t watchedEvents() const;

    int fd_;
    std::string address_;
    SocketPoller& poller_;
    std::uint64_t watchId_ = 0;
    ClientSocketEvents* events_ = nullptr;
    bool wantWritable_ = false;
    bool peerGone_ = false;
};

} // namespace tv
