#pragma once
// FilterChain: one libavfilter graph built from a filter text, fed with the
// decoded frames of one stream and drained into a sink that only accepts the
// requested output format (yuv420p pictures, or whatever the audio text asks
// for). The graph is rebuilt by the caller when the text or the input format
// changes (needsRebuild). Owns the graph; used by one decoding thread only.

#include "common/Result.h"
#include "media/LibAV.h"

#include <string>

namespace tv::media {

class FilterChain {
public:
    enum class Kind { Video, Audio };

    // Scaler options given to the picture graph's scale filters.
    static constexpr const char* kScaleOptions = "flags=bilinear";

    explicit FilterChain(Kind kind) : kind_(kind) {}

    // True when the graph was not built for this text and this input format.
    bool needsRebuild(const std::string& text, const AVFrame* in) const;

    // Builds the graph for `text` (empty: pass-through) fed with frames like
    // `in` whose time stamps count in `timeBase`. Failure leaves no graph; the
    // same text and input format are not tried again (see failed()).
    Status build(const std::string& text, const AVFrame* in, AVRational timeBase);

    bool ready() const { return sink_ != nullptr; }
    bool failed() const { return failed_; }

    // Feeds one frame (nullptr flushes). Negative: libav error.
    int push(AVFrame* in);
    // Takes one filtered frame: 0, AVERROR(EAGAIN) or AVERROR_EOF, or an error.
    int pull(AVFrame* out);

    AVRational outputTimeBase() const;

private:
    struct InputFormat {
        int width = 0, height = 0, format = -1, sampleRate = 0, channels = 0;
        bool operator==(const InputFormat&) const = default;
    };
    static InputFormat formatOf(const AVFrame* in);

    Kind kind_;
    av::FilterGraphPtr graph_;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    std::string text_;
    InputFormat input_;
    bool built_ = false;
    bool failed_ = false;
};

} // namespace tv::media
