#include "media/FilterChain.h"

#include <cstdio>

namespace tv::media {

FilterChain::InputFormat FilterChain::formatOf(const AVFrame* in)
{
    InputFormat f;
    f.width = in->width;
    f.height = in->height;
    f.format = in->format;
    f.sampleRate = in->sample_rate;
    f.channels = in->ch_layout.nb_channels;
    return f;
}

bool FilterChain::needsRebuild(const std::string& text, const AVFrame* in) const
{
    return !built_ || text != text_ || !(formatOf(in) == input_);
}

Status FilterChain::build(const std::string& text, const AVFrame* in, AVRational timeBase)
{
    graph_.reset();
    source_ = sink_ = nullptr;
    built_ = true;
    failed_ = true;
    text_ = text;
    input_ = formatOf(in);

    av::FilterGraphPtr graph(avfilter_graph_alloc());
    if (!graph)
        return fail("out of memory for a filter graph");
    // One player is one of many processes on the machine: keep each graph on
    // the decoding thread rather than spreading it over every core.
    graph->nb_threads = 1;
    // Scale filters of the text (and any the library inserts) use the
    // bilinear kernel unless the text names its own flags: a cell is a
    // fraction of the source, and the default kernel costs a sixth of the
    // decoding on top.
    if (kind_ == Kind::Video)
        graph->scale_sws_opts = av_strdup(kScaleOptions);

    char args[512];
    const AVFilter* srcFilter = nullptr;
    const AVFilter* sinkFilter = nullptr;
    if (kind_ == Kind::Video) {
        const AVRational sar = in->sample_aspect_ratio.num > 0 ? in->sample_aspect_ratio : AVRational{1, 1};
        std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d",
                      in->width, in->height, in->format, timeBase.num, timeBase.den, sar.num, sar.den);
        srcFilter = avfilter_get_by_name("buffer");
        sinkFilter = avfilter_get_by_name("buffersink");
    } else {
        AVChannelLayout layout{};
        if (in->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&layout, in->ch_layout.nb_channels);
        else
            av_channel_layout_copy(&layout, &in->ch_layout);
        char layoutText[128] = {};
        av_channel_layout_describe(&layout, layoutText, sizeof layoutText);
        av_channel_layout_uninit(&layout);
        const char* fmtName = av_get_sample_fmt_name(static_cast<AVSampleFormat>(in->format));
        std::snprintf(args, sizeof args, "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s",
                      timeBase.num, timeBase.den, in->sample_rate, fmtName ? fmtName : "s16", layoutText);
        srcFilter = avfilter_get_by_name("abuffer");
        sinkFilter = avfilter_get_by_name("abuffersink");
    }
    if (!srcFilter || !sinkFilter)
        return fail("the buffer filters are missing from libavfilter");

    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    int err = avfilter_graph_create_filter(&source, srcFilter, "in", args, nullptr, graph.get());
    if (err < 0)
        return fail("cannot create the filter source: " + av::errorText(err));
    err = avfilter_graph_create_filter(&sink, sinkFilter, "out", nullptr, nullptr, graph.get());
    if (err < 0)
        return fail("cannot create the filter sink: " + av::errorText(err));
    if (kind_ == Kind::Video) {
        const AVPixelFormat formats[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_NONE};
        err = av_opt_set_int_list(sink, "pix_fmts", formats, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN);
        if (err < 0)
            return fail("cannot restrict the filter sink to yuv420p: " + av::errorText(err));
    }

    av::FilterInOutPtr outputs(avfilter_inout_alloc());
    av::FilterInOutPtr inputs(avfilter_inout_alloc());
    if (!outputs || !inputs)
        return fail("out of memory for the filter pads");
    outputs->name = av_strdup("in");
    outputs->filter_ctx = source;
    outputs->pad_idx = 0;
    outputs->next = nullptr;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink;
    inputs->pad_idx = 0;
    inputs->next = nullptr;

    const std::string effective = text.empty() ? (kind_ == Kind::Video ? "null" : "anull") : text;
    AVFilterInOut* in_ = inputs.release();
    AVFilterInOut* out_ = outputs.release();
    err = avfilter_graph_parse_ptr(graph.get(), effective.c_str(), &in_, &out_, nullptr);
    inputs.reset(in_);
    outputs.reset(out_);
    if (err < 0)
        return fail("the filter text \"" + text + "\" is not accepted: " + av::errorText(err));
    err = avfilter_graph_config(graph.get(), nullptr);
    if (err < 0)
        return fail("the filter text \"" + text + "\" cannot be configured: " + av::errorText(err));

    graph_ = std::move(graph);
    source_ = source;
    sink_ = sink;
    failed_ = false;
    return {};
}

int FilterChain::push(AVFrame* in)
{
    if (!source_)
        return AVERROR(EINVAL);
    return av_buffersrc_add_frame_flags(source_, in, AV_BUFFERSRC_FLAG_KEEP_REF);
}

int FilterChain::pull(AVFrame* out)
{
    if (!sink_)
        return AVERROR(EINVAL);
    return av_buffersink_get_frame(sink_, out);
}

AVRational FilterChain::outputTimeBase() const
{
    return sink_ ? av_buffersink_get_time_base(sink_) : AVRational{1, AV_TIME_BASE};
}

} // namespace tv::media
