#pragma once
// EncoderFrameInput: the "frameinput" format. Reads pictures from a
// TFrameInputAdapter: opening fills the adapter's FrameInfo from the options
// ("-input_type yuv -pix_fmt P -r R -s WxH") and calls OnReadHeader on the
// caller's thread; the reading thread then asks OnReadFrameYUV for one
// picture per frame period, paced in real time with "-re". Every picture
// buffer starts black, so a handler that writes nothing delivers black.

#include "common/Result.h"
#include "media/EncoderInput.h"
#include "media/OptionText.h"

#include <vector>

namespace tv {
class TFrameInputAdapter;
}

namespace tv::media {

class EncoderFrameInput final : public EncoderInput {
public:
    static constexpr int64_t kMicroseconds = 1000000;   // the format's time base 1/1000000

    static Result<std::unique_ptr<EncoderInput>> open(const std::string& fileName,
                                                      const std::vector<OptionItem>& options);
    ~EncoderFrameInput() override { stop(); }

    std::string describe() const override;
    const VideoFormat* video() const override { return &format_; }

    // Bytes of one picture of `fmt` in w x h with the planes packed.
    static int pictureBytes(AVPixelFormat fmt, int w, int h);

private:
    EncoderFrameInput() = default;
    void read() override;
    static AVBufferRef* allocBlack(void* opaque, size_t size);

    TFrameInputAdapter* adapter_ = nullptr;
    VideoFormat format_;
    bool realTime_ = false;
    av::BufferPoolPtr pool_;
};

} // namespace tv::media
