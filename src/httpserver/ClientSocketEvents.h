#pragma once
// ClientSocketEvents: what a ClientSocket reports, on the main thread. The
// receiver may close (but must not destroy) the socket inside a call.

namespace tv {

class ClientSocket;

class ClientSocketEvents {
public:
    virtual ~ClientSocketEvents() = default;
    // Bytes, the end of the connection or both have arrived.
    virtual void ClientReadable(ClientSocket& socket) = 0;
    // The socket takes more bytes (only while asked for with setWantWritable).
    virtual void ClientWritable(ClientSocket& socket) = 0;
    // The connection failed with errno `code`.
    virtual void ClientFailed(ClientSocket& socket, int code) = 0;
};

} // namespace tv
