#pragma once
// SourceChanger: the rotation state of a running mosaic and the decisions of
// the source changer. It owns, per player, the pin (AssignedSource), the
// cursor pair SourceIndex/PlayerIndex, the rotation mode, the time of the last
// accepted changer run and the slot tags (which player each wall slot shows).
//
// It never starts or stops a process itself: replacing a player's process and
// switching the two changer timers go through the SourceChangerHost the owner
// hands in. Every operation runs on the main thread; only slotTag() may be
// read from the encoder's threads (one atomic word per slot).
//
// Numbers follow the profile: players count from 0, sources from 1.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace tv {

// What the changer asks of its owner. Called on the main thread, from inside
// the SourceChanger operations.
class SourceChangerHost {
public:
    virtual ~SourceChangerHost() = default;
    // Replace player `player`'s process by one showing source `source`.
    virtual void ChangePlayer(int player, int source) = 0;
    // TChanger: on = (re)start its period from now; off = stop it.
    virtual void setChangerActive(bool on) = 0;
    // TChanger's period, in milliseconds; never starts a stopped timer.
    virtual void setChangerInterval(int ms) = 0;
    // TGroupChanger (100 ms ticks) on or off.
    virtual void setGroupChangerActive(bool on) = 0;
};

class SourceChanger {
public:
    // Rotation modes as the designer lists them.
    enum Mode : int { NoChange = 0, OneByOne = 1, Circular = 2, GroupByGroup = 3 };

    static constexpr int kDefaultChangeMode = OneByOne;   // Players ChangeMode (1)
    static constexpr int kDefaultChangeIntervalSec = 3;   // Players ChangeInterval (3)
    static constexpr int kGuardMs = 500;                  // runs closer than this are ignored
    static constexpr int kGroupTickMs = 100;              // TGroupChanger period

    // `players` players (P), `sources` sources (N, taken as 1 when lower).
    // Every player starts rotating (no pin), slot s shows player s.
    SourceChanger(SourceChangerHost& host, int players, int sources);

    // The source a player starts with when the run starts: (player mod N) + 1.
    int initialSource(int player) const;
    // The run's start: SourceIndex := P, then the next free source;
    // PlayerIndex := 0. Call once the players were started.
    void startRotation();

    // The source after SourceIndex that no player is pinned to. When every
    // source is pinned it returns the plain successor after at most N steps.
    int NextFreeSource() const;
    // Gives the next rotating player the source SourceIndex.
    void ChangeOne();
    // One changer run (TChanger tick or a "Change Now" button) at `nowMs`
    // (monotonic milliseconds); the steady clock when left out.
    void TChangerTimer(int64_t nowMs);
    void TChangerTimer();
    // One TGroupChanger tick.
    void TGroupChangerTimer();
    // Circular mode: every rotating player's picture moves one slot back.
    void rotateSlots();
    // Pins (source > 0) or releases (0) the player shown in `slot`; a pin
    // replaces the player's process at once. Out-of-range slots are ignored.
    void AssignSourceToPlayer(int slot, int source);
    // The effect of RefreshSettings on the changer: new period and mode,
    // and the reopened profile's Sources Count. A stopped TChanger stays
    // stopped.
    void applySettings(int changeIntervalSec, int changeMode, int sources);

    int players() const { return static_cast<int>(assigned_.size()); }
    int sources() const { return sources_; }
    int SourceIndex() const { return sourceIndex_; }
    int PlayerIndex() const { return playerIndex_; }
    int ChangeMode() const { return changeMode_; }
    int64_t LastChange() const { return lastChange_; }
    int AssignedSource(int player) const { return assigned_.at(player); }
    bool groupPassRunning() const { return groupRunning_; }
    // Which player slot `slot` shows; any thread.
    int slotTag(int slot) const { return tags_[slot].load(std::memory_order_relaxed); }

    // Monotonic milliseconds (std::chrono::steady_clock).
    static int64_t nowMs();

private:
    bool pinned(int player) const { return assigned_[player] > 0; }
    bool sourcePinned(int source) const;
    void changePlayerAt(int player);

    SourceChangerHost& host_;
    int sources_;
    std::vector<int> assigned_;
    std::unique_ptr<std::atomic<int>[]> tags_;
    int sourceIndex_ = 1;
    int playerIndex_ = 0;
    int changeMode_ = kDefaultChangeMode;
    int64_t lastChange_ = 0;
    bool everRun_ = false;
    bool groupRunning_ = false;
};

} // namespace tv
