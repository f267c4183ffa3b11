#include "media/EncoderWaveInput.h"

#include "media/TWaveInputAdapter.h"

#include <charconv>

namespace tv::media {

namespace {

bool parsePositive(const std::string& text, int& out)
{
    int v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v <= 0)
        return false;
    out = v;
    return true;
}

} // namespace

Result<std::unique_ptr<EncoderInput>> EncoderWaveInput::open(const std::string& fileName,
                                                             const std::vector<OptionItem>& options)
{
    auto* adapter = TWaveInputAdapter::Find(fileName);
    if (!adapter)
        return fail("waveinput: '" + fileName + "' names no wave input adapter");

    std::unique_ptr<EncoderWaveInput> in(new EncoderWaveInput);
    in->adapter_ = adapter;
    in->format_.sampleRate = 44100;
    in->format_.channels = 2;
    in->format_.sampleFmt = AV_SAMPLE_FMT_S16;
    for (const auto& o : options) {
        if (o.name == "re") {
            in->realTime_ = true;
        } else if (o.name == "f") {
        } else if (o.name == "ar" || o.name == "sample_rate") {
            if (!parsePositive(o.value, in->format_.sampleRate))
                return fail("waveinput: invalid sample rate '" + o.value + "'");
        } else if (o.name == "ac" || o.name == "channels") {
            if (!parsePositive(o.value, in->format_.channels) || in->format_.channels > AV_NUM_DATA_POINTERS)
                return fail("waveinput: invalid channel count '" + o.value + "'");
        } else if (o.name == "sample_fmt") {
            AVSampleFormat f = av_get_sample_fmt(o.value.c_str());
            if (f == AV_SAMPLE_FMT_NONE || av_sample_fmt_is_planar(f))
                return fail("waveinput: sample format '" + o.value + "' is not a packed sample format");
            in->format_.sampleFmt = f;
        } else {
            return fail("Unrecognized option '" + o.name + "' for waveinput");
        }
    }
    in->format_.timeBase = AVRational{1, in->format_.sampleRate};

    TInputWaveInfo& info = adapter->WaveInfo;
    info = TInputWaveInfo{};
    info.SampleRate = in->format_.sampleRate;
    info.Channels = in->format_.channels;
    info.BytesPerSample = av_get_bytes_per_sample(in->format_.sampleFmt);
    info.FrameSize = in->format_.sampleRate / kDefaultReadsPerSecond * info.Channels * info.BytesPerSample;
    if (adapter->OnReadHeader)
        adapter->OnReadHeader(adapter);
    if (info.FrameSize <= 0)
        return fail("waveinput: the header handler left no read size");
    return std::unique_ptr<EncoderInput>(std::move(in));
}

std::string EncoderWaveInput::describe() const
{
    return "waveinput " + std::to_string(format_.sampleRate) + " Hz " + std::to_string(format_.channels) + " ch";
}

void EncoderWaveInput::read()
{
    TInputWaveInfo& info = adapter_->WaveInfo;
    const int sampleBytes = format_.channels * av_get_bytes_per_sample(format_.sampleFmt);
    const int64_t bytesPerSecond = int64_t(format_.sampleRate) * sampleBytes;
    const int frameSize = info.FrameSize;
    const int samplesPerRead = (frameSize + sampleBytes - 1) / sampleBytes;
    int64_t delivered = 0;
    EncoderFrameQueue* queue = audioQueue();
    while (!aborted()) {
        const int64_t ts = av_rescale(delivered, kMicroseconds, bytesPerSecond);
        if (realTime_ && !waitUntil(std::chrono::microseconds(ts)))
            break;
        av::FramePtr frame = av::makeFrame();
        if (!frame) {
            run_.fail("waveinput: out of memory");
            return;
        }
        frame->format = format_.sampleFmt;
        av_channel_layout_default(&frame->ch_layout, format_.channels);
        frame->sample_rate = format_.sampleRate;
        frame->nb_samples = samplesPerRead;
        if (av_frame_get_buffer(frame.get(), 0) < 0) {
            run_.fail("waveinput: out of memory");
            return;
        }
        info.TimeStamp = ts;
        int result = adapter_->OnReadWaveData ? adapter_->OnReadWaveData(adapter_, frame->data[0], info) : 0;
        if (result < 0) {
            run_.fail("waveinput: the wave handler failed with " + std::to_string(result));
            return;
        }
        result = std::min(result, frameSize) / sampleBytes * sampleBytes;
        if (result == 0) {
            // Nothing this time; do not spin on an empty source.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        frame->nb_samples = result / sampleBytes;
        frame->pts = delivered / sampleBytes;
        delivered += result;
        if (!queue->push(std::move(frame)))
            return;
    }
}

} // namespace tv::media
