#pragma once
// RunControl: everything that keeps one mosaic run going once the engine has
// set it up: the three engine timers (TChanger, TGroupChanger, TLive), the
// source changer, the Player pool with its supervision, and the heartbeat
// watchdog. The engine keeps one per run and forwards its rotation
// operations here; what needs the profile or the encoder (starting a Player
// with its title style, sending "Close", stopping the encoder, restarting the
// program) comes back through RunControlHooks.
//
// Threads: create it, and call everything but heartbeat() and StopAll(), on
// the main thread under its Qt event loop; the timers and the supervision
// run there. heartbeat() is the encoder thread's. StopAll() may also come
// from the open watchdog's thread while the main thread is blocked; it then
// leaves the timers alone (the process is about to end).

#include "engine/LiveWatchdog.h"
#include "engine/PlayerSupervisor.h"
#include "engine/SourceChanger.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

class QTimer;
class QThread;

namespace tv {

struct RunControlHooks {
    // Starts a Player for `player` showing `source` (RunPlayer with the
    // profile's texts); its process id, 0 or less when the start failed. The
    // run control reaps it.
    std::function<pid_t(int player, int source)> startPlayer;
    // "Close" to the mailbox of `player`.
    std::function<void(int player)> sendClose;
    // OnStatus: one status text. Main thread and encoder thread.
    std::function<void(const std::string& text)> status;
    // An error entry in the event log under the engine's display name.
    std::function<void(const std::string& text)> logError;
    // The watchdog's two answers to a stalled output: with AutoStart the
    // restart (ReRunMosaic, does not return), otherwise the encoder's Stop.
    std::function<void()> restart;
    std::function<void()> stopEncoder;
};

class RunControl final : public SourceChangerHost, public PlayerSupervisorHost {
public:
    explicit RunControl(RunControlHooks hooks);
    ~RunControl() override;

    RunControl(const RunControl&) = delete;
    RunControl& operator=(const RunControl&) = delete;

    // Makes the watchdogs restart (true) or stop the encoder (false).
    void setAutoStart(bool on) { autoStart_.store(on); }
    bool autoStart() const { return autoStart_.load(); }

    // The run's start, in the engine's order:
    // HeartBit := 10, one watchdog tick, TLive running from here on.
    void startWatchdog();
    // The pool of `players` players over `sources` sources.
    void createPool(int players, int sources);
    // The source player `player` starts with, and its start (0 when the
    // start failed; the supervision then tries again).
    int initialSource(int player) const;
    pid_t startInitialPlayer(int player, int source);
    // Or: a Player the engine started itself (its own title defaults), from
    // here on supervised and reaped like the others.
    void adoptPlayer(int player, pid_t pid, int source);
    // SourceIndex/PlayerIndex set after the players were started, and the
    // profile's ChangeInterval (seconds) and ChangeMode applied.
    void startRotation(int changeIntervalSec, int changeMode);
    // TChanger on: the end of a successful start.
    void startChanger();

    // The encoder's progress (OnProgress): status text and a full HeartBit.
    void heartbeat(int64_t frameNumber);
    // One TLive tick (the timer calls it; so does the run's start).
    void TLiveTimer();

    // Rotation, as the engine offers it to the windows.
    void TChangerTimer();
    void TGroupChangerTimer();
    void ChangeOne();
    int NextFreeSource() const;
    void AssignSourceToPlayer(int slot, int source);
    // RefreshSettings' effect once the profile was reopened.
    void applySettings(int changeIntervalSec, int changeMode, int sources);

    // Timers off, every Player killed and reaped, no restart afterwards.
    void StopAll();

    // Which player slot `slot` shows; any thread. -1 before createPool.
    int slotTag(int slot) const;
    int players() const;
    int HeartBit() const { return watchdog_.HeartBit(); }
    const SourceChanger* changer() const { return changer_.get(); }
    const PlayerSupervisor* supervisor() const { return supervisor_.get(); }

    // SourceChangerHost
    void ChangePlayer(int player, int source) override;
    void setChangerActive(bool on) override;
    void setChangerInterval(int ms) override;
    void setGroupChangerActive(bool on) override;
    // PlayerSupervisorHost
    void sendClose(int player) override;
    pid_t startPlayer(int player, int source) override;
    void playerEnded(int player, int waitStatus, int delayMs) override;

    // How often the pool is looked after.
    static constexpr int kSupervisionMs = PlayerSupervisor::kPollMs;

private:
    bool onOwnerThread() const;

    RunControlHooks hooks_;
    std::atomic<bool> autoStart_{false};
    std::atomic<bool> stopped_{false};
    QThread* owner_ = nullptr;
    LiveWatchdog watchdog_;
    PosixChildProcessOps processes_;
    std::unique_ptr<SourceChanger> changer_;
    std::unique_ptr<PlayerSupervisor> supervisor_;
    std::unique_ptr<QTimer> TChanger;
    std::unique_ptr<QTimer> TGroupChanger;
    std::unique_ptr<QTimer> TLive;
    std::unique_ptr<QTimer> supervision_;
};

} // namespace tv
