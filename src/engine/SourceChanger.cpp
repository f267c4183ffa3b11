#include "engine/SourceChanger.h"

#include <algorithm>
#include <chrono>

namespace tv {

SourceChanger::SourceChanger(SourceChangerHost& host, int players, int sources)
    : host_(host),
      sources_(std::max(sources, 1)),
      assigned_(static_cast<size_t>(std::max(players, 0)), 0),
      tags_(std::make_unique<std::atomic<int>[]>(assigned_.size()))
{
    for (size_t s = 0; s < assigned_.size(); ++s)
        tags_[s].store(static_cast<int>(s), std::memory_order_relaxed);
}

int64_t SourceChanger::nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int SourceChanger::initialSource(int player) const
{
    return (player % sources_) + 1;
}

void SourceChanger::startRotation()
{
    sourceIndex_ = players();
    sourceIndex_ = NextFreeSource();
    playerIndex_ = 0;
}

bool SourceChanger::sourcePinned(int source) const
{
    return std::find(assigned_.begin(), assigned_.end(), source) != assigned_.end();
}

int SourceChanger::NextFreeSource() const
{
    const int n = sources_;
    // SourceIndex may be 0 or negative only through a broken caller; the
    // modulo below keeps the result in 1..N all the same.
    const int first = ((sourceIndex_ % n) + n) % n + 1;
    int r = first;
    for (int step = 0; step < n; ++step) {
        if (!sourcePinned(r))
            return r;
        r = (r % n) + 1;
    }
    return first; // every source is pinned: settle for the plain successor
}

void SourceChanger::changePlayerAt(int player)
{
    playerIndex_ = player;
    host_.ChangePlayer(player, sourceIndex_);
    playerIndex_ = player + 1;
    sourceIndex_ = NextFreeSource();
}

void SourceChanger::ChangeOne()
{
    const int p = players();
    if (p == 0)
        return;
    const int start = ((playerIndex_ % p) + p) % p;
    for (int k = 0; k < p; ++k) {
        const int player = (start + k) % p;
        if (!pinned(player)) {
            changePlayerAt(player);
            return;
        }
    }
}

void SourceChanger::TChangerTimer()
{
    TChangerTimer(nowMs());
}

void SourceChanger::TChangerTimer(int64_t now)
{
    if (everRun_ && now - lastChange_ < kGuardMs)
        return;
    everRun_ = true;
    lastChange_ = now;
    host_.setChangerActive(false);
    switch (changeMode_) {
    case NoChange:
        return; // the changer stays off until the next start or mode change
    case OneByOne:
        ChangeOne();
        break;
    case Circular:
        rotateSlots();
        ChangeOne();
        break;
    case GroupByGroup:
        playerIndex_ = 0;
        groupRunning_ = true;
        host_.setGroupChangerActive(true);
        break;
    default:
        break;
    }
    host_.setChangerActive(true);
}

void SourceChanger::TGroupChangerTimer()
{
    const int p = players();
    // One pass visits players PlayerIndex .. P-1 once, changing the next
    // rotating one per tick; it never wraps back to player 0, so a pinned
    // last player cannot keep the pass going for ever.
    int player = std::max(playerIndex_, 0);
    while (player < p && pinned(player))
        ++player;
    if (player < p)
        changePlayerAt(player);
    else
        playerIndex_ = p;
    // Look ahead so that the pass ends on the tick of its last change.
    int next = playerIndex_;
    while (next < p && pinned(next))
        ++next;
    if (next >= p) {
        groupRunning_ = false;
        host_.setGroupChangerActive(false);
    }
}

void SourceChanger::rotateSlots()
{
    // Each rotating slot swaps with the next rotating slot after it, which
    // walks the first rotating picture to the last rotating slot and moves
    // every other one a step back. The search does not wrap round to the
    // front: when the last slot is pinned, wrapping would swap the last
    // rotating slot with the first again and undo part of the rotation (with
    // two rotating players, all of it).
    const int p = players();
    for (int i = 0; i + 1 < p; ++i) {
        const int ti = slotTag(i);
        if (pinned(ti))
            continue;
        for (int j = i + 1; j < p; ++j) {
            const int tj = slotTag(j);
            if (!pinned(tj)) {
                tags_[i].store(tj, std::memory_order_relaxed);
                tags_[j].store(ti, std::memory_order_relaxed);
                break;
            }
        }
    }
}

void SourceChanger::AssignSourceToPlayer(int slot, int source)
{
    if (slot < 0 || slot >= players() || source < 0)
        return;
    const int player = slotTag(slot);
    assigned_[player] = source;
    if (source > 0)
        host_.ChangePlayer(player, source);
}

void SourceChanger::applySettings(int changeIntervalSec, int changeMode, int sources)
{
    // An interval below one second (0 or negative in a hand-edited profile)
    // would spin the main thread on a zero-period timer.
    host_.setChangerInterval(std::max(changeIntervalSec, 1) * 1000);
    changeMode_ = changeMode;
    sources_ = std::max(sources, 1);
    // A shorter source list must not leave the cursor on a source that no
    // longer exists.
    if (sourceIndex_ > sources_)
        sourceIndex_ = NextFreeSource();
}

} // namespace tv
