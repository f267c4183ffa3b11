#pragma once
// EncoderOutput: the composition graph, the encoders and the muxer of one
// encoder task. Created by SetOutput on the caller's thread: it parses the
// -filter_complex text, binds its [k:v] labels to the task's inputs, builds
// and configures the graph, opens the video encoder and one audio encoder
// per "-map k:a" and sets up the muxer, applying every other option to the
// encoder, muxer or protocol that knows it. Opening the destination and
// everything after run on the task's thread. Errors are texts for a person.

#include "common/Result.h"
#include "media/EncoderInput.h"
#include "media/EncoderOutputSettings.h"
#include "media/LibAV.h"

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tv {
class TMemoryAccessAdapter;
}

namespace tv::media {

class EncoderOutput {
public:
    static constexpr int kTsPacketBytes = 188;
    // Whole transport-stream packets per write of a memory output.
    static constexpr int kCustomIOBufferBytes = kTsPacketBytes * 174;
    static constexpr int kFallbackAudioFrameSamples = 1024;   // encoders without a fixed frame size
    static constexpr AVRational kDefaultFrameRate{25, 1};

    struct Destination {
        std::string url;                          // used when stream is null
        TMemoryAccessAdapter* stream = nullptr;
        void* privateData = nullptr;
    };

    static Result<std::unique_ptr<EncoderOutput>> create(const std::vector<EncoderInput*>& inputs,
                                                         const EncoderOutputSettings& settings,
                                                         Destination destination,
                                                         const std::atomic<bool>* abort);
    ~EncoderOutput();

    // The inputs whose video the graph reads and whose sound is encoded.
    const std::vector<int>& videoInputs() const { return videoInputs_; }
    std::vector<int> audioInputs() const;
    bool hasVideo() const { return sink_ != nullptr; }

    // Task thread. open() opens the destination and writes the header.
    Status open();
    enum class Pull { Encoded, NeedInput, End };
    // Takes one picture from the graph and encodes it; NeedInput names the
    // input (index into the task's inputs) the graph waits for.
    Result<Pull> pullVideo(int& needInput);
    Status feedVideo(int input, AVFrame* frame);   // null frame = that input ended
    Status feedAudio(int input, AVFrame* frame);   // sound of a mapped input
    // Drains the encoders and writes the trailer.
    Status finish();
    // Closes the destination; safe to call more than once.
    void close();
    int64_t framesEncoded() const { return framesEncoded_; }

private:
    struct AudioStream;
    EncoderOutput() = default;
    Status buildGraph(const std::vector<EncoderInput*>& inputs, const EncoderOutputSettings& s,
                      const AVCodec* videoCodec);
    Status applyPrivateOptions(const EncoderOutputSettings& s);
    Status encodeVideo(AVFrame* frame);
    Status encodeAudioFifo(AudioStream& a, bool flush);
    Status drain(AVCodecContext* enc, AVStream* st);
    static int writePacket(void* opaque, uint8_t* buf, int size);
    static int64_t seekPacket(void* opaque, int64_t offset, int whence);
    static int interrupted(void* opaque);

    Destination destination_;
    const std::atomic<bool>* abort_ = nullptr;
    av::FilterGraphPtr graph_;
    std::map<int, AVFilterContext*> sources_;   // input index -> buffer source
    std::vector<int> videoInputs_;
    AVFilterContext* sink_ = nullptr;
    av::CodecContextPtr videoEnc_;
    AVStream* videoStream_ = nullptr;
    std::vector<std::unique_ptr<AudioStream>> audio_;
    av::OutputContextPtr oc_;
    av::CustomIOPtr customIO_;
    av::DictPtr protocolOptions_;
    av::PacketPtr packet_;
    int64_t lastVideoPts_ = AV_NOPTS_VALUE;
    int64_t framesEncoded_ = 0;
    bool opened_ = false;
    bool headerWritten_ = false;
};

} // namespace tv::media
