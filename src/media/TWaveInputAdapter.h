#pragma once
// TWaveInputAdapter: an audio input of the encoder whose sound comes from the
// owner's handler. The encoder's "waveinput" format finds it by the decimal
// text of its address (FileName()), fills WaveInfo from the input options and
// calls OnReadHeader once when the input is declared (caller's thread); the
// FrameSize the handler leaves there is the size of every read. Then it calls
// OnReadWaveData on the input's reading thread; the result (at most
// FrameSize) is the number of bytes delivered, a negative result ends the
// input with an error.
//
// The adapter must outlive the encoder task that reads it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace tv {

struct TInputWaveInfo {
    int64_t TimeStamp = 0;      // microseconds of the sound delivered so far
    int32_t FrameSize = 0;      // bytes asked for per read
    int32_t SampleRate = 0;
    int32_t Channels = 0;
    int32_t BytesPerSample = 0; // of one channel
};

class TWaveInputAdapter {
public:
    using ReadHeaderHandler = std::function<void(TWaveInputAdapter* sender)>;
    using ReadWaveHandler =
        std::function<int(TWaveInputAdapter* sender, uint8_t* data, TInputWaveInfo& info)>;

    TWaveInputAdapter();
    ~TWaveInputAdapter();
    TWaveInputAdapter(const TWaveInputAdapter&) = delete;
    TWaveInputAdapter& operator=(const TWaveInputAdapter&) = delete;

    std::string FileName() const;
    static TWaveInputAdapter* Find(const std::string& fileName);

    std::atomic<int> Tag{0};
    ReadHeaderHandler OnReadHeader;
    ReadWaveHandler OnReadWaveData;
    TInputWaveInfo WaveInfo;
};

} // namespace tv
