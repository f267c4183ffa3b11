// The stream server on real loopback sockets: what real clients receive,
// slow and misbehaving clients, and running out of descriptors.

#include "httpserver/THttpStreamer.h"
#include "integration/httpserver/LoopbackClient.h"
#include "support/NumberedStream.h"
#include "support/QtEventPump.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using tv::THttpStreamer;
using tv::test::LoopbackClient;
using tv::test::app;
using tv::test::numberedStream;
using tv::test::pumpFor;
using tv::test::pumpUntil;

namespace {

constexpr std::size_t kPacket = THttpStreamer::kTsPacketSize;
const std::string kHeader = THttpStreamer::kResponseHeader;

// Header, then an unbroken run of whole packets of `stream` from packet 0.
void expectStreamFromStart(const std::string& got, const std::vector<std::uint8_t>& stream, std::size_t expectBody)
{
    ASSERT_GE(got.size(), kHeader.size());
    EXPECT_EQ(got.compare(0, kHeader.size(), kHeader), 0);
    const std::size_t body = got.size() - kHeader.size();
    EXPECT_EQ(body, expectBody);
    ASSERT_LE(body, stream.size());
    EXPECT_TRUE(std::equal(got.begin() + static_cast<std::ptrdiff_t>(kHeader.size()), got.end(), stream.begin(),
                           [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
        << "the stream has a gap or a cut";
}

std::unique_ptr<THttpStreamer> startServer(tv::HttpStreamerOptions options = {})
{
    app();
    auto server = THttpStreamer::create(0, "Tilvaron", options);
    EXPECT_TRUE(server.ok()) << (server.ok() ? "" : server.error());
    return server.ok() ? std::move(server).value() : nullptr;
}

// The lowest free descriptor number: a limit of this makes the next open fail.
int lowestFreeDescriptor()
{
    const int probe = ::dup(0);
    ::close(probe);
    return probe;
}

} // namespace

TEST(Loopback, ListeningOnAPortInUseFails)
{
    auto first = startServer();
    ASSERT_TRUE(first);
    auto second = THttpStreamer::create(first->port(), "Tilvaron");
    ASSERT_FALSE(second.ok());
    EXPECT_NE(second.error().find("in use"), std::string::npos) << second.error();
}

TEST(Loopback, EveryRequestGetsTheHeaderAndTheWholeStream)
{
    auto server = startServer();
    ASSERT_TRUE(server);
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (const std::string& request : {std::string("GET / HTTP/1.1\r\n\r\n"), std::string("GET /any/path?x=1 HTTP/1.0\r\n\r\n"),
                                      std::string("\x16\x03\x01 not http at all\r\n", 22), std::string()}) {
        LoopbackClient::Options o;
        o.request = request;
        clients.push_back(std::make_unique<LoopbackClient>(server->port(), o));
        ASSERT_TRUE(clients.back()->connected());
    }
    ASSERT_TRUE(pumpUntil([&] { return server->clientCount() == clients.size(); }));
    for (const std::string& address : server->clientAddresses())
        EXPECT_EQ(address, "127.0.0.1");

    const auto stream = numberedStream(3000);
    const std::size_t chunk = 32768;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
        server->SendStream2HttpClients(stream.data() + at, std::min(chunk, stream.size() - at));
        QCoreApplication::processEvents();
    }
    const std::size_t sent = stream.size() / kPacket * kPacket - server->heldBytes();
    ASSERT_TRUE(pumpUntil([&] {
        return std::all_of(clients.begin(), clients.end(), [&](auto& c) { return c->total() == kHeader.size() + sent; });
    }));
    server->RemoveAllClients();
    ASSERT_TRUE(pumpUntil([&] { return std::all_of(clients.begin(), clients.end(), [](auto& c) { return c->ended(); }); }));
    for (auto& c : clients) {
        c->stop();
        expectStreamFromStart(c->data(), stream, sent);
    }
}

// A client that never reads is dropped once its backlog passes the limit,
// while a reading client receives the stream unbroken.
TEST(Loopback, ANeverReadingClientIsDroppedAndTheFastOneGetsEverything)
{
    tv::HttpStreamerOptions options;
    options.maxBacklogBytes = 1u << 20;
    auto server = startServer(options);
    ASSERT_TRUE(server);
    LoopbackClient::Options stalledOptions;
    stalledOptions.read = false;
    stalledOptions.receiveBuffer = 4096;
    LoopbackClient stalled(server->port(), stalledOptions);
    LoopbackClient fast(server->port(), {});
    ASSERT_TRUE(pumpUntil([&] { return server->clientCount() == 2; }));

    const auto stream = numberedStream(400000); // 75 MB at most
    const std::size_t chunk = 32768;
    std::size_t at = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (at < stream.size() && server->droppedClients() == 0 && std::chrono::steady_clock::now() < deadline) {
        // Keep the reading client within reach of the limit: it is the
        // stalled one that has to fall behind.
        if (at > fast.total() + options.maxBacklogBytes / 4)
            pumpUntil([&] { return at <= fast.total() + options.maxBacklogBytes / 4; });
        const std::size_t n = std::min(chunk, stream.size() - at);
        server->SendStream2HttpClients(stream.data() + at, n);
        at += n;
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(server->droppedClients(), 1u) << "after " << at << " bytes";
    ASSERT_EQ(server->clientCount(), 1u);

    const std::size_t sent = at / kPacket * kPacket;
    ASSERT_TRUE(pumpUntil([&] { return fast.total() == kHeader.size() + sent; }));
    fast.stop();
    expectStreamFromStart(fast.data(), stream, sent);
}

TEST(Loopback, ClientsThatLeaveOrSendTooMuchAreRemoved)
{
    tv::HttpStreamerOptions options;
    options.maxRequestBytes = 16 * 1024;
    auto server = startServer(options);
    ASSERT_TRUE(server);
    auto leaving = std::make_unique<LoopbackClient>(server->port(), LoopbackClient::Options{});
    LoopbackClient::Options chattyOptions;
    chattyOptions.request = std::string(64 * 1024, 'x');
    LoopbackClient chatty(server->port(), chattyOptions);
    LoopbackClient staying(server->port(), {});
    ASSERT_TRUE(pumpUntil([&] { return server->droppedClients() == 1; }));
    EXPECT_TRUE(pumpUntil([&] { return chatty.ended(); }));

    leaving.reset();
    ASSERT_TRUE(pumpUntil([&] { return server->clientCount() == 1; }));
    const auto stream = numberedStream(10);
    server->SendStream2HttpClients(stream.data(), stream.size());
    EXPECT_TRUE(pumpUntil([&] { return staying.total() == kHeader.size() + stream.size(); }));
}

// Out of descriptors: accepting pauses instead of spinning, the served
// clients go on, and the waiting ones are taken once descriptors are free.
TEST(Loopback, AcceptWaitsWhileDescriptorsRunOut)
{
    auto server = startServer();
    ASSERT_TRUE(server);
    LoopbackClient served(server->port(), {});
    ASSERT_TRUE(pumpUntil([&] { return server->clientCount() == 1; }));

    std::vector<std::unique_ptr<LoopbackClient>> waiting;
    for (int i = 0; i < 3; ++i)
        waiting.push_back(std::make_unique<LoopbackClient>(server->port(), LoopbackClient::Options{}));

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFreeDescriptor());
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    pumpFor(std::chrono::milliseconds(1500));
    const auto pauses = server->acceptPauses();
    const auto countWhileTight = server->clientCount();
    const auto stream = numberedStream(10);
    server->SendStream2HttpClients(stream.data(), stream.size());
    const bool servedGotIt = pumpUntil([&] { return served.total() == kHeader.size() + stream.size(); });
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

    EXPECT_EQ(countWhileTight, 1u);
    EXPECT_GE(pauses, 1u);
    EXPECT_LT(pauses, 50u) << "accept is spinning";
    EXPECT_TRUE(servedGotIt);
    EXPECT_TRUE(pumpUntil([&] { return server->clientCount() == 4; }));
}
