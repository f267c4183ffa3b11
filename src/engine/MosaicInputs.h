#pragma once
// MosaicInputs: the encoder's adapter inputs of a run and the handlers that
// feed them from the players' channels: FIADummy (the 1 x 1 main picture
// when the profile has no main URL), one frame input per player slot (FIA)
// and one wave input per player (WIA). It shares the channels with the
// engine, so a channel stays mapped for the handlers even after the engine
// has let it go (StopAll), until the inputs themselves are destroyed, which
// must happen after the encoder has ended.
//
// Threads: built on the main thread during Init; the header handlers run
// there (inside AddTask/AddInput), the read handlers on the encoder's
// threads. A slot's player comes from `slotPlayer` (one atomic word per slot
// that the source changer may change from the main thread) or, without it,
// from the adapter's Tag. No handler returns a negative value: the encoder
// never ends an input because of a player.

#include "media/TFrameInputAdapter.h"
#include "media/TWaveInputAdapter.h"

#include <functional>
#include <memory>
#include <vector>

namespace tv {

class TShareFileMap;
class TAudioShare;

class MosaicInputs {
public:
    static constexpr int64_t kFrameMicroseconds = 40000;   // one picture at 25 per second
    static constexpr int32_t kWaveBlockBytes = 192000;      // one second of 48 kHz 16-bit stereo

    // slotPlayer(slot): the player whose pictures slot `slot` shows, or a
    // negative value for "use the adapter's Tag".
    explicit MosaicInputs(std::function<int(int slot)> slotPlayer = {});
    ~MosaicInputs();
    MosaicInputs(const MosaicInputs&) = delete;
    MosaicInputs& operator=(const MosaicInputs&) = delete;

    // Player i = players() before the call: its channels, its frame input
    // FIA[i] and wave input WIA[i], both tagged i.
    void addPlayer(std::shared_ptr<TShareFileMap> frames, std::shared_ptr<TAudioShare> sound);
    int players() const { return static_cast<int>(FIA.size()); }

    TFrameInputAdapter FIADummy;
    std::vector<std::unique_ptr<TFrameInputAdapter>> FIA;
    std::vector<std::unique_ptr<TWaveInputAdapter>> WIA;

    // The handlers, as bound to the adapters.
    void FIAReadHeader(TFrameInputAdapter* Sender);
    int FIAReadFrameYUV(TFrameInputAdapter* Sender, uint8_t* AData, TInputFrameInfo& AFrameInfo);
    int FIADummyReadFrameYUV(TFrameInputAdapter* Sender, uint8_t* AData, TInputFrameInfo& AFrameInfo);
    void WIAReadHeader(TWaveInputAdapter* Sender);
    int WIAReadWaveData(TWaveInputAdapter* Sender, uint8_t* AData, TInputWaveInfo& AWaveInfo);

private:
    std::function<int(int)> slotPlayer_;
    std::vector<std::shared_ptr<TShareFileMap>> frames_;
    std::vector<std::shared_ptr<TAudioShare>> sound_;
};

} // namespace tv
