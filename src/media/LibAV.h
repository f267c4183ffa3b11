#pragma once
// The one place that owns libav lifetimes. Every libav object the project
// holds lives in one of these handles; nothing else calls the av_*_free family.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avutil.h>
#include <libavutil/buffer.h>
#include <libavutil/dict.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

namespace tv::av {

template <auto Fn>
struct Deleter {
    template <typename T>
    void operator()(T* p) const { if (p) Fn(p); }
};

// Deleters of the free(&p) kind take the address of the pointer.
template <typename T, void (*Fn)(T**)>
struct RefDeleter {
    void operator()(T* p) const { if (p) Fn(&p); }
};

inline void closeInput(AVFormatContext* c) { avformat_close_input(&c); }
inline void freeOutput(AVFormatContext* c)
{
    // A caller-supplied AVIOContext (AVFMT_FLAG_CUSTOM_IO) belongs to its
    // CustomIOPtr, not to the muxer.
    if (c->pb && !(c->oformat->flags & AVFMT_NOFILE) && !(c->flags & AVFMT_FLAG_CUSTOM_IO))
        avio_closep(&c->pb);
    avformat_free_context(c);
}

// An AVIOContext made by avio_alloc_context: its buffer is ours to free too.
inline void freeCustomIO(AVIOContext* c)
{
    av_freep(&c->buffer);
    avio_context_free(&c);
}

using FramePtr = std::unique_ptr<AVFrame, RefDeleter<AVFrame, av_frame_free>>;
using PacketPtr = std::unique_ptr<AVPacket, RefDeleter<AVPacket, av_packet_free>>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, RefDeleter<AVCodecContext, avcodec_free_context>>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, RefDeleter<AVFilterGraph, avfilter_graph_free>>;
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, RefDeleter<AVFilterInOut, avfilter_inout_free>>;
using InputContextPtr = std::unique_ptr<AVFormatContext, Deleter<closeInput>>;
using OutputContextPtr = std::unique_ptr<AVFormatContext, Deleter<freeOutput>>;
using SwrContextPtr = std::unique_ptr<SwrContext, RefDeleter<SwrContext, swr_free>>;
using SwsContextPtr = std::unique_ptr<SwsContext, Deleter<sws_freeContext>>;
using DictPtr = std::unique_ptr<AVDictionary, RefDeleter<AVDictionary, av_dict_free>>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, Deleter<av_audio_fifo_free>>;
using BufferPoolPtr = std::unique_ptr<AVBufferPool, RefDeleter<AVBufferPool, av_buffer_pool_uninit>>;
using BufferRefPtr = std::unique_ptr<AVBufferRef, RefDeleter<AVBufferRef, av_buffer_unref>>;
using CustomIOPtr = std::unique_ptr<AVIOContext, Deleter<freeCustomIO>>;

inline FramePtr makeFrame() { return FramePtr(av_frame_alloc()); }
inline PacketPtr makePacket() { return PacketPtr(av_packet_alloc()); }

// A new reference to the same picture buffers (no pixel copy).
inline FramePtr refFrame(const AVFrame* src)
{
    FramePtr f = makeFrame();
    if (f && av_frame_ref(f.get(), src) < 0)
        f.reset();
    return f;
}

// libav's error code as text.
inline std::string errorText(int err)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

} // namespace tv::av
