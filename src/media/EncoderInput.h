#pragma once
// EncoderInput: one input of an encoder task (a URL, a frame adapter or a
// wave adapter). It is opened by AddTask/AddInput on the caller's thread,
// describes its video and audio, and once started reads on a thread of its
// own into the frame queues of the streams the task uses. Frames leave with
// timestamps in the stream's time base. Errors while running go to the
// task's failure callback; the input then ends its queues.

#include "media/BoundedQueue.h"
#include "media/LibAV.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace tv::media {

struct VideoFormat {
    int width = 0;
    int height = 0;
    AVPixelFormat pixFmt = AV_PIX_FMT_NONE;
    AVRational timeBase{1, 1000000};
    AVRational frameRate{25, 1};
    AVRational sampleAspect{1, 1};
};

struct AudioFormat {
    int sampleRate = 0;
    int channels = 0;
    AVSampleFormat sampleFmt = AV_SAMPLE_FMT_NONE;
    AVRational timeBase{1, 1};
};

// What a running input shares with its task.
struct InputRun {
    std::chrono::steady_clock::time_point start;   // common real-time origin ("-re")
    const std::atomic<bool>* abort = nullptr;
    std::function<void(const std::string&)> fail;   // reading thread
};

// The frames of one input stream on their way from the input's reading
// thread to the encoder's thread; ended with finish() after the last frame.
using EncoderFrameQueue = BoundedQueue<av::FramePtr>;

class EncoderInput {
public:
    static constexpr std::size_t kVideoQueueFrames = 8;
    static constexpr std::size_t kAudioQueueFrames = 16;

    virtual ~EncoderInput() { stop(); }

    virtual std::string describe() const = 0;
    virtual const VideoFormat* video() const { return nullptr; }
    virtual const AudioFormat* audio() const { return nullptr; }

    // The task declares which streams it reads before start().
    void useVideo()
    {
        if (!videoQueue_)
            videoQueue_ = std::make_unique<EncoderFrameQueue>(kVideoQueueFrames, EncoderFrameQueue::Refill::AnyRoom);
    }
    void useAudio()
    {
        if (!audioQueue_)
            audioQueue_ = std::make_unique<EncoderFrameQueue>(kAudioQueueFrames, EncoderFrameQueue::Refill::AnyRoom);
    }
    EncoderFrameQueue* videoQueue() const { return videoQueue_.get(); }
    EncoderFrameQueue* audioQueue() const { return audioQueue_.get(); }

    void start(InputRun run)
    {
        if (!videoQueue_ && !audioQueue_)
            return;
        run_ = std::move(run);
        thread_ = std::thread([this] { read(); finishQueues(); });
    }

    // Ends the reading thread; any thread but the reading one.
    void stop()
    {
        if (videoQueue_)
            videoQueue_->stop();
        if (audioQueue_)
            audioQueue_->stop();
        if (thread_.joinable())
            thread_.join();
    }

protected:
    // The reading loop, on the input's thread. Returns at the end of the
    // input, on abort or after reporting a failure through run_.fail.
    virtual void read() = 0;

    bool aborted() const { return run_.abort && run_.abort->load(); }

    // Sleeps until `start + at`; false when aborted meanwhile.
    bool waitUntil(std::chrono::microseconds at) const
    {
        const auto due = run_.start + at;
        while (!aborted()) {
            auto now = std::chrono::steady_clock::now();
            if (now >= due)
                return true;
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                due - now, std::chrono::milliseconds(20)));
        }
        return false;
    }

    InputRun run_;

private:
    void finishQueues()
    {
        if (videoQueue_)
            videoQueue_->finish();
        if (audioQueue_)
            audioQueue_->finish();
    }

    std::unique_ptr<EncoderFrameQueue> videoQueue_;
    std::unique_ptr<EncoderFrameQueue> audioQueue_;
    std::thread thread_;
};

} // namespace tv::media
