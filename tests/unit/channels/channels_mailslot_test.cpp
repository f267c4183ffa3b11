#include "channels/MailSlotWire.h"
#include "channels/TALMailSlot.h"
#include "platform/DatagramMailbox.h"
#include "support/QtEventPump.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using tv::TALMailSlot;
using tv::test::pumpUntil;
using namespace std::chrono_literals;

namespace {

// Mailbox names of at most 8 characters, unique per process and call.
QString uniqueBox()
{
    static int n = 0;
    return QString("%1%2").arg(getpid() % 100000).arg(n++, 3, 10, QChar('0')).left(8);
}

struct Received {
    QString computer, user, text;
};

class ChannelsMailSlot : public testing::Test {
protected:
    static void SetUpTestSuite() { tv::test::app(); }

    // A messenger that records what reaches its owner.
    std::unique_ptr<TALMailSlot> listener(const QString& box, int interval, std::vector<Received>& into)
    {
        auto slot = std::make_unique<TALMailSlot>();
        slot->SetCheckInterval(interval);
        slot->SetMailBox(box);
        slot->OnNewMessage = [&into](TALMailSlot&, const QString& c, const QString& u, const QString& t) {
            into.push_back({c, u, t});
        };
        slot->SetActive(true);
        return slot;
    }
};

} // namespace

TEST_F(ChannelsMailSlot, DefaultsAndNameLengthRule)
{
    TALMailSlot slot;
    EXPECT_EQ(slot.MailBox(), "MailBox");
    EXPECT_FALSE(slot.Active());
    EXPECT_EQ(slot.CheckInterval(), 1000);
    EXPECT_EQ(slot.ThreadPriority(), TALMailSlot::TThreadPriority::tpNormal);
    EXPECT_FALSE(slot.UserName().isEmpty());

    QStringList refused;
    slot.OnNameRefused = [&](TALMailSlot&, const QString& name) { refused << name; };
    slot.SetMailBox("ABCDEFGH");
    EXPECT_EQ(slot.MailBox(), "ABCDEFGH");
    slot.SetMailBox("ABCDEFGHI");
    EXPECT_EQ(slot.MailBox(), "ABCDEFGH");
    EXPECT_EQ(refused, QStringList{"ABCDEFGHI"});

    // Without a handler the refusal is logged with the warning's text.
    TALMailSlot quiet;
    testing::internal::CaptureStderr();
    quiet.SetMailBox("MFile1234");
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(quiet.MailBox(), "MailBox");
    EXPECT_NE(log.find(TALMailSlot::kNameRefusedText), std::string::npos) << log;
}

TEST_F(ChannelsMailSlot, CloseReachesTheOwnerWithSenderDetails)
{
    std::vector<Received> got;
    const QString box = uniqueBox();
    auto slot = listener(box, 1, got);
    ASSERT_TRUE(slot->Active());
    TALMailSlot sender;
    sender.SendMessage(".", box, "Close");
    sender.SendMessage(".", box, "Close\r\nx"); // only the first line arrives
    sender.SendMessage(sender.Computer().toUpper(), box, "by name");
    ASSERT_TRUE(pumpUntil([&] { return got.size() == 3; })) << got.size();
    EXPECT_EQ(got[0].text, "Close");
    EXPECT_EQ(got[0].computer, sender.Computer());
    EXPECT_EQ(got[0].user, sender.UserName());
    EXPECT_EQ(got[1].text, "Close");
    EXPECT_EQ(got[2].text, "by name");
}

TEST_F(ChannelsMailSlot, UnreachableDestinationsReturnNormally)
{
    std::vector<Received> got;
    const QString box = uniqueBox();
    auto slot = listener(box, 1, got);
    ASSERT_TRUE(slot->Active());
    TALMailSlot sender;
    sender.SendMessage(".", uniqueBox(), "Close"); // nobody owns it
    sender.SendMessage("otherpc", box, "remote");   // other computers are not reachable
    sender.Broadcast(box, "everyone");
    sender.SendMessage(".", box, "last");
    ASSERT_TRUE(pumpUntil([&] { return !got.empty(); }));
    pumpUntil([] { return false; }, 100ms);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].text, "last");
}

TEST_F(ChannelsMailSlot, NameInUseLeavesTheSecondInactive)
{
    std::vector<Received> got;
    const QString box = uniqueBox();
    auto first = listener(box, 1, got);
    ASSERT_TRUE(first->Active());
    auto second = listener(box, 1, got);
    EXPECT_FALSE(second->Active());
    first->SetActive(false);
    second->SetActive(true);
    EXPECT_TRUE(second->Active()) << "the name is free once its owner deactivates";
}

TEST_F(ChannelsMailSlot, RenamingWhileActiveMovesTheMailbox)
{
    std::vector<Received> got;
    const QString oldBox = uniqueBox(), newBox = uniqueBox();
    auto slot = listener(oldBox, 1, got);
    ASSERT_TRUE(slot->Active());
    slot->SetMailBox(newBox);
    EXPECT_TRUE(slot->Active());
    tv::platform::DatagramMailbox probe;
    EXPECT_EQ(probe.bind(oldBox.toStdString()), tv::platform::DatagramMailbox::BindResult::Bound)
        << "the old name was released";
    probe.close();
    TALMailSlot sender;
    sender.SendMessage(".", newBox, "moved");
    ASSERT_TRUE(pumpUntil([&] { return !got.empty(); }));
    EXPECT_EQ(got[0].text, "moved");
}

TEST_F(ChannelsMailSlot, BadDatagramsAreDroppedWithoutHarm)
{
    std::vector<Received> got;
    const QString box = uniqueBox();
    auto slot = listener(box, 1, got);
    ASSERT_TRUE(slot->Active());
    const std::string name = box.toStdString();
    const auto good = tv::channels::encodeMessage("u", "c", "Close");
    std::vector<std::uint8_t> odd = good;
    odd.push_back(0);
    std::vector<std::uint8_t> huge(tv::channels::kMaxMessageBytes + 2, 'a');
    const auto notMessage = tv::channels::encodeMessage("u", "c", "Close");
    std::vector<std::uint8_t> wrongTag(notMessage);
    wrongTag[0] = 'm';
    for (const auto* d : {&odd, &huge, &wrongTag})
        tv::platform::DatagramMailbox::send(name, d->data(), d->size());
    tv::platform::DatagramMailbox::send(name, good.data(), good.size());
    ASSERT_TRUE(pumpUntil([&] { return !got.empty(); }));
    pumpUntil([] { return false; }, 100ms);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].text, "Close");
}

TEST_F(ChannelsMailSlot, DeactivatingNeverWaitsForABusyOwner)
{
    // The owner deactivates from inside its handler (as a Player does on
    // "Close"), and once more while a message waits for delivery.
    const QString box = uniqueBox();
    TALMailSlot slot;
    slot.SetCheckInterval(1);
    slot.SetMailBox(box);
    int calls = 0;
    slot.OnNewMessage = [&](TALMailSlot& s, const QString&, const QString&, const QString&) {
        ++calls;
        s.SetActive(false);
    };
    slot.SetActive(true);
    ASSERT_TRUE(slot.Active());
    TALMailSlot sender;
    sender.SendMessage(".", box, "Close");
    ASSERT_TRUE(pumpUntil([&] { return calls == 1; }));
    EXPECT_FALSE(slot.Active());

    slot.SetActive(true);
    ASSERT_TRUE(slot.Active());
    sender.SendMessage(".", box, "Close");
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // handed over, not delivered
    slot.SetActive(false);
    pumpUntil([] { return false; }, 100ms);
    EXPECT_EQ(calls, 1) << "a message handed over before deactivation is dropped";
}

TEST_F(ChannelsMailSlot, LongIntervalDrainsInWholeSeconds)
{
    std::vector<Received> got;
    const QString box = uniqueBox();
    QElapsedTimer sinceActivation;
    sinceActivation.start();
    auto slot = listener(box, 2500, got);
    ASSERT_TRUE(slot->Active());
    TALMailSlot sender;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    sender.SendMessage(".", box, "Close");
    ASSERT_TRUE(pumpUntil([&] { return !got.empty(); }));
    // Drained at activation (empty), next after three whole seconds.
    EXPECT_GE(sinceActivation.elapsed(), 2500) << "the second drain came early";
    QElapsedTimer stopping;
    stopping.start();
    slot->SetActive(false);
    EXPECT_LT(stopping.elapsed(), 5000) << "deactivation waited for a whole period";
}

namespace {

// Nice values of this process's threads other than the calling one.
std::vector<int> otherThreadNices()
{
    std::vector<int> nices;
    const std::string self = std::to_string(gettid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        if (entry.path().filename() == self)
            continue;
        std::ifstream in(entry.path() / "stat");
        std::string s;
        std::getline(in, s);
        std::istringstream fields(s.substr(s.rfind(')') + 2));
        std::string f;
        for (int i = 3; i <= 19 && fields >> f; ++i)
            if (i == 19)
                nices.push_back(std::stoi(f));
    }
    return nices;
}

} // namespace

TEST_F(ChannelsMailSlot, ThreadPriorityReachesTheRunningPollingThread)
{
    TALMailSlot slot;
    slot.SetMailBox(uniqueBox());
    slot.SetActive(true);
    ASSERT_TRUE(slot.Active());
    auto lowered = [] {
        const auto n = otherThreadNices();
        return std::count(n.begin(), n.end(), 5) == 1;
    };
    EXPECT_FALSE(lowered());
    slot.SetThreadPriority(TALMailSlot::TThreadPriority::tpLower);
    EXPECT_TRUE(pumpUntil(lowered, 5000ms)) << "the polling thread kept its priority";
    EXPECT_EQ(slot.ThreadPriority(), TALMailSlot::TThreadPriority::tpLower);
}
