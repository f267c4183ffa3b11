#include "engine/MosaicInputs.h"

#include "channels/TAudioShare.h"
#include "channels/TShareFileMap.h"

namespace tv {

MosaicInputs::MosaicInputs(std::function<int(int slot)> slotPlayer) : slotPlayer_(std::move(slotPlayer))
{
    FIADummy.OnReadFrameYUV = [this](TFrameInputAdapter* s, uint8_t* d, TInputFrameInfo& i) {
        return FIADummyReadFrameYUV(s, d, i);
    };
}

MosaicInputs::~MosaicInputs() = default;

void MosaicInputs::addPlayer(std::shared_ptr<TShareFileMap> frames, std::shared_ptr<TAudioShare> sound)
{
    const int i = players();
    frames_.push_back(std::move(frames));
    sound_.push_back(std::move(sound));

    auto fia = std::make_unique<TFrameInputAdapter>();
    fia->Tag = i;
    fia->TriggerEventInMainThread = false;
    fia->OnReadHeader = [this](TFrameInputAdapter* s) { FIAReadHeader(s); };
    fia->OnReadFrameYUV = [this](TFrameInputAdapter* s, uint8_t* d, TInputFrameInfo& info) {
        return FIAReadFrameYUV(s, d, info);
    };
    FIA.push_back(std::move(fia));

    auto wia = std::make_unique<TWaveInputAdapter>();
    wia->Tag = i;
    wia->OnReadHeader = [this](TWaveInputAdapter* s) { WIAReadHeader(s); };
    wia->OnReadWaveData = [this](TWaveInputAdapter* s, uint8_t* d, TInputWaveInfo& info) {
        return WIAReadWaveData(s, d, info);
    };
    WIA.push_back(std::move(wia));
}

void MosaicInputs::FIAReadHeader(TFrameInputAdapter* Sender)
{
    Sender->FrameInfo.TimeStamp = 0;
    Sender->FrameInfo.LastTimeStamp = 0;
    Sender->FrameInfo.FrameNumber = 0;
}

int MosaicInputs::FIAReadFrameYUV(TFrameInputAdapter* Sender, uint8_t* AData, TInputFrameInfo& AFrameInfo)
{
    AFrameInfo.TimeStamp = AFrameInfo.LastTimeStamp + kFrameMicroseconds;
    AFrameInfo.FrameNumber = AFrameInfo.FrameNumber + 1;
    const int tag = Sender->Tag.load(std::memory_order_relaxed);
    int player = slotPlayer_ ? slotPlayer_(tag) : -1;
    if (player < 0)
        player = tag;
    if (player < 0 || player >= static_cast<int>(frames_.size()) || !frames_[player])
        return AFrameInfo.BytesPerFrame;   // no such player: the picture stays as it was
    return frames_[player]->ReadFromSharedMem(AData, AFrameInfo.BytesPerFrame);
}

int MosaicInputs::FIADummyReadFrameYUV(TFrameInputAdapter*, uint8_t*, TInputFrameInfo& AFrameInfo)
{
    const int w = AFrameInfo.Width;
    const int h = AFrameInfo.Height;
    return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
}

void MosaicInputs::WIAReadHeader(TWaveInputAdapter* Sender)
{
    Sender->WaveInfo.TimeStamp = 0;
    Sender->WaveInfo.FrameSize = kWaveBlockBytes;
}

int MosaicInputs::WIAReadWaveData(TWaveInputAdapter* Sender, uint8_t* AData, TInputWaveInfo& AWaveInfo)
{
    const int player = Sender->Tag.load(std::memory_order_relaxed);
    if (player < 0 || player >= static_cast<int>(sound_.size()) || !sound_[player])
        return 0;
    return static_cast<int>(sound_[player]->ReadFromSharedMem(AData, static_cast<uint32_t>(AWaveInfo.FrameSize)));
}

} // namespace tv
