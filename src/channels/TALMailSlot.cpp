#include "channels/TALMailSlot.h"

#include "channels/ChannelLog.h"
#include "channels/MailSlotWire.h"
#include "platform/DatagramMailbox.h"

#include <QMetaObject>
#include <QObject>

#include <cerrno>
#include <climits>
#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace tv {

namespace {

constexpr int kNameBufferLength = 255;

QString hostName()
{
    char buf[kNameBufferLength + 1] = {};
    if (gethostname(buf, kNameBufferLength) != 0)
        return {};
    return QString::fromLocal8Bit(buf);
}

QString logonName()
{
    std::vector<char> buf(16384);
    passwd pw;
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name).left(kNameBufferLength);
    return QString::number(getuid());
}

int niceFor(TALMailSlot::TThreadPriority p)
{
    using P = TALMailSlot::TThreadPriority;
    switch (p) {
    case P::tpIdle: return 19;
    case P::tpLowest: return 10;
    case P::tpLower: return 5;
    case P::tpNormal: return 0;
    case P::tpHigher: return -5;
    case P::tpHighest: return -10;
    case P::tpTimeCritical: return -20;
    }
    return 0;
}

} // namespace

// One activation's hand-over state, shared by the polling thread and the
// queued calls it posts to the owner's thread.
struct TALMailSlot::Delivery {
    std::mutex lock;
    std::condition_variable changed;
    bool delivered = false;
    bool cancelled = false;
};

TALMailSlot::TALMailSlot()
    : fMailBox(QString::fromLatin1(kDefaultMailBox)),
      fComputer(hostName()),
      fUserName(logonName()),
      FContext(std::make_unique<QObject>())
{
}

TALMailSlot::~TALMailSlot()
{
    Deactivate();
}

void TALMailSlot::SendMessage(const QString& PC, const QString& MailBox, const QString& Text)
{
    const bool local = PC == QLatin1String(kThisComputer) || PC.compare(fComputer, Qt::CaseInsensitive) == 0;
    if (!local)
        return;
    const std::vector<std::uint8_t> bytes = channels::encodeMessage(fUserName, fComputer, Text);
    if (bytes.size() > channels::kMaxMessageBytes)
        return;
    platform::DatagramMailbox::send(MailBox.toStdString(), bytes.data(), bytes.size());
}

void TALMailSlot::Broadcast(const QString& MailBox, const QString& Text)
{
    SendMessage(QString::fromLatin1(kEveryComputer), MailBox, Text);
}

void TALMailSlot::SetMailBox(const QString& Value)
{
    if (Value == fMailBox)
        return;
    if (Value.size() > kMaxMailBoxLength) {
        if (OnNameRefused)
            OnNameRefused(*this, Value);
        else
            channels::logError(std::string(kNameRefusedText) + " (" + Value.toStdString() + ")");
        return;
    }
    fMailBox = Value;
    if (fActive) {
        SetActive(false);
        SetActive(true);
    }
}

void TALMailSlot::SetActive(bool Value)
{
    if (Value == fActive)
        return;
    fActive = Value;
    if (Value)
        Activate();
    else
        Deactivate();
}

void TALMailSlot::SetThreadPriority(TThreadPriority Value)
{
    fThreadPriority.store(Value);
    ApplyPriority();
}

void TALMailSlot::ApplyPriority()
{
    const int tid = FThreadId.load();
    if (tid > 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(tid), niceFor(fThreadPriority.load())); // refusal ignored
}

void TALMailSlot::Activate()
{
    if (CheckThreadRunning.load())
        return;
    if (fMailBox.isEmpty()) {
        fActive = false;
        return;
    }
    auto box = std::make_unique<platform::DatagramMailbox>();
    const auto bound = box->bind(fMailBox.toStdString());
    if (bound != platform::DatagramMailbox::BindResult::Bound) {
        if (bound == platform::DatagramMailbox::BindResult::Failed)
            channels::logError("MailSlot " + fMailBox.toStdString() + ": " + box->error());
        fActive = false;
        return;
    }
    FWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FWakeFd < 0) {
        channels::logError("MailSlot " + fMailBox.toStdString() + ": no wake-up descriptor");
        fActive = false;
        return;
    }
    LocalHandle = std::move(box);
    FDelivery = std::make_shared<Delivery>();
    CheckThreadRunning.store(true);
    CheckThread = std::thread(&TALMailSlot::CheckThreadExecute, this, FDelivery);
}

void TALMailSlot::Deactivate()
{
    fActive = false;
    if (!CheckThread.joinable())
        return;
    CheckThreadRunning.store(false);
    {
        std::lock_guard guard(FDelivery->lock);
        FDelivery->cancelled = true;
    }
    FDelivery->changed.notify_all();
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t w = write(FWakeFd, &one, sizeof one);
    CheckThread.join();
    FThreadId.store(0);
    ::close(FWakeFd);
    FWakeFd = -1;
    LocalHandle.reset();
    FDelivery.reset();
}

bool TALMailSlot::WaitForWake(int timeoutMs)
{
    pollfd p{FWakeFd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR && CheckThreadRunning.load());
    return CheckThreadRunning.load();
}

bool TALMailSlot::Drain(const std::shared_ptr<Delivery>& delivery)
{
    std::vector<std::uint8_t> datagram;
    for (;;) {
        if (!CheckThreadRunning.load())
            return false;
        const auto got = LocalHandle->receive(datagram, channels::kMaxMessageBytes);
        if (got == platform::DatagramMailbox::ReceiveResult::Dropped)
            continue;
        if (got != platform::DatagramMailbox::ReceiveResult::Message)
            return true;
        auto message = channels::decodeMessage(datagram.data(), datagram.size());
        if (!message)
            continue; // taken out of the mailbox all the same
        {
            std::lock_guard guard(delivery->lock);
            delivery->delivered = false;
        }
        // Hand the message to the owner's thread and wait until it has been
        // delivered, or until deactivation gives up on it.
        QMetaObject::invokeMethod(
            FContext.get(),
            [this, delivery, m = std::move(*message)] {
                {
                    std::lock_guard guard(delivery->lock);
                    if (delivery->cancelled)
                        return;
                }
                if (OnNewMessage)
                    OnNewMessage(*this, m.Computer, m.UserName, m.Text);
                {
                    std::lock_guard guard(delivery->lock);
                    delivery->delivered = true;
                }
                delivery->changed.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock wait(delivery->lock);
        delivery->changed.wait(wait, [&] { return delivery->delivered || delivery->cancelled; });
        if (delivery->cancelled)
            return false;
    }
}

void TALMailSlot::CheckThreadExecute(std::shared_ptr<Delivery> delivery)
{
    FThreadId.store(static_cast<int>(gettid()));
    ApplyPriority();
    const int period = std::min(fCheckInterval.load(), kLongestSleep);
    if (period < kLongestSleep) {
        const int sleepMs = std::max(period, 0);
        while (CheckThreadRunning.load()) {
            pollfd p[2] = {{LocalHandle->fd(), POLLIN, 0}, {FWakeFd, POLLIN, 0}};
            int r = ::poll(p, 2, -1);
            if (r < 0 && errno != EINTR)
                break;
            if (!CheckThreadRunning.load() || !Drain(delivery))
                break;
            if (sleepMs > 0 && !WaitForWake(sleepMs))
                break;
        }
    } else {
        long elapsed = INT_MAX;
        while (CheckThreadRunning.load()) {
            if (elapsed >= fCheckInterval.load()) {
                if (!Drain(delivery))
                    break;
                elapsed = 0;
            }
            if (!WaitForWake(kLongestSleep))
                break;
            elapsed += kLongestSleep;
        }
    }
}

} // namespace tv
