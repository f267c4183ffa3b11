#pragma once
// A ClientSocket whose every send can be inspected: it takes at most
// `capacity` bytes per send and records what it took. Its state is shared so
// that a test can still read it after the server closed and dropped it.

#include "httpserver/ClientSocket.h"
#include "httpserver/ClientSocketEvents.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace tv::test {

struct FakeSocketState {
    std::string address = "127.0.0.1";
    std::size_t capacity = std::numeric_limits<std::size_t>::max(); // bytes per send
    bool connected = true;
    int sendError = 0;
    std::string incoming;    // what the client "sent", waiting to be read
    bool peerClosed = false; // reads end with the end of the connection
    bool wantWritable = false;
    bool closed = false;
    std::string received;               // every byte the server sent, in order
    std::vector<std::size_t> sendSizes; // bytes taken by each non-empty send
    tv::ClientSocketEvents* events = nullptr;
    tv::ClientSocket* self = nullptr; // valid while the server holds the socket

    // The socket takes more: what the server does when the poller says so.
    void becomeWritable()
    {
        if (events && self && wantWritable)
            events->ClientWritable(*self);
    }
};

class FakeClientSocket final : public tv::ClientSocket {
public:
    explicit FakeClientSocket(std::shared_ptr<FakeSocketState> state) : s_(std::move(state)) { s_->self = this; }

    std::string remoteAddress() const override { return s_->address; }
    bool connected() const override { return s_->connected && !s_->closed; }

    tv::ReadOutcome discardIncoming(std::size_t limit) override
    {
        tv::ReadOutcome out;
        out.bytes = std::min(limit, s_->incoming.size());
        s_->incoming.erase(0, out.bytes);
        out.peerClosed = s_->incoming.empty() && s_->peerClosed;
        return out;
    }

    tv::SendOutcome sendNow(std::span<const tv::ByteView> pieces) override
    {
        tv::SendOutcome out;
        if (s_->closed) {
            out.error = EBADF;
            return out;
        }
        if (s_->sendError != 0) {
            out.error = s_->sendError;
            return out;
        }
        std::size_t room = s_->capacity;
        for (const tv::ByteView& piece : pieces) {
            const std::size_t take = std::min(room, piece.size());
            s_->received.append(reinterpret_cast<const char*>(piece.data()), take);
            out.sent += take;
            room -= take;
            if (room == 0)
                break;
        }
        if (out.sent > 0)
            s_->sendSizes.push_back(out.sent);
        return out;
    }

    void setWantWritable(bool want) override { s_->wantWritable = want; }
    void setEvents(tv::ClientSocketEvents* events) override { s_->events = events; }
    void close() override { s_->closed = true; }

private:
    std::shared_ptr<FakeSocketState> s_;
};

// Connects a fake client to `server` and returns its state.
template <typename Server>
std::shared_ptr<FakeSocketState> connectFake(Server& server, std::size_t capacity = std::numeric_limits<std::size_t>::max(),
                                             std::string request = "GET / HTTP/1.1\r\n\r\n")
{
    auto state = std::make_shared<FakeSocketState>();
    state->capacity = capacity;
    state->incoming = std::move(request);
    server.ServerSocketClientConnect(std::make_unique<FakeClientSocket>(state));
    return state;
}

} // namespace tv::test
