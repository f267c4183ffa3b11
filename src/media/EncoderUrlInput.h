#pragma once
// EncoderUrlInput: an input opened by URL (any file or URL libavformat
// reads) with FFmpeg command-line input options. Opening happens on the
// caller's thread and may block as long as the source takes to answer
// (unless ReadTimeout or abort ends it); the reading thread then demuxes and
// decodes the best video and audio stream, paced by the packets' timestamps
// with "-re" and as fast as the source delivers without it. Picture
// timestamps always increase (see kMaxTimestampJumpUs). Decoded pictures
// that change size or format midway are converted to the size and format
// the input was opened with, so the graph never sees a surprise.

#include "common/Result.h"
#include "media/EncoderInput.h"
#include "media/OptionText.h"

#include <functional>
#include <vector>

namespace tv::media {

class EncoderUrlInput final : public EncoderInput {
public:
    static constexpr int64_t kMicroseconds = 1000000;
    // A picture stamped this much after the previous one, or not after it,
    // is a discontinuity (live sources restart, transport-stream clocks wrap
    // every 26.5 hours); the pictures then go on one frame period apart.
    static constexpr int64_t kMaxTimestampJumpUs = 10 * kMicroseconds;

    struct OpenSettings {
        int readTimeoutMs = -1;                        // <= 0: none
        const std::atomic<bool>* abort = nullptr;      // ends a blocking open or read
        std::function<void(AVFormatContext*)> beforeFindStreamInfo;
    };

    static Result<std::unique_ptr<EncoderInput>> open(const std::string& url,
                                                      const std::vector<OptionItem>& options,
                                                      const OpenSettings& settings);
    ~EncoderUrlInput() override { stop(); }

    std::string describe() const override { return url_; }
    const VideoFormat* video() const override { return videoStream_ >= 0 ? &videoFormat_ : nullptr; }
    const AudioFormat* audio() const override { return audioStream_ >= 0 ? &audioFormat_ : nullptr; }

private:
    EncoderUrlInput() = default;
    void read() override;
    static int interrupted(void* opaque);
    bool decode(AVCodecContext* dec, const AVPacket* pkt, bool video);
    bool deliverVideo(av::FramePtr frame);
    int64_t continuous(int64_t us);

    std::string url_;
    const std::atomic<bool>* openAbort_ = nullptr;
    av::InputContextPtr ctx_;
    int videoStream_ = -1;
    int audioStream_ = -1;
    av::CodecContextPtr videoDec_;
    av::CodecContextPtr audioDec_;
    VideoFormat videoFormat_;
    AudioFormat audioFormat_;
    bool realTime_ = false;
    int64_t firstDts_ = AV_NOPTS_VALUE;   // microseconds, pacing origin
    int64_t startTime_ = 0;               // microseconds subtracted from every timestamp
    av::SwsContextPtr sws_;
    int64_t lastVideoUs_ = AV_NOPTS_VALUE;
    int64_t videoOffsetUs_ = 0;
};

} // namespace tv::media
