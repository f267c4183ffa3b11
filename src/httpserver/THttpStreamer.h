#pragma once
// THttpStreamer: the built-in HTTP stream server. Every TCP client of the port
// gets the fixed response header and then the live transport stream from the
// next whole packet on, for as long as it stays connected; nothing earlier is
// replayed.
//
// Fan-out: each chunk is cut at a multiple of the 188-byte packet size and
// shared by reference between the clients that still have to send it. A
// client's socket takes what it can at once; the rest waits in that client's
// backlog and goes out when the socket becomes writable, so a fast client never
// waits for a slow one and the main thread never blocks on a send. A client
// whose backlog passes the limit is closed with its " stop " entry: what every
// client receives is the unbroken stream, whole packets only, until it leaves.
//
// Owns its listening socket, the poller and every client connection. Lives on
// the main thread and is called only there (socket events, and the output
// sink's fan-out). Failure to listen is the error of create(); failures of a
// client only remove that client.

#include "common/Result.h"
#include "httpserver/ClientBacklog.h"
#include "httpserver/ClientSocket.h"
#include "httpserver/ClientSocketEvents.h"

#include <QObject>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tv {

class SocketPoller;
class StreamListener;

struct HttpStreamerOptions {
    // Bytes one client may have waiting before it is dropped.
    std::size_t maxBacklogBytes = 8u << 20;
    // Bytes a client may send us over its whole connection (its request and
    // anything after it) before it is dropped.
    std::size_t maxRequestBytes = 16u << 10;
};

class THttpStreamer : public QObject, private ClientSocketEvents {
public:
    static constexpr std::size_t kTsPacketSize = 188;
    static constexpr char kResponseHeader[] =
        "HTTP/1.1 200 OK\r\nContent-Type: video/MP2T\r\nConnection: keep-alive\r\nConnection: no-cache\r\n\r\n";

    // Listens on all local addresses at `Port` (0: a free port, see port()),
    // served by the calling thread's Qt event loop (the application's object
    // must exist). The error text says why listening failed (port in use, no
    // permission).
    static Result<std::unique_ptr<THttpStreamer>> create(std::uint16_t Port, std::string ATVName,
                                                         HttpStreamerOptions options = {});
    // A server without a listening socket: clients come only through
    // ServerSocketClientConnect (tests, other socket layers).
    explicit THttpStreamer(std::string ATVName, HttpStreamerOptions options = {});
    ~THttpStreamer() override;

    THttpStreamer(const THttpStreamer&) = delete;
    THttpStreamer& operator=(const THttpStreamer&) = delete;

    const std::string TVName;

    std::uint16_t port() const { return port_; }

    // A new connection: discards what it sent so far, queues the header, logs
    // " play " and adds it.
    void ServerSocketClientConnect(std::unique_ptr<ClientSocket> Socket);
    // The client closed its side: removes it and logs " stop ".
    void ServerSocketClientDisconnect(ClientSocket& Socket);
    // The connection failed: ErrorCode := 0, removes it, logs " stop ".
    void ServerSocketClientError(ClientSocket& Socket, int& ErrorCode);

    void AddClient(std::unique_ptr<ClientSocket> Socket);
    // Closes and removes the first entry with this connection; nothing when none.
    void RemoveClient(const ClientSocket& Socket);
    // Ends every connection (with its " stop " entry) after one last send of
    // what its socket takes now, and empties the list.
    void RemoveAllClients();

    // Hands one chunk of the stream to every client (see the header comment).
    void SendStream2HttpClients(const std::uint8_t* Buffer, std::size_t Count);

    // Looking in, for the console and the tests.
    std::size_t clientCount() const { return slClients.size(); }
    std::vector<std::string> clientAddresses() const;
    std::size_t backlogBytes(std::size_t index) const { return slClients.at(index)->backlog.bytes(); }
    // Bytes of a packet not yet complete, held for the next chunk (< 188).
    std::size_t heldBytes() const { return FSendBuffer.size(); }
    // Clients closed because they fell too far behind or sent too much.
    std::uint64_t droppedClients() const { return dropped_; }
    // Times accepting paused because the process ran out of descriptors.
    std::uint64_t acceptPauses() const;

private:
    struct Client {
        std::string address;
        std::unique_ptr<ClientSocket> socket;
        ClientBacklog backlog;
        std::size_t receivedBytes = 0;
    };

    void ClientReadable(ClientSocket& socket) override;
    void ClientWritable(ClientSocket& socket) override;
    void ClientFailed(ClientSocket& socket, int code) override;

    Client* find(const ClientSocket& socket) const;
    std::size_t indexOf(const ClientSocket& socket) const;
    // Sends what the client's socket takes now from its backlog; false when
    // the client failed and is gone.
    bool flush(Client& client);
    void closeEntry(std::size_t index, bool log);
    void logStop(const std::string& address);
    void scheduleCleanup();

    HttpStreamerOptions options_;
    std::uint16_t port_ = 0;
    std::vector<std::unique_ptr<Client>> slClients;
    std::unordered_map<const ClientSocket*, Client*> bySocket_;
    std::vector<std::uint8_t> FSendBuffer;
    // Closed connections whose objects may still be on the call stack.
    std::vector<std::unique_ptr<ClientSocket>> closed_;
    bool cleanupPending_ = false;
    std::uint64_t dropped_ = 0;
    std::unique_ptr<SocketPoller> poller_;
    std::unique_ptr<StreamListener> listener_;
};

} // namespace tv
