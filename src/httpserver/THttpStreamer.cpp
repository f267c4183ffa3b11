#include "httpserver/THttpStreamer.h"

#include "common/LogEvent.h"
#include "httpserver/SocketPoller.h"
#include "httpserver/StreamListener.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cerrno>

namespace tv {

namespace {

// Pieces of a backlog offered to one send.
constexpr std::size_t kViewsPerSend = 64;
// Bytes read (and thrown away) per readable event.
constexpr std::size_t kReadSlice = 4096;

const SharedChunk& headerChunk()
{
    static const SharedChunk chunk = std::make_shared<const std::vector<std::uint8_t>>(
        THttpStreamer::kResponseHeader, THttpStreamer::kResponseHeader + sizeof THttpStreamer::kResponseHeader - 1);
    return chunk;
}

} // namespace

Result<std::unique_ptr<THttpStreamer>> THttpStreamer::create(std::uint16_t Port, std::string ATVName,
                                                             HttpStreamerOptions options)
{
    if (!QCoreApplication::instance())
        return fail("the stream server needs the program's event loop");
    auto streamer = std::make_unique<THttpStreamer>(std::move(ATVName), options);
    auto poller = SocketPoller::create();
    if (!poller)
        return fail(poller.error());
    streamer->poller_ = std::move(poller).value();
    THttpStreamer* self = streamer.get();
    auto listener = StreamListener::listenOn(Port, *streamer->poller_, [self](std::unique_ptr<ClientSocket> socket) {
        self->ServerSocketClientConnect(std::move(socket));
    });
    if (!listener)
        return fail(listener.error());
    streamer->listener_ = std::move(listener).value();
    streamer->port_ = streamer->listener_->port();
    return streamer;
}

THttpStreamer::THttpStreamer(std::string ATVName, HttpStreamerOptions options)
    : TVName(std::move(ATVName)), options_(options)
{
}

THttpStreamer::~THttpStreamer()
{
    // Connections leave the poller before it goes.
    listener_.reset();
    for (auto& client : slClients)
        client->socket->close();
    slClients.clear();
    bySocket_.clear();
    closed_.clear();
}

std::vector<std::string> THttpStreamer::clientAddresses() const
{
    std::vector<std::string> out;
    out.reserve(slClients.size());
    for (const auto& client : slClients)
        out.push_back(client->address);
    return out;
}

std::uint64_t THttpStreamer::acceptPauses() const
{
    return listener_ ? listener_->pauses() : 0;
}

void THttpStreamer::ServerSocketClientConnect(std::unique_ptr<ClientSocket> Socket)
{
    // The request is never parsed: any method, path or header, or none at all,
    // gets the stream.
    const ReadOutcome request = Socket->discardIncoming(options_.maxRequestBytes);
    const std::string address = Socket->remoteAddress();
    ClientSocket& socket = *Socket;
    WriteEventLog(address + " play " + TVName, kEventLogSuccess);
    AddClient(std::move(Socket));
    Client* client = find(socket);
    client->receivedBytes = request.bytes;
    client->backlog.push(headerChunk());
    if (request.error != 0) {
        int code = request.error;
        ServerSocketClientError(socket, code);
        return;
    }
    if (request.peerClosed) {
        ServerSocketClientDisconnect(socket);
        return;
    }
    flush(*client);
}

void THttpStreamer::ServerSocketClientDisconnect(ClientSocket& Socket)
{
    const std::string address = Socket.remoteAddress();
    RemoveClient(Socket);
    logStop(address);
}

void THttpStreamer::ServerSocketClientError(ClientSocket& Socket, int& ErrorCode)
{
    ErrorCode = 0;
    const std::string address = Socket.remoteAddress();
    RemoveClient(Socket);
    logStop(address);
}

void THttpStreamer::AddClient(std::unique_ptr<ClientSocket> Socket)
{
    auto client = std::make_unique<Client>();
    client->address = Socket->remoteAddress();
    client->socket = std::move(Socket);
    client->socket->setEvents(this);
    bySocket_[client->socket.get()] = client.get();
    slClients.push_back(std::move(client));
}

void THttpStreamer::RemoveClient(const ClientSocket& Socket)
{
    const std::size_t index = indexOf(Socket);
    if (index < slClients.size())
        closeEntry(index, false);
}

void THttpStreamer::RemoveAllClients()
{
    while (!slClients.empty()) {
        // What the socket takes now still reaches the client: the kernel
        // delivers it before the end of the connection.
        if (flush(*slClients.back()))
            closeEntry(slClients.size() - 1, true);
    }
}

void THttpStreamer::SendStream2HttpClients(const std::uint8_t* Buffer, std::size_t Count)
{
    if (Count == 0)
        return;
    // The held bytes always continue the stream just before this chunk, with
    // or without clients, so every fan-out starts on a packet boundary.
    FSendBuffer.insert(FSendBuffer.end(), Buffer, Buffer + Count);
    const std::size_t n = FSendBuffer.size() / kTsPacketSize * kTsPacketSize;
    if (n == 0)
        return;

    SharedChunk shared; // made only when some client cannot take it all now
    const ByteView whole(FSendBuffer.data(), n);
    for (std::size_t i = 0; i < slClients.size();) {
        Client& client = *slClients[i];
        if (!client.socket->connected()) {
            closeEntry(i, true);
            continue;
        }
        std::size_t taken = 0;
        if (client.backlog.empty()) {
            const SendOutcome out = client.socket->sendNow(std::span<const ByteView>(&whole, 1));
            if (out.error != 0) {
                int code = out.error;
                ServerSocketClientError(*client.socket, code);
                continue;
            }
            taken = out.sent;
        }
        if (taken < n) {
            if (!shared)
                shared = std::make_shared<const std::vector<std::uint8_t>>(FSendBuffer.begin(), FSendBuffer.begin() + n);
            const bool wasEmpty = client.backlog.empty();
            client.backlog.push(shared, taken);
            if (client.backlog.bytes() > options_.maxBacklogBytes) {
                ++dropped_;
                closeEntry(i, true);
                continue;
            }
            if (wasEmpty)
                client.socket->setWantWritable(true);
        }
        ++i;
    }
    FSendBuffer.erase(FSendBuffer.begin(), FSendBuffer.begin() + n);
}

void THttpStreamer::ClientReadable(ClientSocket& socket)
{
    Client* client = find(socket);
    if (!client)
        return;
    const ReadOutcome in = socket.discardIncoming(kReadSlice);
    if (in.error != 0) {
        int code = in.error;
        ServerSocketClientError(socket, code);
        return;
    }
    if (in.peerClosed) {
        ServerSocketClientDisconnect(socket);
        return;
    }
    client->receivedBytes += in.bytes;
    if (client->receivedBytes > options_.maxRequestBytes) {
        ++dropped_;
        closeEntry(indexOf(socket), true);
    }
}

void THttpStreamer::ClientWritable(ClientSocket& socket)
{
    if (Client* client = find(socket))
        flush(*client);
}

void THttpStreamer::ClientFailed(ClientSocket& socket, int code)
{
    if (find(socket))
        ServerSocketClientError(socket, code);
}

bool THttpStreamer::flush(Client& client)
{
    ByteView views[kViewsPerSend];
    while (!client.backlog.empty()) {
        const std::size_t count = client.backlog.views(views, kViewsPerSend);
        std::size_t offered = 0;
        for (std::size_t i = 0; i < count; ++i)
            offered += views[i].size();
        const SendOutcome out = client.socket->sendNow(std::span<const ByteView>(views, count));
        if (out.error != 0) {
            int code = out.error;
            ServerSocketClientError(*client.socket, code);
            return false;
        }
        client.backlog.consume(out.sent);
        if (out.sent < offered)
            break; // the socket is full; wait until it is writable again
    }
    client.socket->setWantWritable(!client.backlog.empty());
    return true;
}

THttpStreamer::Client* THttpStreamer::find(const ClientSocket& socket) const
{
    const auto it = bySocket_.find(&socket);
    return it == bySocket_.end() ? nullptr : it->second;
}

std::size_t THttpStreamer::indexOf(const ClientSocket& socket) const
{
    for (std::size_t i = 0; i < slClients.size(); ++i)
        if (slClients[i]->socket.get() == &socket)
            return i;
    return slClients.size();
}

void THttpStreamer::closeEntry(std::size_t index, bool log)
{
    std::unique_ptr<Client> client = std::move(slClients[index]);
    slClients.erase(slClients.begin() + static_cast<std::ptrdiff_t>(index));
    bySocket_.erase(client->socket.get());
    client->socket->setEvents(nullptr);
    client->socket->close();
    if (log)
        logStop(client->address);
    // The socket may be the one whose event is being handled right now.
    closed_.push_back(std::move(client->socket));
    scheduleCleanup();
}

void THttpStreamer::logStop(const std::string& address)
{
    WriteEventLog(address + " stop " + TVName, kEventLogSuccess);
}

void THttpStreamer::scheduleCleanup()
{
    if (cleanupPending_ || !QCoreApplication::instance())
        return;
    cleanupPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            cleanupPending_ = false;
            closed_.clear();
        },
        Qt::QueuedConnection);
}

} // namespace tv
