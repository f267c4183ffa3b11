#pragma once
// StreamListener: the listening TCP socket of the stream server, on all local
// addresses (IPv6 and IPv4 together where the machine has IPv6, IPv4 only
// otherwise). Accepts on the main thread through a SocketPoller and hands each
// new non-blocking connection to its callback. When the process runs out of
// descriptors, accepting pauses for a while instead of spinning. Owns the
// listening descriptor; main thread only.

#include "httpserver/ClientSocket.h"
#include "httpserver/SocketPoller.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace tv {

class StreamListener final : private SocketPoller::Target {
public:
    using AcceptHandler = std::function<void(std::unique_ptr<ClientSocket>)>;

    // Listens on `port` (0: any free port). The error text names the cause,
    // e.g. "Address already in use".
    static Result<std::unique_ptr<StreamListener>> listenOn(std::uint16_t port, SocketPoller& poller,
                                                            AcceptHandler onAccept);
    ~StreamListener() override;

    std::uint16_t port() const { return port_; }
    // Times accepting paused for want of descriptors.
    std::uint64_t pauses() const { return pauses_; }

    // How long accepting pauses after the process ran out of descriptors.
    static constexpr std::chrono::milliseconds kAcceptPause{500};

private:
    StreamListener(int fd, std::uint16_t port, SocketPoller& poller, AcceptHandler onAccept);
    void onPoll(std::uint32_t events) override;
    void pauseAccepting(int code);

    int fd_;
    std::uint16_t port_;
    SocketPoller& poller_;
    AcceptHandler onAccept_;
    std::uint64_t watchId_ = 0;
    bool paused_ = false;
    bool starvationLogged_ = false;
    std::uint64_t pauses_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace tv
