// The stream server's fan-out and client handling against an inspectable
// socket layer: what every client receives, chunk by chunk.

#include "httpserver/THttpStreamer.h"
#include "unit/httpserver/FakeClientSocket.h"
#include "support/NumberedStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

using tv::THttpStreamer;
using tv::test::connectFake;
using tv::test::FakeSocketState;
using tv::test::numberedStream;

namespace {

constexpr std::size_t kPacket = THttpStreamer::kTsPacketSize;
const std::string kHeader = THttpStreamer::kResponseHeader;

// What followed the header must be whole packets of `stream`, consecutive,
// starting at a packet boundary. Returns the number of the first packet.
std::size_t expectWholePackets(const std::string& received, const std::vector<std::uint8_t>& stream)
{
    EXPECT_EQ(received.compare(0, kHeader.size(), kHeader), 0) << "no header first";
    const std::string body = received.substr(std::min(received.size(), kHeader.size()));
    EXPECT_EQ(body.size() % kPacket, 0u) << "a packet was cut";
    if (body.empty())
        return 0;
    const std::size_t first = tv::test::packetNumber(body.data());
    const std::size_t start = first * kPacket;
    if (start + body.size() > stream.size()) {
        ADD_FAILURE() << "more bytes than the stream has";
        return first;
    }
    const auto at = std::mismatch(body.begin(), body.end(), stream.begin() + static_cast<std::ptrdiff_t>(start),
                                  [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
    EXPECT_TRUE(at.first == body.end()) << "the stream has a gap or a cut at byte " << (at.first - body.begin());
    return first;
}

void feed(THttpStreamer& server, const std::vector<std::uint8_t>& stream, std::size_t& offset, std::size_t count)
{
    server.SendStream2HttpClients(stream.data() + offset, count);
    offset += count;
}

} // namespace

struct ChunkCase {
    const char* name;
    std::vector<std::size_t> chunks;
    std::vector<std::size_t> sends; // bytes sent by each fan-out that sent
    std::size_t held;               // bytes held for the next chunk
};

class FanOutChunks : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(FanOutChunks, SendsWholePacketsAndHoldsTheRest)
{
    const ChunkCase& c = GetParam();
    THttpStreamer server("Tilvaron");
    auto client = connectFake(server);
    ASSERT_EQ(client->received, kHeader);
    client->sendSizes.clear();

    const auto stream = numberedStream(400);
    std::size_t offset = 0;
    for (std::size_t n : c.chunks)
        feed(server, stream, offset, n);

    EXPECT_EQ(client->sendSizes, c.sends);
    EXPECT_EQ(server.heldBytes(), c.held);
    EXPECT_EQ(client->received.size(), kHeader.size() + offset - c.held);
    expectWholePackets(client->received, stream);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FanOutChunks,
    ::testing::Values(ChunkCase{"TwoChunksOf1000", {1000, 1000}, {940, 940}, 120},
                      ChunkCase{"ShortChunkWaits", {100}, {}, 100},
                      ChunkCase{"ShortChunksJoin", {100, 100}, {188}, 12},
                      ChunkCase{"ExactPacket", {188}, {188}, 0},
                      ChunkCase{"PacketsThenOneByte", {376, 1}, {376}, 1},
                      ChunkCase{"MuxerBufferSize", {32768, 32768}, {32712, 32712}, 112}),
    [](const auto& info) { return info.param.name; });

TEST(FanOut, DropsChunksWithoutClientsButKeepsPacketBoundaries)
{
    THttpStreamer server("Tilvaron");
    const auto stream = numberedStream(64);
    std::size_t offset = 0;
    feed(server, stream, offset, 1000); // nobody listens: dropped, 60 bytes held
    EXPECT_EQ(server.heldBytes(), 60u);

    auto client = connectFake(server);
    feed(server, stream, offset, 1000);
    // The held bytes continue the stream, so the newcomer starts at packet 5.
    EXPECT_EQ(expectWholePackets(client->received, stream), 5u);
    EXPECT_EQ(client->received.size(), kHeader.size() + 2000 - 120 - 5 * kPacket);
}

TEST(FanOut, RemovesAClientThatIsGoneAndStillServesTheNext)
{
    THttpStreamer server("Tilvaron");
    auto gone = connectFake(server);
    auto alive = connectFake(server);
    gone->address = "10.0.0.1";
    gone->connected = false;
    const auto stream = numberedStream(16);
    std::size_t offset = 0;
    feed(server, stream, offset, 1000);

    EXPECT_TRUE(gone->closed);
    EXPECT_EQ(server.clientCount(), 1u);
    EXPECT_EQ(alive->received.size(), kHeader.size() + 940);
}

TEST(FanOut, AFailedSendRemovesThatClientOnly)
{
    THttpStreamer server("Tilvaron");
    auto broken = connectFake(server);
    auto alive = connectFake(server);
    broken->sendError = EPIPE;
    const auto stream = numberedStream(16);
    std::size_t offset = 0;
    feed(server, stream, offset, 1000);

    EXPECT_TRUE(broken->closed);
    EXPECT_EQ(server.clientCount(), 1u);
    expectWholePackets(alive->received, stream);
    EXPECT_EQ(alive->received.size(), kHeader.size() + 940);
}

TEST(FanOut, ASlowClientGetsTheRestWhenItsSocketTakesMore)
{
    THttpStreamer server("Tilvaron");
    auto slow = connectFake(server, 500); // takes 500 bytes per send
    auto fast = connectFake(server);
    EXPECT_TRUE(slow->received == kHeader);

    const auto stream = numberedStream(64);
    std::size_t offset = 0;
    for (int i = 0; i < 5; ++i)
        feed(server, stream, offset, 1000);
    EXPECT_EQ(fast->received.size(), kHeader.size() + 5000 / kPacket * kPacket);
    EXPECT_TRUE(slow->wantWritable);
    EXPECT_LT(slow->received.size(), fast->received.size());
    EXPECT_GT(server.backlogBytes(0), 0u);

    for (int i = 0; i < 20 && slow->wantWritable; ++i)
        slow->becomeWritable();
    EXPECT_FALSE(slow->wantWritable);
    EXPECT_EQ(server.backlogBytes(0), 0u);
    EXPECT_EQ(slow->received, fast->received);
    expectWholePackets(slow->received, stream);
}

TEST(FanOut, AClientWhoseBacklogOverflowsIsDroppedWhileOthersGoOn)
{
    tv::HttpStreamerOptions options;
    options.maxBacklogBytes = 10 * 1024;
    THttpStreamer server("Tilvaron", options);
    auto stalled = connectFake(server, 0); // never takes a byte
    auto fast = connectFake(server);

    const auto stream = numberedStream(200);
    std::size_t offset = 0;
    while (offset + 1000 <= stream.size())
        feed(server, stream, offset, 1000);

    EXPECT_TRUE(stalled->closed);
    EXPECT_TRUE(stalled->received.empty());
    EXPECT_EQ(server.droppedClients(), 1u);
    ASSERT_EQ(server.clientCount(), 1u);
    EXPECT_EQ(expectWholePackets(fast->received, stream), 0u);
    EXPECT_EQ(fast->received.size(), kHeader.size() + offset - server.heldBytes());
}

// Random chunk sizes, clients that join late and clients whose sockets take
// random amounts: each receives an unbroken run of whole packets.
TEST(FanOut, EveryClientReceivesAnUnbrokenRunOfWholePackets)
{
    THttpStreamer server("Tilvaron");
    std::mt19937 rng(12345);
    const auto stream = numberedStream(4000);
    std::vector<std::shared_ptr<FakeSocketState>> clients;
    std::size_t offset = 0;
    while (offset < stream.size()) {
        if (clients.size() < 8 && rng() % 20 == 0)
            clients.push_back(connectFake(server, 1 + rng() % 3000));
        const std::size_t n = std::min<std::size_t>(stream.size() - offset, 1 + rng() % 5000);
        feed(server, stream, offset, n);
        for (auto& c : clients)
            if (rng() % 2)
                c->becomeWritable();
    }
    for (auto& c : clients)
        for (int i = 0; i < 10000 && c->wantWritable; ++i)
            c->becomeWritable();

    ASSERT_GT(clients.size(), 3u);
    for (auto& c : clients) {
        EXPECT_FALSE(c->closed);
        const std::size_t first = expectWholePackets(c->received, stream);
        EXPECT_EQ(kHeader.size() + stream.size() - first * kPacket, c->received.size());
    }
}

TEST(Clients, AnyRequestGetsTheSameHeaderAndStream)
{
    THttpStreamer server("Tilvaron");
    auto plain = connectFake(server);
    auto path = connectFake(server, SIZE_MAX, "GET /some/where?x=1 HTTP/1.0\r\nHost: a\r\n\r\n");
    auto garbage = connectFake(server, SIZE_MAX, std::string("\x16\x03\x01\x00\xff junk", 10));
    auto silent = connectFake(server, SIZE_MAX, "");
    const auto stream = numberedStream(16);
    std::size_t offset = 0;
    feed(server, stream, offset, 1500);

    EXPECT_EQ(server.clientCount(), 4u);
    for (auto* c : {&plain, &path, &garbage, &silent}) {
        EXPECT_TRUE((*c)->incoming.empty());
        EXPECT_EQ((*c)->received, plain->received);
    }
    EXPECT_EQ(plain->received.substr(0, kHeader.size()),
              "HTTP/1.1 200 OK\r\nContent-Type: video/MP2T\r\nConnection: keep-alive\r\nConnection: no-cache\r\n\r\n");
}

TEST(Clients, AClientThatKeepsSendingIsDroppedAndReadsAreBounded)
{
    tv::HttpStreamerOptions options;
    options.maxRequestBytes = 4096;
    THttpStreamer server("Tilvaron", options);
    auto chatty = connectFake(server, SIZE_MAX, std::string(3000, 'x'));
    EXPECT_EQ(server.clientCount(), 1u);
    chatty->incoming = std::string(100000, 'y');
    for (int i = 0; i < 100 && !chatty->closed; ++i)
        chatty->events->ClientReadable(*chatty->self);
    EXPECT_TRUE(chatty->closed);
    EXPECT_EQ(server.clientCount(), 0u);
    // It was dropped once past the limit, not after reading all it sent.
    EXPECT_GT(chatty->incoming.size(), 90000u);
}

TEST(Clients, DisconnectErrorAndRemoveAll)
{
    THttpStreamer server("Tilvaron");
    auto a = connectFake(server);
    auto b = connectFake(server);
    auto c = connectFake(server);
    auto d = connectFake(server);
    ASSERT_EQ(server.clientCount(), 4u);

    a->peerClosed = true;
    a->events->ClientReadable(*a->self);
    EXPECT_TRUE(a->closed);
    EXPECT_EQ(server.clientCount(), 3u);

    int code = ECONNRESET;
    server.ServerSocketClientError(*b->self, code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(b->closed);
    // A second report for the same connection finds nothing to remove.
    server.ServerSocketClientDisconnect(*b->self);
    EXPECT_EQ(server.clientCount(), 2u);

    server.RemoveAllClients();
    EXPECT_EQ(server.clientCount(), 0u);
    EXPECT_TRUE(c->closed);
    EXPECT_TRUE(d->closed);
}

TEST(Clients, RemoveAllSendsWhatEachSocketTakesBeforeClosing)
{
    THttpStreamer server("Tilvaron");
    auto behind = connectFake(server, 500);
    const auto stream = numberedStream(16);
    std::size_t offset = 0;
    feed(server, stream, offset, 2000);
    ASSERT_GT(server.backlogBytes(0), 0u);

    behind->capacity = SIZE_MAX; // the socket has room again
    server.RemoveAllClients();
    EXPECT_TRUE(behind->closed);
    EXPECT_EQ(behind->received.size(), kHeader.size() + 2000 / kPacket * kPacket);
    expectWholePackets(behind->received, stream);
}
