#pragma once
// ClientSocket: one accepted, non-blocking connection of the stream server, as
// THttpStreamer sees it. The real one is PosixClientSocket; tests give a fake
// to look at what each send took. Every call returns at once and runs on the
// main thread. Errors are errno values in the outcomes, never exceptions.

#include "httpserver/ClientBacklog.h"

#include <cstddef>
#include <span>
#include <string>

namespace tv {

class ClientSocketEvents;

struct SendOutcome {
    std::size_t sent = 0; // bytes the socket took now (may be fewer than offered)
    int error = 0;        // errno of a failed send; 0 when none
};

struct ReadOutcome {
    std::size_t bytes = 0;   // bytes read and thrown away
    bool peerClosed = false; // the client ended its side of the connection
    int error = 0;           // errno of a failed read; 0 when none
};

class ClientSocket {
public:
    virtual ~ClientSocket() = default;

    // Remote address as text, e.g. "127.0.0.1".
    virtual std::string remoteAddress() const = 0;
    // False once the connection is closed or known to be gone.
    virtual bool connected() const = 0;
    // Reads and discards at most `limit` bytes that have already arrived.
    virtual ReadOutcome discardIncoming(std::size_t limit) = 0;
    // Sends, in order, what the socket takes now from `pieces`.
    virtual SendOutcome sendNow(std::span<const ByteView> pieces) = 0;
    // Asks for ClientSocketEvents::ClientWritable when the socket takes more.
    virtual void setWantWritable(bool want) = 0;
    // Where readable / writable / error events go (nullptr: nowhere).
    virtual void setEvents(ClientSocketEvents* events) = 0;
    // Closes the connection; no event follows.
    virtual void close() = 0;
};

} // namespace tv
