#pragma once
// Messenger: owns one mailbox (a datagram mailbox "MailBox" of this user,
// see platform/DatagramMailbox.h) polled by a thread of its own, hands every
// received message to the owner's thread and waits for it there, and sends
// short texts to other processes' mailboxes. Wire format: MailSlotWire.h.
//
// Threads: create, use and destroy the object on one thread that runs a Qt
// event loop (QCoreApplication or QApplication main thread): OnNewMessage runs
// there, one message at a time, while the polling thread waits. Deactivating
// (SetActive(false), a MailBox change, destruction) waits for the polling
// thread and drops a message that was handed over but not yet delivered.
// OnNewMessage may deactivate or rename the messenger, but must not destroy
// it (post the destruction instead). SendMessage and Broadcast may be called
// from any thread. Nothing here throws; failures leave Active false or drop a
// send silently.

#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QObject;

namespace tv {

namespace platform {
class DatagramMailbox;
}

class TALMailSlot {
public:
    enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

    using TNewMessageEvent = std::function<void(TALMailSlot& Sender, const QString& Computer,
                                                const QString& UserName, const QString& Text)>;
    using TNameRefusedEvent = std::function<void(TALMailSlot& Sender, const QString& Name)>;

    static constexpr int kMaxMailBoxLength = 8;
    static constexpr int kDefaultCheckInterval = 1000;
    static constexpr int kLongestSleep = 1000; // ms; periods from here on count whole seconds
    static constexpr const char* kDefaultMailBox = "MailBox";
    static constexpr const char* kNameRefusedText = "MailBox name cannot be greater than 8 characters long.";
    static constexpr const char* kThisComputer = ".";
    static constexpr const char* kEveryComputer = "*";

    TALMailSlot();
    ~TALMailSlot();
    TALMailSlot(const TALMailSlot&) = delete;
    TALMailSlot& operator=(const TALMailSlot&) = delete;

    // Sends Text to MailBox on PC ("." or this computer's name). Other
    // computers cannot be reached: such a send is dropped, as is one to a
    // mailbox that nobody owns. Returns normally in every case.
    void SendMessage(const QString& PC, const QString& MailBox, const QString& Text);
    // Send to every computer ("*"): never reachable here, dropped silently.
    void Broadcast(const QString& MailBox, const QString& Text);

    QString MailBox() const { return fMailBox; }
    // Up to 8 characters: becomes the name (the mailbox moves when active).
    // Longer: refused through OnNameRefused (default: an event-log entry with
    // kNameRefusedText), the old name stays.
    void SetMailBox(const QString& Value);

    bool Active() const { return fActive; }
    // true binds the mailbox and starts polling; when the name is in use by a
    // live process Active stays false. false stops and waits for the thread.
    void SetActive(bool Value);

    // Polling period in ms. Below 1000: the thread waits for a message, drains
    // the mailbox, then sleeps the period. From 1000 on: the mailbox is drained
    // at once, then every CheckInterval rounded up to whole seconds (read on
    // every pass).
    int CheckInterval() const { return fCheckInterval.load(); }
    void SetCheckInterval(int Value) { fCheckInterval.store(Value); }

    TThreadPriority ThreadPriority() const { return fThreadPriority.load(); }
    // Stored; a running polling thread takes the new priority at once (a
    // raise that needs privileges is ignored when refused).
    void SetThreadPriority(TThreadPriority Value);

    QString Computer() const { return fComputer; }
    QString UserName() const { return fUserName; }

    TNewMessageEvent OnNewMessage;
    TNameRefusedEvent OnNameRefused;

private:
    struct Delivery;

    void Activate();
    void Deactivate();
    void CheckThreadExecute(std::shared_ptr<Delivery> delivery);
    bool Drain(const std::shared_ptr<Delivery>& delivery);
    bool WaitForWake(int timeoutMs);
    void ApplyPriority();

    QString fMailBox;
    bool fActive = false;
    std::thread CheckThread;
    std::unique_ptr<platform::DatagramMailbox> LocalHandle;
    std::atomic<int> fCheckInterval{kDefaultCheckInterval};
    QString fComputer;
    QString fUserName;
    std::atomic<bool> CheckThreadRunning{false};
    std::atomic<TThreadPriority> fThreadPriority{TThreadPriority::tpNormal};
    std::atomic<int> FThreadId{0};
    int FWakeFd = -1;                  // eventfd that ends the polling thread's waits
    std::unique_ptr<QObject> FContext; // lives on the owner's thread; receives the hand-overs
    std::shared_ptr<Delivery> FDelivery;
};

} // namespace tv
