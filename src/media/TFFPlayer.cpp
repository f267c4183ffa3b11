#include "media/TFFPlayer.h"

#include "media/BoundedQueue.h"
#include "media/FilterChain.h"
#include "media/PlaybackClock.h"

#include <QMetaObject>

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <thread>

namespace tv {

namespace {

// Packets buffered between the reading thread and each decoding thread.
constexpr std::size_t kVideoQueuePackets = 64;
constexpr std::size_t kAudioQueuePackets = 256;
// Decoded pictures waiting for their time. The decoder fills this queue in
// bursts (it wakes when half of it has been shown): decoding runs with warm
// caches instead of one picture per wake-up, which costs a fifth more CPU.
constexpr std::size_t kVideoQueueFrames = 8;
// A live source whose queue holds more than this is behind: its pictures
// and sound are handed on without waiting until the backlog is gone.
constexpr std::size_t kLiveVideoBacklog = 12;
constexpr std::size_t kLiveAudioBacklog = 24;
// A picture later than this is dropped rather than shown.
constexpr double kLateDropSeconds = 0.1;
// Picture period assumed when the source names no frame rate.
constexpr double kDefaultFrameSeconds = 0.04;
// Upper bound of decoding threads per picture decoder. Pictures up to
// kSingleThreadPixels decode on one thread: a wall runs many Players, and
// frame threads cost CPU time that a picture of that size does not need.
constexpr int kMaxDecoderThreads = 4;
constexpr int64_t kSingleThreadPixels = 1920 * 1088;

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void nameThread(const char* name)
{
    pthread_setname_np(pthread_self(), name);
}

bool isUdpUrl(const std::string& url)
{
    return url.rfind("udp://", 0) == 0;
}

} // namespace

struct TFFPlayer::Session {
    uint64_t id = 0;
    std::string url;
    bool audioWanted = false;
    bool live = false;

    std::atomic<bool> stop{false};
    std::mutex waitMutex;
    std::condition_variable waitCv;
    bool beforeFindDone = false; // under waitMutex

    // When the blocking libav call under way started (0: none under way).
    std::atomic<int64_t> ioStartedMs{0};

    av::InputContextPtr input;
    int videoIndex = -1;
    int audioIndex = -1;
    AVRational videoTimeBase{1, AV_TIME_BASE};
    AVRational audioTimeBase{1, AV_TIME_BASE};
    double frameSeconds = kDefaultFrameSeconds;
    av::CodecContextPtr videoDecoder;
    av::CodecContextPtr audioDecoder;

    media::BoundedQueue<av::PacketPtr> videoPackets{kVideoQueuePackets};
    media::BoundedQueue<av::PacketPtr> audioPackets{kAudioQueuePackets};
    media::BoundedQueue<av::FramePtr> videoFrames{kVideoQueueFrames};
    media::PlaybackClock videoClock;
    media::PlaybackClock audioClock;

    std::thread reader;
    std::thread decoder;
    std::thread video;
    std::thread audio;
    std::atomic<int> decodersRunning{0};

    // Sleeps until `due`; false when the playback is being stopped.
    bool waitUntil(media::PlaybackClock::Clock::time_point due)
    {
        std::unique_lock lock(waitMutex);
        return !waitCv.wait_until(lock, due, [&] { return stop.load(); });
    }

    void requestStop()
    {
        {
            std::lock_guard lock(waitMutex);
            stop = true;
        }
        waitCv.notify_all();
        videoPackets.stop();
        audioPackets.stop();
        videoFrames.stop();
    }

    static int interrupt(void* opaque)
    {
        auto* s = static_cast<Session*>(opaque);
        if (s->stop)
            return 1;
        const int64_t started = s->ioStartedMs.load();
        return started != 0 && nowMs() - started > kStallTimeoutMs ? 1 : 0;
    }
};

TFFPlayer::TFFPlayer(QObject* parent) : QObject(parent) {}

TFFPlayer::~TFFPlayer()
{
    Stop();
}

bool TFFPlayer::LoadAVLib(const std::string& folder)
{
    (void)folder;
    struct Lib {
        const char* name;
        unsigned runtime;
        unsigned built;
    };
    const Lib libs[] = {
        {"libavformat", avformat_version() >> 16, LIBAVFORMAT_VERSION_MAJOR},
        {"libavcodec", avcodec_version() >> 16, LIBAVCODEC_VERSION_MAJOR},
        {"libavfilter", avfilter_version() >> 16, LIBAVFILTER_VERSION_MAJOR},
        {"libavutil", avutil_version() >> 16, LIBAVUTIL_VERSION_MAJOR},
        {"libswscale", swscale_version() >> 16, LIBSWSCALE_VERSION_MAJOR},
        {"libswresample", swresample_version() >> 16, LIBSWRESAMPLE_VERSION_MAJOR},
    };
    for (const Lib& lib : libs) {
        if (lib.runtime != lib.built) {
            setLastError(std::string(lib.name) + " has major version " + std::to_string(lib.runtime) +
                         ", this program needs " + std::to_string(lib.built));
            loaded_ = false;
            return false;
        }
    }
    loaded_ = true;
    return true;
}

void TFFPlayer::UnloadAVLib()
{
    Stop();
    loaded_ = false;
}

std::string TFFPlayer::LastErrMsg() const
{
    std::lock_guard lock(textMutex_);
    return lastError_;
}

void TFFPlayer::setLastError(const std::string& text)
{
    std::lock_guard lock(textMutex_);
    lastError_ = text;
}

void TFFPlayer::SetVideoFilters(const std::string& text)
{
    std::lock_guard lock(textMutex_);
    if (text == videoText_)
        return;
    videoText_ = text;
    ++videoTextVersion_;
}

std::string TFFPlayer::VideoFilters() const
{
    std::lock_guard lock(textMutex_);
    return videoText_;
}

void TFFPlayer::SetAudioFilters(const std::string& text)
{
    std::lock_guard lock(textMutex_);
    if (text == audioText_)
        return;
    audioText_ = text;
    ++audioTextVersion_;
}

std::string TFFPlayer::AudioFilters() const
{
    std::lock_guard lock(textMutex_);
    return audioText_;
}

void TFFPlayer::SetFrameHookHandler(FrameHook hook)
{
    std::lock_guard lock(frameHookMutex_);
    frameHook_ = std::move(hook);
}

void TFFPlayer::SetAudioHookHandler(AudioHook hook)
{
    std::lock_guard lock(audioHookMutex_);
    audioHook_ = std::move(hook);
}

template <typename F>
void TFFPlayer::post(const std::shared_ptr<Session>& s, F&& f)
{
    std::weak_ptr<Session> weak = s;
    QMetaObject::invokeMethod(
        this,
        [this, weak, f = std::forward<F>(f)]() mutable {
            auto current = weak.lock();
            if (!current || current != session_)
                return;
            f();
        },
        Qt::QueuedConnection);
}

bool TFFPlayer::TryOpen(const std::string& url)
{
    if (!loaded_) {
        setLastError("the media libraries are not loaded");
        return false;
    }
    if (opening_)
        return false;
    if (session_) {
        stopSession(session_);
        session_.reset();
    }
    auto s = std::make_shared<Session>();
    s->id = nextSessionId_++;
    s->url = url;
    s->audioWanted = !disableAudio_;
    session_ = s;
    opening_ = true;
    s->reader = std::thread(&TFFPlayer::readerMain, this, s);
    return true;
}

void TFFPlayer::Stop()
{
    if (session_) {
        stopSession(session_);
        session_.reset();
    }
    opening_ = false;
}

void TFFPlayer::stopSession(const std::shared_ptr<Session>& s)
{
    s->requestStop();
    if (s->reader.joinable())
        s->reader.join();
    // The reading thread starts the decoding threads; once it has ended they
    // are all known.
    if (s->decoder.joinable())
        s->decoder.join();
    if (s->video.joinable())
        s->video.join();
    if (s->audio.joinable())
        s->audio.join();
}

void TFFPlayer::readerMain(std::shared_ptr<Session> s)
{
    nameThread("tv-read");
    auto openFailed = [&](const std::string& why) {
        setLastError(why);
        post(s, [this] {
            opening_ = false;
            if (OnOpenFailed)
                OnOpenFailed();
        });
    };

    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        openFailed("out of memory for a demuxer");
        return;
    }
    raw->interrupt_callback.callback = &Session::interrupt;
    raw->interrupt_callback.opaque = s.get();

    AVDictionary* rawOptions = nullptr;
    if (isUdpUrl(s->url)) {
        // Many UDP sources on one machine: a large kernel buffer, and a full
        // buffer costs packets, not the whole source.
        av_dict_set_int(&rawOptions, "buffer_size", kUdpBufferBytes, 0);
        av_dict_set(&rawOptions, "overrun_nonfatal", "1", 0);
    }
    s->ioStartedMs = nowMs();
    int err = avformat_open_input(&raw, s->url.c_str(), nullptr, &rawOptions);
    s->ioStartedMs = 0;
    av::DictPtr leftover(rawOptions);
    if (err < 0) {
        openFailed("cannot open " + s->url + ": " + av::errorText(err));
        return;
    }
    s->input.reset(raw);

    // Let the owner adjust the demuxer and the filter texts, on its thread.
    Session* sp = s.get();
    post(s, [this, sp] {
        if (!sp->stop && OnBeforeFindStreamInfo)
            OnBeforeFindStreamInfo(sp->input.get());
        {
            std::lock_guard lock(sp->waitMutex);
            sp->beforeFindDone = true;
        }
        sp->waitCv.notify_all();
    });
    {
        std::unique_lock lock(s->waitMutex);
        s->waitCv.wait(lock, [&] { return s->beforeFindDone || s->stop.load(); });
    }
    if (s->stop)
        return;

    AVFormatContext* in = s->input.get();
    s->ioStartedMs = nowMs();
    err = avformat_find_stream_info(in, nullptr);
    s->ioStartedMs = 0;
    if (err < 0) {
        openFailed("cannot analyse " + s->url + ": " + av::errorText(err));
        return;
    }

    const AVCodec* videoCodec = nullptr;
    const AVCodec* audioCodec = nullptr;
    s->videoIndex = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, &videoCodec, 0);
    if (s->audioWanted)
        s->audioIndex = av_find_best_stream(in, AVMEDIA_TYPE_AUDIO, -1, std::max(s->videoIndex, -1),
                                            &audioCodec, 0);
    if (s->videoIndex < 0)
        s->videoIndex = -1;
    if (s->audioIndex < 0)
        s->audioIndex = -1;

    auto openDecoder = [&](int index, const AVCodec* codec, int threads) -> av::CodecContextPtr {
        av::CodecContextPtr c(avcodec_alloc_context3(codec));
        if (!c)
            return {};
        const AVStream* st = in->streams[index];
        if (avcodec_parameters_to_context(c.get(), st->codecpar) < 0)
            return {};
        c->pkt_timebase = st->time_base;
        c->thread_count = threads;
        if (avcodec_open2(c.get(), codec, nullptr) < 0)
            return {};
        return c;
    };
    if (s->videoIndex >= 0) {
        const AVCodecParameters* par = in->streams[s->videoIndex]->codecpar;
        const int threads = int64_t(par->width) * par->height <= kSingleThreadPixels
                                ? 1
                                : std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1,
                                             kMaxDecoderThreads);
        s->videoDecoder = openDecoder(s->videoIndex, videoCodec, threads);
        if (!s->videoDecoder) {
            openFailed("cannot decode the pictures of " + s->url);
            return;
        }
        const AVStream* st = in->streams[s->videoIndex];
        s->videoTimeBase = st->time_base;
        AVRational rate = av_guess_frame_rate(in, const_cast<AVStream*>(st), nullptr);
        if (rate.num > 0 && rate.den > 0)
            s->frameSeconds = av_q2d(av_inv_q(rate));
    }
    if (s->audioIndex >= 0) {
        s->audioDecoder = openDecoder(s->audioIndex, audioCodec, 1);
        if (s->audioDecoder)
            s->audioTimeBase = in->streams[s->audioIndex]->time_base;
        else
            s->audioIndex = -1; // pictures without sound are still worth showing
    }
    if (s->videoIndex < 0 && s->audioIndex < 0) {
        openFailed(s->url + " has no stream that can be decoded");
        return;
    }
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        if (static_cast<int>(i) != s->videoIndex && static_cast<int>(i) != s->audioIndex)
            in->streams[i]->discard = AVDISCARD_ALL;
    }
    const bool seekable = in->pb && (in->pb->seekable & AVIO_SEEKABLE_NORMAL);
    s->live = !seekable && (in->duration == AV_NOPTS_VALUE || in->duration <= 0);

    const int64_t duration = in->duration;
    const int width = s->videoDecoder ? s->videoDecoder->width : 0;
    const int height = s->videoDecoder ? s->videoDecoder->height : 0;
    post(s, [this, duration, width, height] {
        opening_ = false;
        int screenWidth = width;
        int screenHeight = height;
        if (OnFileOpen)
            OnFileOpen(duration, width, height, screenWidth, screenHeight);
    });

    s->decodersRunning = (s->videoIndex >= 0 ? 1 : 0) + (s->audioIndex >= 0 ? 1 : 0);
    if (s->videoIndex >= 0) {
        s->decoder = std::thread(&TFFPlayer::decodeVideoMain, this, s);
        s->video = std::thread(&TFFPlayer::videoMain, this, s);
    }
    if (s->audioIndex >= 0)
        s->audio = std::thread(&TFFPlayer::audioMain, this, s);

    // The stall watch counts from the last packet; time spent waiting for
    // room in a queue does not count.
    av::PacketPtr packet = av::makePacket();
    s->ioStartedMs = nowMs();
    while (!s->stop && packet) {
        err = av_read_frame(in, packet.get());
        if (err == AVERROR(EAGAIN)) {
            if (nowMs() - s->ioStartedMs > kStallTimeoutMs)
                err = AVERROR_EXIT;
            else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
        }
        // (avio_feof() would read again, outside the stall watch: look at the flags.)
        if (err == AVERROR_EOF || (err < 0 && in->pb && in->pb->eof_reached && !in->pb->error)) {
            // Let the decoders drain; the last one to finish reports the end.
            if (s->videoIndex >= 0)
                s->videoPackets.push(av::PacketPtr());
            if (s->audioIndex >= 0)
                s->audioPackets.push(av::PacketPtr());
            return;
        }
        if (err < 0) {
            if (s->stop)
                return;
            setLastError("reading " + s->url + " stopped: " +
                         (err == AVERROR_EXIT ? std::string("no data for 10 seconds") : av::errorText(err)));
            s->requestStop();
            post(s, [this] {
                if (OnState)
                    OnState(TPlayState::Stop);
            });
            return;
        }
        bool queued = true;
        if (packet->stream_index == s->videoIndex) {
            queued = s->videoPackets.push(std::move(packet));
            packet = av::makePacket();
        } else if (packet->stream_index == s->audioIndex) {
            queued = s->audioPackets.push(std::move(packet));
            packet = av::makePacket();
        } else {
            av_packet_unref(packet.get());
        }
        if (!queued)
            return;
        s->ioStartedMs = nowMs();
    }
}

void TFFPlayer::decoderFinished(const std::shared_ptr<Session>& s, bool reachedEnd)
{
    if (--s->decodersRunning == 0 && reachedEnd && !s->stop) {
        post(s, [this] {
            if (OnState)
                OnState(TPlayState::End);
        });
    }
}

void TFFPlayer::decodeVideoMain(std::shared_ptr<Session> s)
{
    nameThread("tv-vdecode");
    AVCodecContext* decoder = s->videoDecoder.get();
    av::FramePtr frame = av::makeFrame();
    while (auto item = s->videoPackets.pop()) {
        const AVPacket* packet = item->get();
        avcodec_send_packet(decoder, packet);
        while (frame && !s->stop && avcodec_receive_frame(decoder, frame.get()) >= 0) {
            frame->pts = frame->best_effort_timestamp;
            if (!s->videoFrames.push(std::move(frame)))
                return;
            frame = av::makeFrame();
        }
        if (!packet) {
            s->videoFrames.push(av::FramePtr()); // the end
            return;
        }
    }
}

void TFFPlayer::videoMain(std::shared_ptr<Session> s)
{
    nameThread("tv-video");
    av::FramePtr filtered = av::makeFrame();
    media::FilterChain chain(media::FilterChain::Kind::Video);
    uint64_t textVersion = ~uint64_t{0};
    std::string text;
    double lastSeconds = NAN;
    bool reachedEnd = false;

    while (auto item = s->videoFrames.pop()) {
        AVFrame* decoded = item->get();
        if (!decoded) {
            reachedEnd = true;
            break;
        }
        if (const uint64_t v = videoTextVersion_.load(); v != textVersion) {
            std::lock_guard lock(textMutex_);
            text = videoText_;
            textVersion = videoTextVersion_.load();
        }
        if (chain.needsRebuild(text, decoded)) {
            if (Status st = chain.build(text, decoded, s->videoTimeBase); !st) {
                setLastError(st.error());
                av_log(nullptr, AV_LOG_ERROR, "%s\n", st.error().c_str());
            }
        }
        if (!chain.ready() || chain.push(decoded) < 0)
            continue;
        const AVRational tb = chain.outputTimeBase();
        while (!s->stop && chain.pull(filtered.get()) >= 0) {
            double seconds = filtered->pts != AV_NOPTS_VALUE ? filtered->pts * av_q2d(tb)
                             : std::isnan(lastSeconds) ? 0.0
                                                       : lastSeconds + s->frameSeconds;
            lastSeconds = seconds;
            deliverVideo(*s, filtered.get(), seconds);
            av_frame_unref(filtered.get());
        }
    }
    decoderFinished(s, reachedEnd);
}

void TFFPlayer::deliverVideo(Session& s, const AVFrame* frame, double seconds)
{
    using media::PlaybackClock;
    if (s.live && s.videoPackets.size() + s.videoFrames.size() > kLiveVideoBacklog) {
        // Behind a live source: catch up instead of waiting.
        s.videoClock.reset();
        s.videoClock.schedule(seconds);
    } else {
        const PlaybackClock::Schedule when = s.videoClock.schedule(seconds);
        if (when.verdict == PlaybackClock::Verdict::Wait) {
            if (!s.waitUntil(when.due))
                return;
        } else if (when.verdict == PlaybackClock::Verdict::Late && when.lateSeconds > kLateDropSeconds) {
            ++picturesDropped_;
            return;
        }
    }
    ++picturesShown_;
    if (!frameHookOn_)
        return;
    std::lock_guard lock(frameHookMutex_);
    if (!frameHook_ || !frameHookOn_)
        return;
    TFFPicture picture;
    for (int i = 0; i < 3; ++i) {
        picture.data[i] = frame->data[i];
        picture.linesize[i] = frame->linesize[i];
    }
    frameHook_(picture, static_cast<AVPixelFormat>(frame->format), frame->width, frame->height, frame->pts);
}

void TFFPlayer::audioMain(std::shared_ptr<Session> s)
{
    nameThread("tv-audio");
    AVCodecContext* decoder = s->audioDecoder.get();
    av::FramePtr frame = av::makeFrame();
    av::FramePtr filtered = av::makeFrame();
    media::FilterChain chain(media::FilterChain::Kind::Audio);
    uint64_t textVersion = ~uint64_t{0};
    std::string text;
    double nextSeconds = NAN;
    bool reachedEnd = false;

    auto filterAndDeliver = [&](AVFrame* decoded) {
        if (const uint64_t v = audioTextVersion_.load(); v != textVersion) {
            std::lock_guard lock(textMutex_);
            text = audioText_;
            textVersion = audioTextVersion_.load();
        }
        decoded->pts = decoded->best_effort_timestamp;
        if (chain.needsRebuild(text, decoded)) {
            if (Status st = chain.build(text, decoded, s->audioTimeBase); !st) {
                setLastError(st.error());
                av_log(nullptr, AV_LOG_ERROR, "%s\n", st.error().c_str());
            }
        }
        if (!chain.ready() || chain.push(decoded) < 0)
            return;
        const AVRational tb = chain.outputTimeBase();
        while (!s->stop && chain.pull(filtered.get()) >= 0) {
            double seconds = filtered->pts != AV_NOPTS_VALUE ? filtered->pts * av_q2d(tb)
                             : std::isnan(nextSeconds) ? 0.0
                                                       : nextSeconds;
            if (filtered->sample_rate > 0)
                nextSeconds = seconds + double(filtered->nb_samples) / filtered->sample_rate;
            deliverAudio(*s, filtered.get(), seconds);
            av_frame_unref(filtered.get());
        }
    };

    while (auto item = s->audioPackets.pop()) {
        const AVPacket* packet = item->get();
        avcodec_send_packet(decoder, packet);
        while (!s->stop && avcodec_receive_frame(decoder, frame.get()) >= 0) {
            filterAndDeliver(frame.get());
            av_frame_unref(frame.get());
        }
        if (!packet) {
            reachedEnd = true;
            break;
        }
    }
    decoderFinished(s, reachedEnd);
}

void TFFPlayer::deliverAudio(Session& s, const AVFrame* frame, double seconds)
{
    using media::PlaybackClock;
    if (s.live && s.audioPackets.size() > kLiveAudioBacklog) {
        s.audioClock.reset();
        s.audioClock.schedule(seconds);
    } else {
        const PlaybackClock::Schedule when = s.audioClock.schedule(seconds);
        if (when.verdict == PlaybackClock::Verdict::Wait && !s.waitUntil(when.due))
            return;
    }
    if (!audioHookOn_)
        return;
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const int channels = frame->ch_layout.nb_channels;
    const int planes = av_sample_fmt_is_planar(format) ? 1 : channels;
    const int size = av_get_bytes_per_sample(format) * frame->nb_samples * planes;
    if (size <= 0)
        return;
    std::lock_guard lock(audioHookMutex_);
    if (!audioHook_ || !audioHookOn_)
        return;
    audioHook_(frame->pts, frame->data[0], size, frame->sample_rate, channels);
}

} // namespace tv
