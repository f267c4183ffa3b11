#include "media/EncoderFrameInput.h"

#include "media/TFrameInputAdapter.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
}

#include <cstring>

namespace tv::media {

int EncoderFrameInput::pictureBytes(AVPixelFormat fmt, int w, int h)
{
    return av_image_get_buffer_size(fmt, w, h, 1);
}

Result<std::unique_ptr<EncoderInput>> EncoderFrameInput::open(const std::string& fileName,
                                                              const std::vector<OptionItem>& options)
{
    auto* adapter = TFrameInputAdapter::Find(fileName);
    if (!adapter)
        return fail("frameinput: '" + fileName + "' names no frame input adapter");

    std::unique_ptr<EncoderFrameInput> in(new EncoderFrameInput);
    in->adapter_ = adapter;
    in->format_.pixFmt = AV_PIX_FMT_YUV420P;
    in->format_.timeBase = AVRational{1, kMicroseconds};
    bool haveSize = false;
    for (const auto& o : options) {
        if (o.name == "re") {
            in->realTime_ = true;
        } else if (o.name == "f") {
            // the caller chose this format by it
        } else if (o.name == "input_type") {
            if (o.value != "yuv")
                return fail("frameinput: input type '" + o.value + "' is not supported (only yuv)");
        } else if (o.name == "pix_fmt" || o.name == "pixel_format") {
            in->format_.pixFmt = av_get_pix_fmt(o.value.c_str());
            if (in->format_.pixFmt == AV_PIX_FMT_NONE)
                return fail("frameinput: unknown pixel format '" + o.value + "'");
        } else if (o.name == "r" || o.name == "framerate") {
            AVRational r{};
            if (av_parse_video_rate(&r, o.value.c_str()) < 0 || r.num <= 0 || r.den <= 0)
                return fail("frameinput: invalid frame rate '" + o.value + "'");
            in->format_.frameRate = r;
        } else if (o.name == "s" || o.name == "video_size") {
            if (av_parse_video_size(&in->format_.width, &in->format_.height, o.value.c_str()) < 0)
                return fail("frameinput: invalid picture size '" + o.value + "'");
            haveSize = true;
        } else {
            return fail("Unrecognized option '" + o.name + "' for frameinput");
        }
    }
    if (!haveSize)
        return fail("frameinput: the picture size (-s WxH) is missing");
    const int bytes = pictureBytes(in->format_.pixFmt, in->format_.width, in->format_.height);
    if (bytes <= 0)
        return fail("frameinput: no picture of " + std::to_string(in->format_.width) + "x" +
                    std::to_string(in->format_.height) + " in " + av_get_pix_fmt_name(in->format_.pixFmt));

    in->pool_.reset(av_buffer_pool_init2(static_cast<size_t>(bytes), in.get(), &allocBlack, nullptr));
    if (!in->pool_)
        return fail("frameinput: out of memory");

    TInputFrameInfo& info = adapter->FrameInfo;
    info = TInputFrameInfo{};
    info.Width = in->format_.width;
    info.Height = in->format_.height;
    info.BytesPerFrame = bytes;
    if (adapter->OnReadHeader)
        adapter->OnReadHeader(adapter);
    return std::unique_ptr<EncoderInput>(std::move(in));
}

// A fresh pool buffer holds a black picture; the pool hands buffers back
// with whatever the last handler wrote into them.
AVBufferRef* EncoderFrameInput::allocBlack(void* opaque, size_t size)
{
    auto* self = static_cast<EncoderFrameInput*>(opaque);
    AVBufferRef* buf = av_buffer_alloc(size);
    if (!buf)
        return nullptr;
    uint8_t* data[4] = {};
    int linesize[4] = {};
    av_image_fill_arrays(data, linesize, buf->data, self->format_.pixFmt, self->format_.width,
                         self->format_.height, 1);
    ptrdiff_t ls[4] = {linesize[0], linesize[1], linesize[2], linesize[3]};
    if (av_image_fill_black(data, ls, self->format_.pixFmt, AVCOL_RANGE_MPEG, self->format_.width,
                            self->format_.height) < 0)
        std::memset(buf->data, 0, size);
    return buf;
}

std::string EncoderFrameInput::describe() const
{
    return "frameinput " + std::to_string(format_.width) + "x" + std::to_string(format_.height);
}

void EncoderFrameInput::read()
{
    TInputFrameInfo& info = adapter_->FrameInfo;
    const int64_t period = av_rescale(kMicroseconds, format_.frameRate.den, format_.frameRate.num);
    int64_t proposal = 0;
    bool refusalLogged = false;
    EncoderFrameQueue* queue = videoQueue();
    while (!aborted()) {
        if (realTime_ && !waitUntil(std::chrono::microseconds(proposal)))
            break;
        av::FramePtr frame = av::makeFrame();
        AVBufferRef* buf = av_buffer_pool_get(pool_.get());
        if (!frame || !buf) {
            av_buffer_unref(&buf);
            run_.fail("frameinput: out of memory");
            return;
        }
        frame->buf[0] = buf;
        frame->format = format_.pixFmt;
        frame->width = format_.width;
        frame->height = format_.height;
        av_image_fill_arrays(frame->data, frame->linesize, buf->data, format_.pixFmt, format_.width,
                             format_.height, 1);

        info.TimeStamp = proposal;
        int result = adapter_->OnReadFrameYUV ? adapter_->OnReadFrameYUV(adapter_, buf->data, info)
                                              : info.BytesPerFrame;
        if (result < 0) {
            run_.fail("frameinput: the frame handler failed with " + std::to_string(result));
            return;
        }
        int64_t ts = proposal;
        if (info.TimeStamp != proposal) {
            if (info.TimeStamp > info.LastTimeStamp) {
                ts = info.TimeStamp;
            } else if (!refusalLogged) {
                // Once per input: a handler that keeps doing it would flood the log.
                refusalLogged = true;
                av_log(nullptr, AV_LOG_WARNING,
                       "frameinput: timestamp %lld refused, not after %lld\n",
                       static_cast<long long>(info.TimeStamp), static_cast<long long>(info.LastTimeStamp));
            }
        }
        info.TimeStamp = ts;
        info.LastTimeStamp = ts;
        frame->pts = ts;
        frame->pkt_duration = period;
        proposal = ts + period;
        if (!queue->push(std::move(frame)))
            return;
    }
}

} // namespace tv::media
