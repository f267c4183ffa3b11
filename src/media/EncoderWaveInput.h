#pragma once
// EncoderWaveInput: the "waveinput" format. Reads packed PCM from a
// TWaveInputAdapter: opening fills the adapter's WaveInfo from the options
// ("-ar 48000 -ac 2 -sample_fmt s16") and calls OnReadHeader on the caller's
// thread; the FrameSize left there is the size of every read. The reading
// thread stamps each read with the duration of all bytes delivered before it
// and, with "-re", delivers it no earlier than that time.

#include "common/Result.h"
#include "media/EncoderInput.h"
#include "media/OptionText.h"

#include <vector>

namespace tv {
class TWaveInputAdapter;
}

namespace tv::media {

class EncoderWaveInput final : public EncoderInput {
public:
    static constexpr int64_t kMicroseconds = 1000000;
    static constexpr int kDefaultReadsPerSecond = 25;   // FrameSize until the header handler sets one

    static Result<std::unique_ptr<EncoderInput>> open(const std::string& fileName,
                                                      const std::vector<OptionItem>& options);
    ~EncoderWaveInput() override { stop(); }

    std::string describe() const override;
    const AudioFormat* audio() const override { return &format_; }

private:
    EncoderWaveInput() = default;
    void read() override;

    TWaveInputAdapter* adapter_ = nullptr;
    AudioFormat format_;
    bool realTime_ = false;
};

} // namespace tv::media
