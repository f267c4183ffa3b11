#pragma once
// TFFPlayer: the media player component of a Player process. It opens one
// source (any URL or file that libavformat opens) on a thread of its own,
// decodes video (and audio when not disabled) at the source's own pace, runs
// the decoded pictures through the video filter text and the sound through the
// audio filter text, and hands the results to the frame hook (yuv420p) and to
// the audio hook (whatever the audio text produces, normally 16-bit stereo
// 48 kHz). Nothing is ever displayed or played on a sound device.
//
// Threads: the object lives on its owner's thread, which must run a Qt event
// loop. Every event (OnBeforeFindStreamInfo, OnFileOpen, OnOpenFailed,
// OnState) is delivered on that thread; OnBeforeFindStreamInfo is called
// while the opening thread waits for it. Each playback has a reading thread
// (open, analyse, demux), a picture decoding thread that decodes a few
// pictures ahead, a video thread that filters, paces and calls the frame
// hook, and, with sound, an audio thread that decodes, filters, paces and
// calls the audio hook. Events of a playback that has been stopped or
// replaced are dropped.
//
// Errors: an open that fails is reported by OnOpenFailed; a read error or a
// source that delivers nothing for kStallTimeoutMs ends the playback with the
// play state Stop; the end of the source with End. A filter text that cannot
// be built leaves the hooks without pictures until the text changes.

#include "media/LibAV.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tv {

// A picture handed to the frame hook: three planes and their line sizes in
// bytes (a line size may exceed the visible width when rows are padded).
struct TFFPicture {
    const uint8_t* data[3] = {nullptr, nullptr, nullptr};
    int linesize[3] = {0, 0, 0};
};

enum class TPlayState { Play, Pause, Resume, Step, Stop, End };

class TFFPlayer : public QObject {
public:
    // A source that delivers no packet for this long counts as stopped.
    static constexpr int kStallTimeoutMs = 10000;
    // Kernel receive buffer asked for UDP sources unless the URL says otherwise.
    static constexpr int kUdpBufferBytes = 8 * 1024 * 1024;

    using FrameHook = std::function<void(const TFFPicture& picture, AVPixelFormat pixFmt,
                                         int width, int height, int64_t pts)>;
    using AudioHook = std::function<void(int64_t pts, const uint8_t* sample, int size,
                                         int sampleRate, int channels)>;

    explicit TFFPlayer(QObject* parent = nullptr);
    ~TFFPlayer() override;

    // Events, on the owner's thread.
    std::function<void(AVFormatContext* formatContext)> OnBeforeFindStreamInfo;
    std::function<void(int64_t duration, int frameWidth, int frameHeight,
                       int& screenWidth, int& screenHeight)> OnFileOpen;
    std::function<void()> OnOpenFailed;
    std::function<void(TPlayState state)> OnState;

    // Checks that the linked FFmpeg libraries are the major versions this
    // program was built against. The folder is kept for reference only: the
    // system's libraries are linked normally. False: LastErrMsg() says why.
    bool LoadAVLib(const std::string& folder);
    void UnloadAVLib();
    bool AVLibLoaded() const { return loaded_; }
    std::string LastErrMsg() const;

    // Filter texts. The video text takes effect with the next decoded picture
    // (the graph is rebuilt); the audio text with the next audio chunk.
    void SetVideoFilters(const std::string& text);
    std::string VideoFilters() const;
    void SetAudioFilters(const std::string& text);
    std::string AudioFilters() const;

    // When set before an open, no audio stream is selected or decoded.
    void SetDisableAudio(bool disabled) { disableAudio_ = disabled; }
    bool DisableAudio() const { return disableAudio_; }

    // Hook handlers and their switches; any thread. A handler removed here is
    // not called again once the call returns.
    void SetFrameHookHandler(FrameHook hook);
    void SetAudioHookHandler(AudioHook hook);
    void SetFrameHook(bool enabled) { frameHookOn_ = enabled; }
    void SetAudioHook(bool enabled) { audioHookOn_ = enabled; }

    // Starts opening `url` on the component's thread; the verdict arrives as
    // OnFileOpen or OnOpenFailed. False when refused at once (libraries not
    // loaded, or an open still under way): then no verdict follows. A
    // playback still running is stopped first.
    bool TryOpen(const std::string& url);

    // Stops the playback and waits for its threads. No event follows.
    void Stop();

    bool Opening() const { return opening_; }

    // Pictures handed to the frame hook (or that would have been, with the
    // hook off) and pictures dropped because they were late; since creation.
    uint64_t PicturesShown() const { return picturesShown_; }
    uint64_t PicturesDropped() const { return picturesDropped_; }

private:
    struct Session;

    void readerMain(std::shared_ptr<Session> s);
    void decodeVideoMain(std::shared_ptr<Session> s);
    void videoMain(std::shared_ptr<Session> s);
    void audioMain(std::shared_ptr<Session> s);
    void deliverVideo(Session& s, const AVFrame* frame, double seconds);
    void deliverAudio(Session& s, const AVFrame* frame, double seconds);
    void decoderFinished(const std::shared_ptr<Session>& s, bool reachedEnd);
    void stopSession(const std::shared_ptr<Session>& s);
    void setLastError(const std::string& text);
    template <typename F>
    void post(const std::shared_ptr<Session>& s, F&& f);

    std::shared_ptr<Session> session_; // owner's thread only
    bool opening_ = false;             // owner's thread only
    uint64_t nextSessionId_ = 1;
    std::atomic<bool> loaded_{false};
    std::atomic<bool> disableAudio_{false};
    std::atomic<bool> frameHookOn_{false};
    std::atomic<bool> audioHookOn_{false};
    std::atomic<uint64_t> picturesShown_{0};
    std::atomic<uint64_t> picturesDropped_{0};

    mutable std::mutex textMutex_;
    std::atomic<uint64_t> videoTextVersion_{0};
    std::atomic<uint64_t> audioTextVersion_{0};
    std::string videoText_;
    std::string audioText_;
    std::string lastError_;

    std::mutex frameHookMutex_;
    FrameHook frameHook_;
    std::mutex audioHookMutex_;
    AudioHook audioHook_;
};

} // namespace tv
