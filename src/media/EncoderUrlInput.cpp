#include "media/EncoderUrlInput.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <set>

namespace tv::media {

namespace {

// Input options of the command line under the names the demuxers use.
std::string demuxerOptionName(const std::string& name)
{
    if (name == "s")
        return "video_size";
    if (name == "r")
        return "framerate";
    if (name == "pix_fmt")
        return "pixel_format";
    if (name == "ar")
        return "sample_rate";
    if (name == "ac")
        return "ch_layout";
    return name;
}

Result<av::CodecContextPtr> openDecoder(AVStream* st, AVDictionary** opts)
{
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return fail(std::string("no decoder for ") + avcodec_get_name(st->codecpar->codec_id));
    av::CodecContextPtr dec(avcodec_alloc_context3(codec));
    if (!dec)
        return fail("out of memory");
    int err = avcodec_parameters_to_context(dec.get(), st->codecpar);
    if (err < 0)
        return fail("decoder parameters: " + av::errorText(err));
    dec->pkt_timebase = st->time_base;
    if (!av_dict_get(*opts, "threads", nullptr, 0))
        av_dict_set(opts, "threads", "auto", 0);
    err = avcodec_open2(dec.get(), codec, opts);
    if (err < 0)
        return fail(std::string("cannot open the ") + codec->name + " decoder: " + av::errorText(err));
    return dec;
}

} // namespace

int EncoderUrlInput::interrupted(void* opaque)
{
    auto* self = static_cast<EncoderUrlInput*>(opaque);
    if (self->openAbort_ && self->openAbort_->load())
        return 1;
    return self->aborted() ? 1 : 0;
}

Result<std::unique_ptr<EncoderInput>> EncoderUrlInput::open(const std::string& url,
                                                            const std::vector<OptionItem>& options,
                                                            const OpenSettings& settings)
{
    std::unique_ptr<EncoderUrlInput> in(new EncoderUrlInput);
    in->url_ = url;
    in->openAbort_ = settings.abort;

    const AVInputFormat* fmt = nullptr;
    AVDictionary* raw = nullptr;
    std::set<std::string> given;
    for (const auto& o : options) {
        if (o.name == "re") {
            in->realTime_ = true;
        } else if (o.name == "f") {
            fmt = av_find_input_format(o.value.c_str());
            if (!fmt) {
                av_dict_free(&raw);
                return fail("Unknown input format: '" + o.value + "'");
            }
        } else if (o.isFlag) {
            // -an/-vn and the like on an input: nothing to hand to libav
        } else {
            std::string name = demuxerOptionName(o.name);
            std::string value = o.value;
            if (name == "ch_layout" && !value.empty() && value.find_first_not_of("0123456789") == std::string::npos)
                value += "c";
            av_dict_set(&raw, name.c_str(), value.c_str(), 0);
            given.insert(name);
        }
    }
    av::DictPtr dict(raw);
    if (settings.readTimeoutMs > 0 && !av_dict_get(dict.get(), "rw_timeout", nullptr, 0)) {
        raw = dict.release();
        av_dict_set_int(&raw, "rw_timeout", int64_t(settings.readTimeoutMs) * 1000, 0);
        dict.reset(raw);
    }

    AVFormatContext* ctx = avformat_alloc_context();
    if (!ctx)
        return fail("out of memory");
    ctx->interrupt_callback.callback = &EncoderUrlInput::interrupted;
    ctx->interrupt_callback.opaque = in.get();
    raw = dict.release();
    int err = avformat_open_input(&ctx, url.c_str(), fmt, &raw);
    dict.reset(raw);
    if (err < 0)
        return fail(url + ": " + av::errorText(err));
    in->ctx_.reset(ctx);

    if (settings.beforeFindStreamInfo)
        settings.beforeFindStreamInfo(ctx);
    err = avformat_find_stream_info(ctx, nullptr);
    if (err < 0)
        return fail(url + ": could not find stream parameters: " + av::errorText(err));

    in->videoStream_ = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    in->audioStream_ = av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, in->videoStream_, nullptr, 0);
    if (in->videoStream_ < 0 && in->audioStream_ < 0)
        return fail(url + ": no video or audio stream");

    // What the demuxer did not take goes to the decoders; what nobody takes
    // is an error, as on the command line.
    std::set<std::string> used;
    auto openWith = [&](int index, av::CodecContextPtr& out) -> Status {
        AVDictionary* d = nullptr;
        av_dict_copy(&d, dict.get(), 0);
        auto dec = openDecoder(ctx->streams[index], &d);
        const AVDictionaryEntry* e = nullptr;
        std::set<std::string> left;
        while ((e = av_dict_get(d, "", e, AV_DICT_IGNORE_SUFFIX)))
            left.insert(e->key);
        av_dict_free(&d);
        if (!dec)
            return fail(url + ": " + dec.error());
        for (const auto& k : given)
            if (!left.count(k))
                used.insert(k);
        out = std::move(dec.value());
        return {};
    };
    if (in->videoStream_ >= 0) {
        if (auto s = openWith(in->videoStream_, in->videoDec_); !s)
            return fail(s.error());
        AVCodecContext* d = in->videoDec_.get();
        AVStream* st = ctx->streams[in->videoStream_];
        in->videoFormat_.width = d->width;
        in->videoFormat_.height = d->height;
        in->videoFormat_.pixFmt = d->pix_fmt;
        in->videoFormat_.timeBase = AVRational{1, kMicroseconds};
        AVRational fr = av_guess_frame_rate(ctx, st, nullptr);
        if (fr.num > 0 && fr.den > 0)
            in->videoFormat_.frameRate = fr;
        AVRational sar = av_guess_sample_aspect_ratio(ctx, st, nullptr);
        in->videoFormat_.sampleAspect = sar.num > 0 ? sar : AVRational{1, 1};
        if (d->width <= 0 || d->height <= 0 || d->pix_fmt == AV_PIX_FMT_NONE)
            return fail(url + ": the video stream's picture size or format is unknown");
    }
    if (in->audioStream_ >= 0) {
        if (auto s = openWith(in->audioStream_, in->audioDec_); !s)
            return fail(s.error());
        AVCodecContext* d = in->audioDec_.get();
        in->audioFormat_.sampleRate = d->sample_rate;
        in->audioFormat_.channels = d->ch_layout.nb_channels;
        in->audioFormat_.sampleFmt = d->sample_fmt;
        in->audioFormat_.timeBase = AVRational{1, d->sample_rate > 0 ? d->sample_rate : 1};
    }
    for (const auto& k : given)
        if (av_dict_get(dict.get(), k.c_str(), nullptr, 0) && !used.count(k))
            return fail("Unrecognized option '" + k + "' for input " + url);
    in->startTime_ = ctx->start_time != AV_NOPTS_VALUE ? ctx->start_time : 0;
    return std::unique_ptr<EncoderInput>(std::move(in));
}

bool EncoderUrlInput::deliverVideo(av::FramePtr frame)
{
    const VideoFormat& f = videoFormat_;
    if (frame->width != f.width || frame->height != f.height || frame->format != f.pixFmt) {
        sws_.reset(sws_getCachedContext(sws_.release(), frame->width, frame->height,
                                        static_cast<AVPixelFormat>(frame->format), f.width, f.height,
                                        f.pixFmt, SWS_BICUBIC, nullptr, nullptr, nullptr));
        av::FramePtr conv = av::makeFrame();
        if (!sws_ || !conv)
            return true;   // a picture that cannot be converted is skipped
        conv->format = f.pixFmt;
        conv->width = f.width;
        conv->height = f.height;
        if (av_frame_get_buffer(conv.get(), 0) < 0)
            return true;
        sws_scale(sws_.get(), frame->data, frame->linesize, 0, frame->height, conv->data, conv->linesize);
        av_frame_copy_props(conv.get(), frame.get());
        frame = std::move(conv);
    }
    return videoQueue()->push(std::move(frame));
}

bool EncoderUrlInput::decode(AVCodecContext* dec, const AVPacket* pkt, bool video)
{
    if (avcodec_send_packet(dec, pkt) < 0 && pkt)
        return true;   // a damaged packet is dropped, as players do
    AVStream* st = ctx_->streams[video ? videoStream_ : audioStream_];
    for (;;) {
        av::FramePtr frame = av::makeFrame();
        if (!frame)
            return false;
        int err = avcodec_receive_frame(dec, frame.get());
        if (err < 0)
            return true;
        if (video) {
            int64_t ts = frame->best_effort_timestamp;
            if (ts == AV_NOPTS_VALUE)
                ts = frame->pts;
            frame->pts = continuous(ts == AV_NOPTS_VALUE
                                        ? AV_NOPTS_VALUE
                                        : av_rescale_q(ts, st->time_base, AVRational{1, kMicroseconds}) - startTime_);
            if (!deliverVideo(std::move(frame)))
                return false;
        } else {
            if (frame->pts != AV_NOPTS_VALUE)
                frame->pts = av_rescale_q(frame->pts, st->time_base, audioFormat_.timeBase) -
                             av_rescale_q(startTime_, AVRational{1, kMicroseconds}, audioFormat_.timeBase);
            if (!audioQueue()->push(std::move(frame)))
                return false;
        }
    }
}

int64_t EncoderUrlInput::continuous(int64_t us)
{
    const int64_t period = av_rescale(kMicroseconds, videoFormat_.frameRate.den, videoFormat_.frameRate.num);
    if (us == AV_NOPTS_VALUE)
        us = lastVideoUs_ == AV_NOPTS_VALUE ? 0 : lastVideoUs_ - videoOffsetUs_ + period;
    int64_t out = us + videoOffsetUs_;
    if (lastVideoUs_ != AV_NOPTS_VALUE && (out <= lastVideoUs_ || out > lastVideoUs_ + kMaxTimestampJumpUs)) {
        // A jump (a source restarted, a timestamp wrap): go on one frame after the last.
        videoOffsetUs_ += lastVideoUs_ + period - out;
        out = lastVideoUs_ + period;
    }
    lastVideoUs_ = out;
    return out;
}

void EncoderUrlInput::read()
{
    const bool wantVideo = videoQueue() && videoDec_;
    const bool wantAudio = audioQueue() && audioDec_;
    av::PacketPtr pkt = av::makePacket();
    if (!pkt) {
        run_.fail("out of memory");
        return;
    }
    while (!aborted()) {
        int err = av_read_frame(ctx_.get(), pkt.get());
        if (err == AVERROR_EOF)
            break;
        if (err < 0) {
            if (!aborted())
                run_.fail(url_ + ": " + av::errorText(err));
            return;
        }
        const bool isVideo = wantVideo && pkt->stream_index == videoStream_;
        const bool isAudio = wantAudio && pkt->stream_index == audioStream_;
        if ((isVideo || isAudio) && realTime_) {
            AVStream* st = ctx_->streams[pkt->stream_index];
            int64_t dts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
            if (dts != AV_NOPTS_VALUE) {
                int64_t us = av_rescale_q(dts, st->time_base, AVRational{1, kMicroseconds});
                if (firstDts_ == AV_NOPTS_VALUE)
                    firstDts_ = us;
                if (!waitUntil(std::chrono::microseconds(us - firstDts_)))
                    break;
            }
        }
        bool ok = true;
        if (isVideo)
            ok = decode(videoDec_.get(), pkt.get(), true);
        else if (isAudio)
            ok = decode(audioDec_.get(), pkt.get(), false);
        av_packet_unref(pkt.get());
        if (!ok)
            return;
    }
    if (aborted())
        return;
    if (wantVideo)
        decode(videoDec_.get(), nullptr, true);
    if (wantAudio)
        decode(audioDec_.get(), nullptr, false);
}

} // namespace tv::media
