// The channels between two real processes: the peer program writes and this
// test reads, and the other way round.
#include "channels/TALMailSlot.h"
#include "channels/TAudioShare.h"
#include "channels/TShareFileMap.h"
#include "platform/DatagramMailbox.h"
#include "platform/Process.h"
#include "platform/SharedMemory.h"
#include "support/ChildEnd.h"
#include "support/QtEventPump.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tv;
using tv::platform::Process;
using tv::test::pumpUntil;

namespace {

const std::string kPeer = std::string(TILVARON_BIN_DIR) + "/channels_peer";

std::string uniqueName(const std::string& tag) { return "tv2p" + std::to_string(getpid()) + tag; }

std::uint8_t streamByte(std::size_t i) { return static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF); }

// Waits (bounded only to stay alive) for the peer's exit code; -1 if it never ends.
int exitCodeOf(Process& p)
{
    if (auto s = tv::test::waitForEnd(p, std::chrono::seconds(30)))
        return s->exited ? s->code : 128 + s->signal;
    p.kill();
    return -1;
}

class ChannelsTwoProcess : public testing::Test {
protected:
    static void SetUpTestSuite() { tv::test::app(); }
};

} // namespace

TEST_F(ChannelsTwoProcess, PictureWrittenByThePeerReachesTheEngine)
{
    const std::string name = uniqueName("f1");
    auto engine = TShareFileMap::Create(name, true, 0);
    ASSERT_TRUE(engine) << engine.error();
    const int w = 721, h = 577; // odd sizes: chroma planes round up
    auto peer = Process::spawn(kPeer, {"frame-write", name, std::to_string(w), std::to_string(h), "40"});
    ASSERT_TRUE(peer) << peer.error();
    ASSERT_EQ(exitCodeOf(*peer), 0);
    const std::size_t luma = static_cast<std::size_t>(w) * h, chroma = 361u * 289u;
    std::vector<std::uint8_t> f(TShareFileMap::FrameSize(w, h) + 16, 0xEE);
    ASSERT_EQ(engine.value()->ReadFromSharedMem(f.data(), static_cast<std::int32_t>(f.size())),
              static_cast<std::int32_t>(f.size()));
    EXPECT_TRUE(std::all_of(f.begin(), f.begin() + luma, [](auto b) { return b == 40; }));
    EXPECT_TRUE(std::all_of(f.begin() + luma, f.begin() + luma + chroma, [](auto b) { return b == 41; }));
    EXPECT_TRUE(std::all_of(f.begin() + luma + chroma, f.begin() + luma + 2 * chroma, [](auto b) { return b == 42; }));
    EXPECT_TRUE(std::all_of(f.end() - 16, f.end(), [](auto b) { return b == 0; })) << "written past F";
    engine.value()->UnlinkSharedFileMapping();
}

TEST_F(ChannelsTwoProcess, PictureWrittenHereReachesThePeer)
{
    const std::string name = uniqueName("f2");
    auto engine = TShareFileMap::Create(name, true, 0);
    ASSERT_TRUE(engine) << engine.error();
    auto peer = Process::spawn(kPeer, {"frame-read", name, "1920", "1080", "7"});
    ASSERT_TRUE(peer) << peer.error();
    auto writer = TShareFileMap::Create(name, false, 0);
    ASSERT_TRUE(writer) << writer.error();
    std::vector<std::uint8_t> y(1920 * 1080, 7), u(960 * 540, 8), v(960 * 540, 9);
    const std::uint8_t* planes[3] = {y.data(), u.data(), v.data()};
    const int linesizes[3] = {1920, 960, 960};
    ASSERT_TRUE(writer.value()->WritePlanes(planes, linesizes, 1920, 1080));
    EXPECT_EQ(exitCodeOf(*peer), 0);
    engine.value()->UnlinkSharedFileMapping();
}

TEST_F(ChannelsTwoProcess, PeerFindsNoChannelThatWasNeverCreated)
{
    auto peer = Process::spawn(kPeer, {"frame-write", uniqueName("none"), "16", "16", "1"});
    ASSERT_TRUE(peer) << peer.error();
    EXPECT_EQ(exitCodeOf(*peer), 3);
    auto audio = Process::spawn(kPeer, {"audio-write", uniqueName("none")});
    ASSERT_TRUE(audio) << audio.error();
    EXPECT_EQ(exitCodeOf(*audio), 3);
}

TEST_F(ChannelsTwoProcess, SecondPublishedByThePeerReachesTheEngine)
{
    const std::string name = uniqueName("a1");
    auto engine = TAudioShare::Create(name, true, 0);
    ASSERT_TRUE(engine) << engine.error();
    auto peer = Process::spawn(kPeer, {"audio-write", name});
    ASSERT_TRUE(peer) << peer.error();
    ASSERT_EQ(exitCodeOf(*peer), 0);
    std::vector<std::uint8_t> second(TAudioShare::kBlockSize);
    engine.value()->ReadFromSharedMem(second.data(), TAudioShare::kBlockSize); // the silence in hand
    EXPECT_FALSE(engine.value()->IsReaded());
    engine.value()->ReadFromSharedMem(second.data(), TAudioShare::kBlockSize);
    EXPECT_TRUE(engine.value()->IsReaded());
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < second.size(); ++i)
        wrong += second[i] != streamByte(i);
    EXPECT_EQ(wrong, 0u);
    engine.value()->UnlinkSharedFileMapping();
}

TEST_F(ChannelsTwoProcess, SecondPublishedHereReachesThePeer)
{
    const std::string name = uniqueName("a2");
    auto peer = Process::spawn(kPeer, {"audio-read", name});
    ASSERT_TRUE(peer) << peer.error();
    // The peer has finished creating its channel once the flag reads 'R'
    // (a new update block starts as zero bytes).
    std::unique_ptr<TAudioShare> writer;
    for (int i = 0; i < 2000 && !writer; ++i) {
        auto w = TAudioShare::Create(name, false, 0);
        ASSERT_TRUE(w) << w.error();
        if (w.value()->SharedData && w.value()->IsReaded())
            writer = std::move(w).value();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(writer) << "the peer never created its channel";
    std::vector<std::uint8_t> chunk(4096);
    bool updated = false;
    for (std::size_t n = 0; n < 47; ++n) {
        for (std::size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = streamByte(n * chunk.size() + i);
        writer->Write2SharedMem2(chunk.data(), static_cast<std::int32_t>(chunk.size()), updated);
    }
    ASSERT_TRUE(updated);
    EXPECT_EQ(exitCodeOf(*peer), 0);
}

TEST_F(ChannelsTwoProcess, CloseReachesAPeerAndItsNameIsInUseMeanwhile)
{
    const QString box = QString::number(getpid() % 1000000) + "c";
    auto peer = Process::spawn(kPeer, {"mail-wait", box.toStdString()});
    ASSERT_TRUE(peer) << peer.error();
    // Wait until the peer owns the mailbox: a second messenger stays inactive.
    TALMailSlot second;
    second.SetCheckInterval(1);
    second.SetMailBox(box);
    bool inUse = false;
    for (int i = 0; i < 2000 && !inUse; ++i) {
        tv::platform::DatagramMailbox probe;
        if (probe.bind(box.toStdString()) == tv::platform::DatagramMailbox::BindResult::InUse) {
            second.SetActive(true);
            inUse = !second.Active();
            second.SetActive(false);
        } else {
            probe.close();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ASSERT_TRUE(inUse) << "the peer never owned its mailbox";
    TALMailSlot engine;
    engine.SendMessage(".", box, "Hello");  // ignored by the peer
    engine.SendMessage(".", box, "Close");
    EXPECT_EQ(exitCodeOf(*peer), 0);
}

TEST_F(ChannelsTwoProcess, CloseFromAPeerReachesThisProcess)
{
    const QString box = QString::number(getpid() % 1000000) + "r";
    TALMailSlot slot;
    slot.SetCheckInterval(1);
    slot.SetMailBox(box);
    QString text, computer;
    slot.OnNewMessage = [&](TALMailSlot&, const QString& c, const QString&, const QString& t) {
        text = t;
        computer = c;
    };
    slot.SetActive(true);
    ASSERT_TRUE(slot.Active());
    auto peer = Process::spawn(kPeer, {"mail-send", box.toStdString(), "Close\nignored"});
    ASSERT_TRUE(peer) << peer.error();
    EXPECT_EQ(exitCodeOf(*peer), 0);
    ASSERT_TRUE(pumpUntil([&] { return !text.isEmpty(); }));
    EXPECT_EQ(text, "Close");
    EXPECT_EQ(computer, slot.Computer());
}
