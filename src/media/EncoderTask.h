#pragma once
// EncoderTask: one encoding job of TFFEncoder: its inputs (index 0 first),
// its output and the thread that runs it. The task thread opens the output,
// starts the inputs' reading threads, moves pictures through the graph and
// sound to the encoders until the graph ends, an input or the output fails,
// or stop() is called; then it drains the encoders, writes the trailer,
// closes the output and reports the end once.

#include "media/EncoderInput.h"
#include "media/EncoderOutput.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tv::media {

class EncoderTask {
public:
    struct Events {
        std::chrono::milliseconds progressInterval{1000};
        std::function<void(int64_t frameNumber, int64_t outputMicroseconds)> progress;   // task thread
        std::function<void(bool finished, const std::string& error)> terminated;         // task thread, once
    };

    static constexpr std::chrono::milliseconds kInputWait{20};

    explicit EncoderTask(int index) : index_(index) {}
    ~EncoderTask();

    int index() const { return index_; }
    std::vector<std::unique_ptr<EncoderInput>>& inputs() { return inputs_; }
    void setOutput(std::unique_ptr<EncoderOutput> output) { output_ = std::move(output); }
    bool hasOutput() const { return output_ != nullptr; }
    // Set by the owner; ends blocking opens and reads of URL inputs.
    const std::atomic<bool>* openAbort() const { return &hardAbort_; }

    bool start(Events events);
    // Asks the task to end: inputs stop, the output is finished properly.
    void stop();
    // Ends the task at once, interrupting a blocked output too.
    void abort();
    bool started() const { return thread_.joinable(); }
    bool ended() const { return ended_; }
    bool isTaskThread() const { return std::this_thread::get_id() == thread_.get_id(); }
    void join();

private:
    void run();
    std::string loop();
    void fail(const std::string& text);

    const int index_;
    std::vector<std::unique_ptr<EncoderInput>> inputs_;
    std::unique_ptr<EncoderOutput> output_;
    Events events_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> inputAbort_{false};
    std::atomic<bool> hardAbort_{false};
    std::atomic<bool> ended_{false};
    std::mutex errorMutex_;
    std::string error_;
};

} // namespace tv::media
