#include "media/EncoderTask.h"

namespace tv::media {

EncoderTask::~EncoderTask()
{
    abort();
    join();
    for (auto& in : inputs_)
        in->stop();
}

bool EncoderTask::start(Events events)
{
    if (thread_.joinable() || !output_)
        return false;
    events_ = std::move(events);
    thread_ = std::thread([this] { run(); });
    return true;
}

void EncoderTask::stop() { stopRequested_ = true; }

void EncoderTask::abort()
{
    stopRequested_ = true;
    inputAbort_ = true;
    hardAbort_ = true;
}

void EncoderTask::join()
{
    if (thread_.joinable() && !isTaskThread())
        thread_.join();
}

void EncoderTask::fail(const std::string& text)
{
    {
        std::lock_guard lock(errorMutex_);
        if (error_.empty())
            error_ = text;
    }
    stopRequested_ = true;
}

void EncoderTask::run()
{
    std::string error = loop();
    // Inputs end first so that no handler runs after the task has ended.
    inputAbort_ = true;
    for (auto& in : inputs_)
        in->stop();
    {
        std::lock_guard lock(errorMutex_);
        if (error.empty())
            error = error_;
    }
    if (auto st = output_->finish(); !st && error.empty())
        error = st.error();
    output_->close();
    ended_ = true;
    if (events_.terminated)
        events_.terminated(error.empty(), error);
}

std::string EncoderTask::loop()
{
    if (auto st = output_->open(); !st)
        return st.error();

    InputRun run;
    run.start = std::chrono::steady_clock::now();
    run.abort = &inputAbort_;
    run.fail = [this](const std::string& text) { fail(text); };
    for (int k : output_->videoInputs())
        inputs_[k]->useVideo();
    const std::vector<int> audioInputs = output_->audioInputs();
    for (int k : audioInputs)
        inputs_[k]->useAudio();
    for (auto& in : inputs_)
        in->start(run);

    std::vector<bool> videoEnded(inputs_.size(), false);
    std::vector<bool> audioEnded(inputs_.size(), false);
    auto lastProgress = std::chrono::steady_clock::now();
    av::FramePtr frame;
    while (!stopRequested_) {
        // Sound first: whatever has arrived, without waiting.
        size_t audioOpen = 0;
        for (int k : audioInputs) {
            if (audioEnded[k])
                continue;
            EncoderFrameQueue* q = inputs_[k]->audioQueue();
            // At most a queue's worth per round, so that a source faster
            // than real time cannot starve the pictures or a stop request.
            for (size_t n = 0; n < EncoderInput::kAudioQueueFrames && !stopRequested_; ++n) {
                auto got = q->pop(frame, std::chrono::milliseconds(0));
                if (got == EncoderFrameQueue::Pop::Item) {
                    if (auto st = output_->feedAudio(k, frame.get()); !st)
                        return st.error();
                    frame.reset();
                    continue;
                }
                if (got != EncoderFrameQueue::Pop::Timeout)
                    audioEnded[k] = true;
                break;
            }
            if (!audioEnded[k])
                ++audioOpen;
        }

        if (!output_->hasVideo()) {
            if (audioOpen == 0)
                break;
            std::this_thread::sleep_for(kInputWait);
            continue;
        }

        int need = -1;
        auto pulled = output_->pullVideo(need);
        if (!pulled)
            return pulled.error();
        if (pulled.value() == EncoderOutput::Pull::End)
            break;
        if (pulled.value() == EncoderOutput::Pull::Encoded) {
            auto now = std::chrono::steady_clock::now();
            if (events_.progress && now - lastProgress >= events_.progressInterval) {
                lastProgress = now;
                events_.progress(output_->framesEncoded(), 0);
            }
            continue;
        }
        if (videoEnded[need]) {
            // The graph asks an ended input again: it has been told.
            std::this_thread::sleep_for(kInputWait);
            continue;
        }
        auto got = inputs_[need]->videoQueue()->pop(frame, kInputWait);
        if (got == EncoderFrameQueue::Pop::Item) {
            if (auto st = output_->feedVideo(need, frame.get()); !st)
                return st.error();
            frame.reset();
        } else if (got == EncoderFrameQueue::Pop::End) {
            videoEnded[need] = true;
            if (auto st = output_->feedVideo(need, nullptr); !st)
                return st.error();
        } else if (got == EncoderFrameQueue::Pop::Stopped) {
            break;
        }
    }
    std::lock_guard lock(errorMutex_);
    return error_;
}

} // namespace tv::media
