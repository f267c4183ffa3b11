#pragma once
// TFFEncoder: the encoder component. A task has inputs (a URL with FFmpeg
// command-line input options, or a frame/wave input adapter named by its
// FileName() with "-f frameinput" / "-f waveinput") and one output (a URL
// or a TMemoryAccessAdapter) whose FFmpeg command-line options carry the
// composition graph (-filter_complex), the sound streams (-map k:a), the
// encoders and the muxer. Every call returns a negative value on failure and
// leaves the reason in LastErrMsg().
//
// Threads: AddTask/AddInput/SetOutput/Start/Stop on the owner's thread
// (usually the main thread); AddTask/AddInput open URL inputs at once and
// may block for as long as the source takes. After Start every task runs on
// its own thread and each input reads on one more. OnProgress and OnTerminate
// run on the task's thread, or are posted to the QCoreApplication's thread
// when TriggerEventInMainThread is set. OnBeforeFindStreamInfo runs inside
// AddTask/AddInput. Handlers and settings must be set before the call that
// uses them. Destroying the encoder ends every task.

#include "media/LibAV.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tv {

class TMemoryAccessAdapter;
namespace media {
class EncoderTask;
}

// The options record of one input; reset = default-constructed.
struct TInputOptions {
    std::string Options;
};

// The options record of an output; reset = default-constructed.
struct TOutputOptions {
    std::string Options;
};

struct TProgressInfo {
    int TaskIndex = 0;
    int64_t FrameNumber = 0;     // pictures encoded so far
};

struct TTerminateInfo {
    int TaskIndex = 0;
    bool Finished = false;       // ended without an error (end of input or Stop)
    bool Exception = false;      // ended by an error; ErrorMessage says which
    std::string ErrorMessage;
};

class TFFEncoder {
public:
    static constexpr int kDefaultReadTimeoutMs = 30000;
    static constexpr int kDefaultProgressIntervalMs = 500;

    using ProgressHandler = std::function<void(TFFEncoder* sender, const TProgressInfo& info)>;
    using TerminateHandler = std::function<void(TFFEncoder* sender, const TTerminateInfo& info)>;
    using BeforeFindStreamInfoHandler =
        std::function<void(TFFEncoder* sender, int taskIndex, int inputIndex, AVFormatContext* ctx)>;

    TFFEncoder();
    ~TFFEncoder();
    TFFEncoder(const TFFEncoder&) = delete;
    TFFEncoder& operator=(const TFFEncoder&) = delete;

    // Connect and read time-out of URL inputs in ms; -1 (or 0): none.
    int ReadTimeout = kDefaultReadTimeoutMs;
    bool TriggerEventInMainThread = true;
    int ProgressInterval = kDefaultProgressIntervalMs;
    ProgressHandler OnProgress;
    TerminateHandler OnTerminate;
    BeforeFindStreamInfoHandler OnBeforeFindStreamInfo;

    // Opens input 0 of a new task; the task index, or negative.
    int AddTask(const std::string& fileName, const TInputOptions& options);
    // Opens one more input of a task; its index in the task, or negative.
    int AddInput(int taskIndex, const std::string& fileName, const TInputOptions& options);
    // The task's output: a URL the encoder writes itself.
    int SetOutput(int taskIndex, const std::string& url, const TOutputOptions& options);
    // The task's output through a memory adapter (which must outlive the task).
    int SetOutput(int taskIndex, TMemoryAccessAdapter* stream, void* privateData, const TOutputOptions& options);
    // Starts every task that has an output and is not running; returns at
    // once. Each task runs on one thread of its own whatever the count; the
    // libraries choose their own worker threads. False when nothing started.
    bool Start(int threadCount);
    // Ends every task properly (encoders drained, trailer written). With
    // wait, returns when they have ended; on the application's thread it
    // keeps delivering queued events meanwhile. No effect before Start.
    void Stop(bool wait = false);
    // Ends every task at once (blocked outputs and inputs interrupted) and
    // waits for it; no handler runs afterwards. Not from a handler.
    void Abort();
    // Task threads still running.
    bool Working() const;

    std::string LastErrMsg() const;

private:
    int failWith(const std::string& text);
    media::EncoderTask* task(int index);
    std::vector<media::EncoderTask*> taskList() const;
    int addInputTo(media::EncoderTask& task, const std::string& fileName, const TInputOptions& options);
    void post(std::function<void()> call);

    // Changed only by AddTask on the owner's thread; Stop may come from
    // another thread.
    mutable std::mutex tasksMutex_;
    std::vector<std::unique_ptr<media::EncoderTask>> tasks_;
    mutable std::mutex errorMutex_;
    std::string lastError_;
    std::atomic<bool> quiet_{false};   // no more events (Abort, destruction)
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);   // events posted to the main thread check it
};

} // namespace tv
