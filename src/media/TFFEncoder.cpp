#include "media/TFFEncoder.h"

#include "media/EncoderFrameInput.h"
#include "media/EncoderOutput.h"
#include "media/EncoderOutputSettings.h"
#include "media/EncoderTask.h"
#include "media/EncoderUrlInput.h"
#include "media/EncoderWaveInput.h"
#include "media/OptionText.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <thread>

namespace tv {

namespace {

constexpr std::string_view kFrameInputFormat = "frameinput";
constexpr std::string_view kWaveInputFormat = "waveinput";

bool onApplicationThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Gives task t its output, writing to dest, from the options text of
// SetOutput. Errors: the options do not parse, or the output does not open.
Status attachOutput(media::EncoderTask& t, const TOutputOptions& options, const media::EncoderOutput::Destination& dest)
{
    auto settings = media::EncoderOutputSettings::parse(options.Options);
    if (!settings)
        return fail("output options: " + settings.error());
    std::vector<media::EncoderInput*> inputs;
    for (auto& in : t.inputs())
        inputs.push_back(in.get());
    auto out = media::EncoderOutput::create(inputs, settings.value(), dest, t.openAbort());
    if (!out)
        return fail(out.error());
    t.setOutput(std::move(out.value()));
    return {};
}

} // namespace

TFFEncoder::TFFEncoder() = default;

TFFEncoder::~TFFEncoder()
{
    quiet_ = true;
    for (auto* t : taskList())
        t->abort();
    std::lock_guard lock(tasksMutex_);
    tasks_.clear();
}

int TFFEncoder::failWith(const std::string& text)
{
    std::lock_guard lock(errorMutex_);
    lastError_ = text;
    return -1;
}

std::string TFFEncoder::LastErrMsg() const
{
    std::lock_guard lock(errorMutex_);
    return lastError_;
}

media::EncoderTask* TFFEncoder::task(int index)
{
    std::lock_guard lock(tasksMutex_);
    if (index < 0 || index >= static_cast<int>(tasks_.size()))
        return nullptr;
    return tasks_[index].get();
}

int TFFEncoder::AddTask(const std::string& fileName, const TInputOptions& options)
{
    int index;
    {
        std::lock_guard lock(tasksMutex_);
        index = static_cast<int>(tasks_.size());
    }
    // The task joins the list once its first input is open, so that Stop
    // from another thread (an open watchdog) never sees it half made.
    auto t = std::make_unique<media::EncoderTask>(index);
    if (addInputTo(*t, fileName, options) < 0)
        return -1;
    std::lock_guard lock(tasksMutex_);
    tasks_.push_back(std::move(t));
    return index;
}

int TFFEncoder::AddInput(int taskIndex, const std::string& fileName, const TInputOptions& options)
{
    media::EncoderTask* t = task(taskIndex);
    if (!t)
        return failWith("AddInput: no task " + std::to_string(taskIndex));
    return addInputTo(*t, fileName, options);
}

int TFFEncoder::addInputTo(media::EncoderTask& t, const std::string& fileName, const TInputOptions& options)
{
    const int taskIndex = t.index();
    if (t.started())
        return failWith("AddInput: task " + std::to_string(taskIndex) + " is already running");
    auto items = media::parseOptionText(options.Options, media::inputFlagNames());
    if (!items)
        return failWith("input options of '" + fileName + "': " + items.error());
    std::string format;
    for (const auto& o : items.value())
        if (o.name == "f")
            format = o.value;

    const int inputIndex = static_cast<int>(t.inputs().size());
    Result<std::unique_ptr<media::EncoderInput>> input = fail("");
    if (format == kFrameInputFormat) {
        input = media::EncoderFrameInput::open(fileName, items.value());
    } else if (format == kWaveInputFormat) {
        input = media::EncoderWaveInput::open(fileName, items.value());
    } else {
        media::EncoderUrlInput::OpenSettings s;
        s.readTimeoutMs = ReadTimeout;
        s.abort = t.openAbort();
        if (OnBeforeFindStreamInfo)
            s.beforeFindStreamInfo = [this, taskIndex, inputIndex](AVFormatContext* ctx) {
                OnBeforeFindStreamInfo(this, taskIndex, inputIndex, ctx);
            };
        input = media::EncoderUrlInput::open(fileName, items.value(), s);
    }
    if (!input)
        return failWith(input.error());
    t.inputs().push_back(std::move(input.value()));
    return inputIndex;
}

int TFFEncoder::SetOutput(int taskIndex, const std::string& url, const TOutputOptions& options)
{
    media::EncoderTask* t = task(taskIndex);
    if (!t)
        return failWith("SetOutput: no task " + std::to_string(taskIndex));
    if (t->started() || t->hasOutput())
        return failWith("SetOutput: task " + std::to_string(taskIndex) + " already has its output");
    if (url.empty())
        return failWith("SetOutput: no output URL");
    media::EncoderOutput::Destination dest;
    dest.url = url;
    if (auto attached = attachOutput(*t, options, dest); !attached)
        return failWith(attached.error());
    return 0;
}

int TFFEncoder::SetOutput(int taskIndex, TMemoryAccessAdapter* stream, void* privateData,
                          const TOutputOptions& options)
{
    media::EncoderTask* t = task(taskIndex);
    if (!t)
        return failWith("SetOutput: no task " + std::to_string(taskIndex));
    if (!stream)
        return failWith("SetOutput: no output stream");
    if (t->started() || t->hasOutput())
        return failWith("SetOutput: task " + std::to_string(taskIndex) + " already has its output");
    media::EncoderOutput::Destination dest;
    dest.stream = stream;
    dest.privateData = privateData;
    if (auto attached = attachOutput(*t, options, dest); !attached)
        return failWith(attached.error());
    return 0;
}

void TFFEncoder::post(std::function<void()> call)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (TriggerEventInMainThread && app) {
        // The event may arrive after the encoder is gone: it then does nothing.
        std::weak_ptr<int> alive = alive_;
        QMetaObject::invokeMethod(
            app,
            [alive, call = std::move(call)] {
                if (alive.lock())
                    call();
            },
            Qt::QueuedConnection);
    } else {
        call();
    }
}

bool TFFEncoder::Start(int /*threadCount*/)
{
    bool any = false;
    for (auto* t : taskList()) {
        if (t->started() || !t->hasOutput())
            continue;
        media::EncoderTask::Events ev;
        ev.progressInterval = std::chrono::milliseconds(ProgressInterval > 0 ? ProgressInterval : 1);
        const int index = t->index();
        ev.progress = [this, index](int64_t frames, int64_t) {
            if (quiet_ || !OnProgress)
                return;
            TProgressInfo info;
            info.TaskIndex = index;
            info.FrameNumber = frames;
            post([this, info] { if (OnProgress) OnProgress(this, info); });
        };
        ev.terminated = [this, index](bool finished, const std::string& error) {
            if (!error.empty())
                failWith(error);
            if (quiet_ || !OnTerminate)
                return;
            TTerminateInfo info;
            info.TaskIndex = index;
            info.Finished = finished;
            info.Exception = !finished;
            info.ErrorMessage = error;
            post([this, info] { if (OnTerminate) OnTerminate(this, info); });
        };
        any = t->start(std::move(ev)) || any;
    }
    if (!any)
        failWith("Start: no task with an output to start");
    return any;
}

std::vector<media::EncoderTask*> TFFEncoder::taskList() const
{
    std::lock_guard lock(tasksMutex_);
    std::vector<media::EncoderTask*> list;
    for (const auto& t : tasks_)
        list.push_back(t.get());
    return list;
}

void TFFEncoder::Stop(bool wait)
{
    const auto list = taskList();
    for (auto* t : list)
        if (t->started())
            t->stop();
    if (!wait)
        return;
    for (auto* t : list) {
        if (!t->started() || t->isTaskThread())
            continue;
        // A memory output hands its writes to the application thread; keep
        // serving them while the task drains.
        while (onApplicationThread() && !t->ended()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        t->join();
    }
}

void TFFEncoder::Abort()
{
    quiet_ = true;
    const auto list = taskList();
    for (auto* t : list)
        t->abort();
    for (auto* t : list)
        t->join();
}

bool TFFEncoder::Working() const
{
    for (const auto* t : taskList())
        if (t->started() && !t->ended())
            return true;
    return false;
}

} // namespace tv
