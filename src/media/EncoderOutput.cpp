#include "media/EncoderOutput.h"

#include "media/TMemoryAccessAdapter.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cstdio>

namespace tv::media {

struct EncoderOutput::AudioStream {
    int input = -1;
    av::CodecContextPtr enc;
    AVStream* st = nullptr;
    av::SwrContextPtr swr;
    AVChannelLayout swrInLayout{};
    int swrInRate = 0;
    int swrInFmt = -1;
    av::AudioFifoPtr fifo;
    int frameSize = 0;
    int64_t nextPts = 0;

    ~AudioStream() { av_channel_layout_uninit(&swrInLayout); }
};

namespace {

const AVCodec* findEncoder(const std::string& name, AVCodecID fallback, AVMediaType type, std::string& error)
{
    const AVCodec* c = nullptr;
    if (!name.empty()) {
        c = avcodec_find_encoder_by_name(name.c_str());
        if (!c) {
            const AVCodecDescriptor* d = avcodec_descriptor_get_by_name(name.c_str());
            if (d)
                c = avcodec_find_encoder(d->id);
        }
        if (!c) {
            error = "Unknown encoder '" + name + "'";
            return nullptr;
        }
    } else if (fallback != AV_CODEC_ID_NONE) {
        c = avcodec_find_encoder(fallback);
        if (!c) {
            error = std::string("no encoder for ") + avcodec_get_name(fallback);
            return nullptr;
        }
    }
    if (c && c->type != type) {
        error = std::string("'") + c->name + "' is not a " + av_get_media_type_string(type) + " encoder";
        return nullptr;
    }
    return c;
}

bool optionAppliesTo(const AVOption* o, int mediaFlag)
{
    const int mediaMask = AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_SUBTITLE_PARAM;
    return !(o->flags & mediaMask) || (o->flags & mediaFlag);
}

bool isVideoSpec(const std::string& s) { return s.empty() || s == "v" || s == "v:0"; }
bool isAudioSpec(const std::string& s) { return s.empty() || s == "a" || s.rfind("a:", 0) == 0; }

} // namespace

EncoderOutput::~EncoderOutput() { close(); }

std::vector<int> EncoderOutput::audioInputs() const
{
    std::vector<int> v;
    for (const auto& a : audio_)
        if (std::find(v.begin(), v.end(), a->input) == v.end())
            v.push_back(a->input);
    return v;
}

Result<std::unique_ptr<EncoderOutput>> EncoderOutput::create(const std::vector<EncoderInput*>& inputs,
                                                             const EncoderOutputSettings& s,
                                                             Destination destination,
                                                             const std::atomic<bool>* abort)
{
    std::unique_ptr<EncoderOutput> out(new EncoderOutput);
    out->destination_ = destination;
    out->abort_ = abort;
    out->packet_ = av::makePacket();
    if (!out->packet_)
        return fail("out of memory");

    // Muxer.
    AVFormatContext* oc = nullptr;
    const char* fmtName = s.format.empty() ? nullptr : s.format.c_str();
    const char* url = destination.stream ? nullptr : destination.url.c_str();
    int err = avformat_alloc_output_context2(&oc, nullptr, fmtName, url);
    if (err < 0 || !oc) {
        if (fmtName)
            return fail("Unknown output format '" + s.format + "'");
        return fail("no output format fits '" + destination.url + "'; name one with -f");
    }
    out->oc_.reset(oc);

    // Video: the graph's output.
    std::string error;
    const AVCodec* vcodec = nullptr;
    const bool graphWanted = !s.noVideo && (s.hasFilterComplex || (!inputs.empty() && inputs[0]->video()));
    if (graphWanted) {
        vcodec = findEncoder(s.videoCodec, oc->oformat->video_codec, AVMEDIA_TYPE_VIDEO, error);
        if (!vcodec)
            return fail(error.empty() ? "the output format takes no video" : error);
        if (auto st = out->buildGraph(inputs, s, vcodec); !st)
            return fail(st.error());
        AVCodecContext* enc = avcodec_alloc_context3(vcodec);
        if (!enc)
            return fail("out of memory");
        out->videoEnc_.reset(enc);
        AVRational fps = s.frameRate.num > 0 ? s.frameRate : av_buffersink_get_frame_rate(out->sink_);
        if (fps.num <= 0 || fps.den <= 0)
            fps = kDefaultFrameRate;
        enc->width = av_buffersink_get_w(out->sink_);
        enc->height = av_buffersink_get_h(out->sink_);
        enc->pix_fmt = static_cast<AVPixelFormat>(av_buffersink_get_format(out->sink_));
        enc->sample_aspect_ratio = av_buffersink_get_sample_aspect_ratio(out->sink_);
        enc->framerate = fps;
        enc->time_base = av_inv_q(fps);
        av_opt_set(enc, "threads", "auto", 0);
        if (oc->oformat->flags & AVFMT_GLOBALHEADER)
            enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }

    // Sound: the mapped inputs, or without maps the input FFmpeg would pick.
    std::vector<int> audioInputs = s.audioMaps;
    for (int k : audioInputs) {
        if (k >= static_cast<int>(inputs.size()))
            return fail("-map " + std::to_string(k) + ":a names no input (there are " +
                        std::to_string(inputs.size()) + ")");
        if (!inputs[k]->audio())
            return fail("-map " + std::to_string(k) + ":a: input " + std::to_string(k) + " has no sound");
    }
    if (audioInputs.empty() && !s.noAudio && (oc->oformat->audio_codec != AV_CODEC_ID_NONE || !s.audioCodec.empty())) {
        int best = -1;
        for (size_t k = 0; k < inputs.size(); ++k)
            if (inputs[k]->audio() && (best < 0 || inputs[k]->audio()->channels > inputs[best]->audio()->channels))
                best = static_cast<int>(k);
        if (best >= 0)
            audioInputs.push_back(best);
    }
    if (s.noAudio)
        audioInputs.clear();
    for (int k : audioInputs) {
        const AudioFormat& in = *inputs[k]->audio();
        const AVCodec* acodec = findEncoder(s.audioCodec, oc->oformat->audio_codec, AVMEDIA_TYPE_AUDIO, error);
        if (!acodec)
            return fail(error.empty() ? "the output format takes no sound" : error);
        auto a = std::make_unique<AudioStream>();
        a->input = k;
        AVCodecContext* enc = avcodec_alloc_context3(acodec);
        if (!enc)
            return fail("out of memory");
        a->enc.reset(enc);
        int rate = s.sampleRate > 0 ? s.sampleRate : in.sampleRate;
        if (acodec->supported_samplerates) {
            bool ok = false;
            for (const int* r = acodec->supported_samplerates; *r; ++r)
                ok = ok || *r == rate;
            if (!ok)
                rate = acodec->supported_samplerates[0];
        }
        enc->sample_rate = rate;
        const int channels = s.channels > 0 ? s.channels : in.channels;
        av_channel_layout_default(&enc->ch_layout, channels);
        if (acodec->ch_layouts) {
            bool ok = false;
            for (const AVChannelLayout* l = acodec->ch_layouts; l->nb_channels; ++l)
                ok = ok || av_channel_layout_compare(l, &enc->ch_layout) == 0;
            if (!ok) {
                av_channel_layout_uninit(&enc->ch_layout);
                av_channel_layout_copy(&enc->ch_layout, &acodec->ch_layouts[0]);
            }
        }
        enc->sample_fmt = acodec->sample_fmts ? acodec->sample_fmts[0] : in.sampleFmt;
        if (acodec->sample_fmts)
            for (const AVSampleFormat* f = acodec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
                if (*f == in.sampleFmt)
                    enc->sample_fmt = in.sampleFmt;
        enc->time_base = AVRational{1, rate};
        if (oc->oformat->flags & AVFMT_GLOBALHEADER)
            enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        out->audio_.push_back(std::move(a));
    }
    if (!out->videoEnc_ && out->audio_.empty())
        return fail("the output has no stream: no video graph and no sound");

    if (auto st = out->applyPrivateOptions(s); !st)
        return fail(st.error());

    // Open the encoders and declare the streams, video first.
    if (out->videoEnc_) {
        AVCodecContext* enc = out->videoEnc_.get();
        err = avcodec_open2(enc, enc->codec, nullptr);
        if (err < 0)
            return fail(std::string("cannot open the ") + enc->codec->name + " encoder: " + av::errorText(err));
        AVStream* st = avformat_new_stream(oc, nullptr);
        if (!st)
            return fail("out of memory");
        avcodec_parameters_from_context(st->codecpar, enc);
        st->time_base = enc->time_base;
        st->avg_frame_rate = enc->framerate;
        out->videoStream_ = st;
    }
    for (auto& a : out->audio_) {
        AVCodecContext* enc = a->enc.get();
        err = avcodec_open2(enc, enc->codec, nullptr);
        if (err < 0)
            return fail(std::string("cannot open the ") + enc->codec->name + " encoder: " + av::errorText(err));
        a->frameSize = enc->frame_size > 0 ? enc->frame_size : kFallbackAudioFrameSamples;
        a->fifo.reset(av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, a->frameSize * 2));
        AVStream* st = avformat_new_stream(oc, nullptr);
        if (!st || !a->fifo)
            return fail("out of memory");
        avcodec_parameters_from_context(st->codecpar, enc);
        st->time_base = enc->time_base;
        a->st = st;
    }
    for (const auto& [k, v] : s.metadata)
        av_dict_set(&oc->metadata, k.c_str(), v.c_str(), 0);
    return out;
}

Status EncoderOutput::buildGraph(const std::vector<EncoderInput*>& inputs, const EncoderOutputSettings& s,
                                 const AVCodec* videoCodec)
{
    graph_.reset(avfilter_graph_alloc());
    if (!graph_)
        return fail("out of memory");
    const std::string text = s.hasFilterComplex ? s.filterComplex : std::string("[0:v] null");
    AVFilterInOut* ins = nullptr;
    AVFilterInOut* outs = nullptr;
    int err = avfilter_graph_parse2(graph_.get(), text.c_str(), &ins, &outs);
    av::FilterInOutPtr insGuard(ins), outsGuard(outs);
    if (err < 0)
        return fail("the filter graph cannot be read: " + av::errorText(err));

    for (AVFilterInOut* in = ins; in; in = in->next) {
        const std::string label = in->name ? in->name : "";
        int k = -1;
        char kind = 'v';
        char tail = 0;
        const int n = std::sscanf(label.c_str(), "%d:%c%c", &k, &kind, &tail);
        if (label.empty() || n < 1 || n > 2 || k < 0 || kind != 'v')
            return fail("filter graph input '" + label + "' is not bound to an input (use [k:v])");
        if (k >= static_cast<int>(inputs.size()))
            return fail("filter graph input [" + label + "] names input " + std::to_string(k) +
                        ", but there are only " + std::to_string(inputs.size()));
        const VideoFormat* vf = inputs[k]->video();
        if (!vf)
            return fail("filter graph input [" + label + "]: input " + std::to_string(k) + " has no video");
        if (sources_.count(k))
            return fail("filter graph input [" + label + "] is used twice");
        char args[256];
        std::snprintf(args, sizeof args,
                      "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d:frame_rate=%d/%d",
                      vf->width, vf->height, vf->pixFmt, vf->timeBase.num, vf->timeBase.den,
                      vf->sampleAspect.num, vf->sampleAspect.den, vf->frameRate.num, vf->frameRate.den);
        AVFilterContext* src = nullptr;
        const std::string srcName = "input_" + std::to_string(k);
        err = avfilter_graph_create_filter(&src, avfilter_get_by_name("buffer"), srcName.c_str(), args, nullptr,
                                           graph_.get());
        if (err < 0)
            return fail("filter graph input [" + label + "]: " + av::errorText(err));
        err = avfilter_link(src, 0, in->filter_ctx, in->pad_idx);
        if (err < 0)
            return fail("filter graph input [" + label + "] cannot be linked: " + av::errorText(err));
        sources_[k] = src;
        videoInputs_.push_back(k);
    }
    int outCount = 0;
    for (AVFilterInOut* o = outs; o; o = o->next)
        ++outCount;
    if (outCount != 1)
        return fail("the filter graph has " + std::to_string(outCount) + " open outputs; exactly one is the video");
    if (avfilter_pad_get_type(outs->filter_ctx->output_pads, outs->pad_idx) != AVMEDIA_TYPE_VIDEO)
        return fail("the filter graph's output is not video");

    AVFilterContext* last = outs->filter_ctx;
    int lastPad = outs->pad_idx;
    auto append = [&](const char* filter, const std::string& args, const char* name) -> Status {
        AVFilterContext* f = nullptr;
        int e = avfilter_graph_create_filter(&f, avfilter_get_by_name(filter), name, args.c_str(), nullptr,
                                             graph_.get());
        if (e < 0)
            return fail(std::string("output filter ") + filter + "=" + args + ": " + av::errorText(e));
        e = avfilter_link(last, lastPad, f, 0);
        if (e < 0)
            return fail(std::string("output filter ") + filter + ": " + av::errorText(e));
        last = f;
        lastPad = 0;
        return {};
    };
    if (s.frameRate.num > 0)
        if (auto st = append("fps", std::to_string(s.frameRate.num) + "/" + std::to_string(s.frameRate.den), "out_fps"); !st)
            return st;
    if (s.width > 0)
        if (auto st = append("scale", std::to_string(s.width) + "x" + std::to_string(s.height), "out_scale"); !st)
            return st;
    std::string formats;
    if (s.pixFmt != AV_PIX_FMT_NONE) {
        formats = av_get_pix_fmt_name(s.pixFmt);
    } else if (videoCodec->pix_fmts) {
        for (const AVPixelFormat* p = videoCodec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
            formats += (formats.empty() ? "" : "|") + std::string(av_get_pix_fmt_name(*p));
    }
    if (!formats.empty())
        if (auto st = append("format", "pix_fmts=" + formats, "out_format"); !st)
            return st;
    err = avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                       graph_.get());
    if (err < 0)
        return fail("buffersink: " + av::errorText(err));
    err = avfilter_link(last, lastPad, sink_, 0);
    if (err < 0)
        return fail("buffersink: " + av::errorText(err));
    err = avfilter_graph_config(graph_.get(), nullptr);
    if (err < 0)
        return fail("the filter graph cannot be configured: " + av::errorText(err));
    return {};
}

Status EncoderOutput::applyPrivateOptions(const EncoderOutputSettings& s)
{
    AVFormatContext* oc = oc_.get();
    const AVClass* protocolClass = nullptr;
    if (!destination_.stream && !(oc->oformat->flags & AVFMT_NOFILE))
        if (const char* proto = avio_find_protocol_name(destination_.url.c_str()))
            protocolClass = avio_protocol_get_class(proto);

    AVDictionary* protocolOpts = nullptr;
    for (const auto& o : s.privateOptions) {
        const auto [name, spec] = splitStreamSpecifier(o.name);
        bool known = false;
        auto trySet = [&](void* obj, int mediaFlag) -> Status {
            const AVOption* opt = av_opt_find(obj, name.c_str(), nullptr, 0, AV_OPT_SEARCH_CHILDREN);
            if (!opt || (mediaFlag && !optionAppliesTo(opt, mediaFlag)))
                return {};
            known = true;
            int e = av_opt_set(obj, name.c_str(), o.value.c_str(), AV_OPT_SEARCH_CHILDREN);
            if (e < 0)
                return fail("Invalid value '" + o.value + "' for option '" + o.name + "': " + av::errorText(e));
            return {};
        };
        if (videoEnc_ && isVideoSpec(spec))
            if (auto st = trySet(videoEnc_.get(), AV_OPT_FLAG_VIDEO_PARAM); !st)
                return st;
        if (isAudioSpec(spec))
            for (auto& a : audio_)
                if (auto st = trySet(a->enc.get(), AV_OPT_FLAG_AUDIO_PARAM); !st)
                    return st;
        if (spec.empty()) {
            if (auto st = trySet(oc, 0); !st)
                return st;
            if (protocolClass && av_opt_find(&protocolClass, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)) {
                known = true;
                av_dict_set(&protocolOpts, name.c_str(), o.value.c_str(), 0);
            }
        }
        if (!known) {
            // An option of a stream this output does not have (-b:a without
            // sound) is accepted as the command line accepts it.
            const AVClass* codecClass = avcodec_get_class();
            if (av_opt_find(&codecClass, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
                known = true;
        }
        if (!known) {
            av_dict_free(&protocolOpts);
            return fail("Unrecognized option '" + o.name + "'");
        }
    }
    protocolOptions_.reset(protocolOpts);
    return {};
}

int EncoderOutput::interrupted(void* opaque)
{
    auto* self = static_cast<EncoderOutput*>(opaque);
    return self->abort_ && self->abort_->load() ? 1 : 0;
}

int EncoderOutput::writePacket(void* opaque, uint8_t* buf, int size)
{
    auto* self = static_cast<EncoderOutput*>(opaque);
    int n = self->destination_.stream->write(buf, size);
    return n < 0 ? AVERROR(EIO) : n;
}

int64_t EncoderOutput::seekPacket(void* opaque, int64_t offset, int whence)
{
    auto* self = static_cast<EncoderOutput*>(opaque);
    if (whence & AVSEEK_SIZE)
        return -1;
    int64_t pos = self->destination_.stream->seek(offset, whence & ~AVSEEK_FORCE);
    return pos < 0 ? AVERROR(EIO) : pos;
}

Status EncoderOutput::open()
{
    AVFormatContext* oc = oc_.get();
    if (!(oc->oformat->flags & AVFMT_NOFILE)) {
        if (destination_.stream) {
            if (!destination_.stream->open(destination_.url, destination_.privateData, AVIO_FLAG_WRITE))
                return fail("the output stream could not be opened");
            opened_ = true;
            auto* buffer = static_cast<unsigned char*>(av_malloc(kCustomIOBufferBytes));
            if (!buffer)
                return fail("out of memory");
            AVIOContext* io = avio_alloc_context(buffer, kCustomIOBufferBytes, 1, this, nullptr, &writePacket,
                                                 destination_.stream->canSeek() ? &seekPacket : nullptr);
            if (!io) {
                av_free(buffer);
                return fail("out of memory");
            }
            io->seekable = destination_.stream->canSeek() ? AVIO_SEEKABLE_NORMAL : 0;
            customIO_.reset(io);
            oc->pb = io;
            oc->flags |= AVFMT_FLAG_CUSTOM_IO;
        } else {
            AVIOInterruptCB cb{&EncoderOutput::interrupted, this};
            AVDictionary* d = protocolOptions_.release();
            int err = avio_open2(&oc->pb, destination_.url.c_str(), AVIO_FLAG_WRITE, &cb, &d);
            protocolOptions_.reset(d);
            if (err < 0)
                return fail(destination_.url + ": " + av::errorText(err));
            opened_ = true;
        }
    }
    oc->interrupt_callback = AVIOInterruptCB{&EncoderOutput::interrupted, this};
    int err = avformat_write_header(oc, nullptr);
    if (err < 0)
        return fail("the output header cannot be written: " + av::errorText(err));
    headerWritten_ = true;
    return {};
}

Status EncoderOutput::drain(AVCodecContext* enc, AVStream* st)
{
    for (;;) {
        int err = avcodec_receive_packet(enc, packet_.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            return {};
        if (err < 0)
            return fail(std::string("encoding failed: ") + av::errorText(err));
        av_packet_rescale_ts(packet_.get(), enc->time_base, st->time_base);
        packet_->stream_index = st->index;
        err = av_interleaved_write_frame(oc_.get(), packet_.get());
        if (err < 0)
            return fail("writing the output failed: " + av::errorText(err));
    }
}

Status EncoderOutput::encodeVideo(AVFrame* frame)
{
    AVCodecContext* enc = videoEnc_.get();
    int64_t pts = frame->pts == AV_NOPTS_VALUE
                      ? (lastVideoPts_ == AV_NOPTS_VALUE ? 0 : lastVideoPts_ + 1)
                      : av_rescale_q_rnd(frame->pts, av_buffersink_get_time_base(sink_), enc->time_base,
                                         static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
    if (lastVideoPts_ != AV_NOPTS_VALUE && pts <= lastVideoPts_)
        return {};   // two pictures for one output slot: keep the first
    lastVideoPts_ = pts;
    frame->pts = pts;
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    int err = avcodec_send_frame(enc, frame);
    if (err < 0)
        return fail(std::string("video encoding failed: ") + av::errorText(err));
    ++framesEncoded_;
    return drain(enc, videoStream_);
}

Result<EncoderOutput::Pull> EncoderOutput::pullVideo(int& needInput)
{
    av::FramePtr frame = av::makeFrame();
    if (!frame)
        return fail("out of memory");
    int err = av_buffersink_get_frame_flags(sink_, frame.get(), 0);
    if (err >= 0) {
        if (auto st = encodeVideo(frame.get()); !st)
            return fail(st.error());
        return Pull::Encoded;
    }
    if (err == AVERROR_EOF)
        return Pull::End;
    if (err != AVERROR(EAGAIN))
        return fail("the filter graph failed: " + av::errorText(err));
    unsigned best = 0;
    needInput = -1;
    for (const auto& [k, src] : sources_) {
        unsigned n = av_buffersrc_get_nb_failed_requests(src);
        if (n > best || needInput < 0) {
            best = n;
            needInput = k;
        }
    }
    if (needInput < 0)
        return Pull::End;   // a graph without inputs that wants more: nothing will come
    return Pull::NeedInput;
}

Status EncoderOutput::feedVideo(int input, AVFrame* frame)
{
    auto it = sources_.find(input);
    if (it == sources_.end())
        return {};
    int err = av_buffersrc_add_frame_flags(it->second, frame, 0);
    if (err < 0 && err != AVERROR_EOF)
        return fail("the filter graph refused a picture of input " + std::to_string(input) + ": " +
                    av::errorText(err));
    return {};
}

Status EncoderOutput::feedAudio(int input, AVFrame* frame)
{
    for (auto& a : audio_) {
        if (a->input != input)
            continue;
        AVCodecContext* enc = a->enc.get();
        if (!a->swr || a->swrInRate != frame->sample_rate || a->swrInFmt != frame->format ||
            av_channel_layout_compare(&a->swrInLayout, &frame->ch_layout) != 0) {
            SwrContext* swr = nullptr;
            int err = swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate,
                                          &frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                          frame->sample_rate, 0, nullptr);
            a->swr.reset(swr);
            if (err < 0 || (err = swr_init(swr)) < 0)
                return fail("sound of input " + std::to_string(input) + " cannot be converted: " + av::errorText(err));
            a->swrInRate = frame->sample_rate;
            a->swrInFmt = frame->format;
            av_channel_layout_uninit(&a->swrInLayout);
            av_channel_layout_copy(&a->swrInLayout, &frame->ch_layout);
        }
        av::FramePtr conv = av::makeFrame();
        if (!conv)
            return fail("out of memory");
        conv->format = enc->sample_fmt;
        av_channel_layout_copy(&conv->ch_layout, &enc->ch_layout);
        conv->sample_rate = enc->sample_rate;
        conv->nb_samples = swr_get_out_samples(a->swr.get(), frame->nb_samples);
        if (conv->nb_samples <= 0)
            continue;
        if (av_frame_get_buffer(conv.get(), 0) < 0)
            return fail("out of memory");
        int n = swr_convert(a->swr.get(), conv->data, conv->nb_samples,
                            const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        if (n < 0)
            return fail("sound conversion failed: " + av::errorText(n));
        if (n > 0 && av_audio_fifo_write(a->fifo.get(), reinterpret_cast<void**>(conv->data), n) < n)
            return fail("out of memory");
        if (auto st = encodeAudioFifo(*a, false); !st)
            return st;
    }
    return {};
}

Status EncoderOutput::encodeAudioFifo(AudioStream& a, bool flush)
{
    AVCodecContext* enc = a.enc.get();
    const bool smallLast = enc->codec->capabilities &
                           (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    for (;;) {
        const int have = av_audio_fifo_size(a.fifo.get());
        if (have <= 0 || (have < a.frameSize && !flush))
            return {};
        const int take = std::min(have, a.frameSize);
        av::FramePtr f = av::makeFrame();
        if (!f)
            return fail("out of memory");
        f->format = enc->sample_fmt;
        av_channel_layout_copy(&f->ch_layout, &enc->ch_layout);
        f->sample_rate = enc->sample_rate;
        f->nb_samples = (take < a.frameSize && !smallLast) ? a.frameSize : take;
        if (av_frame_get_buffer(f.get(), 0) < 0)
            return fail("out of memory");
        if (f->nb_samples > take)
            av_samples_set_silence(f->extended_data, take, f->nb_samples - take, enc->ch_layout.nb_channels,
                                   enc->sample_fmt);
        av_audio_fifo_read(a.fifo.get(), reinterpret_cast<void**>(f->extended_data), take);
        f->pts = a.nextPts;
        a.nextPts += f->nb_samples;
        int err = avcodec_send_frame(enc, f.get());
        if (err < 0)
            return fail(std::string("audio encoding failed: ") + av::errorText(err));
        if (auto st = drain(enc, a.st); !st)
            return st;
    }
}

Status EncoderOutput::finish()
{
    if (!headerWritten_)
        return {};
    Status result;
    if (videoEnc_) {
        avcodec_send_frame(videoEnc_.get(), nullptr);
        if (auto st = drain(videoEnc_.get(), videoStream_); !st && result)
            result = st;
    }
    for (auto& a : audio_) {
        if (auto st = encodeAudioFifo(*a, true); !st && result)
            result = st;
        avcodec_send_frame(a->enc.get(), nullptr);
        if (auto st = drain(a->enc.get(), a->st); !st && result)
            result = st;
    }
    int err = av_write_trailer(oc_.get());
    headerWritten_ = false;
    if (err < 0 && result)
        result = fail("the output trailer cannot be written: " + av::errorText(err));
    return result;
}

void EncoderOutput::close()
{
    if (!opened_)
        return;
    opened_ = false;
    AVFormatContext* oc = oc_.get();
    if (customIO_) {
        avio_flush(customIO_.get());
        oc->pb = nullptr;
        customIO_.reset();
        destination_.stream->close();
    } else if (oc && oc->pb) {
        avio_closep(&oc->pb);
    }
}

} // namespace tv::media
