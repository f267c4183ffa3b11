#include "player/TDMPlayer.h"

#include "common/LibAVLoader.h"
#include "platform/EventLog.h"
#include "platform/Paths.h"
#include "player/TitleFilter.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>

namespace tv {

namespace {

const char* const kCloseCommand = "Close";

// Copies `rows` rows of `rowBytes` from a plane with line size `linesize`.
void copyPlane(std::uint8_t* dst, const std::uint8_t* src, int linesize, std::size_t rowBytes, int rows)
{
    if (static_cast<std::size_t>(linesize) == rowBytes) {
        std::memcpy(dst, src, rowBytes * rows);
        return;
    }
    for (int r = 0; r < rows; ++r) {
        std::memcpy(dst, src, rowBytes);
        dst += rowBytes;
        src += linesize;
    }
}

} // namespace

TDMPlayer::TDMPlayer(QObject* parent) : QObject(parent)
{
    ExitProcess = [](int exitCode) {
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(exitCode);
    };
}

TDMPlayer::~TDMPlayer()
{
    DataModuleDestroy();
    FFPlayer.Stop();
}

void TDMPlayer::LogEvent(const std::string& text)
{
    platform::writeEventLog(kEventSource, platform::EventType::Error, text);
}

std::optional<int> TDMPlayer::DataModuleCreate(const std::vector<std::string>& args)
{
    Result<TPlayerArguments> parsed = ParsePlayerArguments(args);
    if (!parsed) {
        LogEvent(parsed.error());
        return kExitCode;
    }
    Args = parsed.value();

    Result<std::unique_ptr<TShareFileMap>> frames = TShareFileMap::Create(Args.MFile, false, 0);
    if (!frames) {
        LogEvent(frames.error());
        return kExitCode;
    }
    MM = std::move(frames.value());
    if (!MM->SharedData) {
        LogEvent("Channel not found : " + Args.MFile);
        return kExitCode;
    }
    // Without its audio channel a Player still shows pictures; the engine
    // plays silence for it.
    Result<std::unique_ptr<TAudioShare>> sound = TAudioShare::Create("A" + Args.MFile, false, 0);
    if (sound)
        MMA = std::move(sound.value());
    else
        LogEvent(sound.error());

    MS.assign(Args.HasAudio ? kDelaySlots : 1, {});
    msIndex = 0;

    const TitleFont font = findTitleFont(Args.FontName, platform::programFolder());
    TitleFontFile = font.path;
    if (font.fallback)
        LogEvent("Font not found : " + Args.FontName + ".ttf, the title uses " + font.path);

    if (!FFPlayer.LoadAVLib(LibAVPath())) {
        LogEvent(FFPlayer.LastErrMsg());
        LogEvent("Error loading LibAV");
    }
    FFPlayer.SetDisableAudio(!Args.HasAudio);
    FFPlayer.OnBeforeFindStreamInfo = [this](AVFormatContext* c) { FFPlayerBeforeFindStreamInfo(c); };
    FFPlayer.OnFileOpen = [this](int64_t d, int fw, int fh, int& sw, int& sh) { FFPlayerFileOpen(d, fw, fh, sw, sh); };
    FFPlayer.OnOpenFailed = [this] { FFPlayerOpenFailed(); };
    FFPlayer.OnState = [this](TPlayState s) { FFPlayerState(s); };
    FFPlayer.SetFrameHookHandler([this](const TFFPicture& p, AVPixelFormat f, int w, int h, int64_t pts) {
        FFPlayerFrameHook(p, f, w, h, pts);
    });
    FFPlayer.SetAudioHookHandler([this](int64_t pts, const uint8_t* s, int size, int rate, int ch) {
        FFPlayerAudioHook(pts, s, size, rate, ch);
    });

    MailSlot.SetCheckInterval(kMailSlotCheckInterval);
    MailSlot.OnNameRefused = [this](TALMailSlot&, const QString&) { LogEvent(TALMailSlot::kNameRefusedText); };
    MailSlot.OnNewMessage = [this](TALMailSlot& s, const QString& c, const QString& u, const QString& t) {
        MailSlotNewMessage(s, c, u, t);
    };
    MailSlot.SetMailBox(QString::fromStdString(Args.MFile));
    MailSlot.SetActive(true);
    if (!MailSlot.Active()) {
        LogEvent("MailSlot not oppened : " + Args.MFile);
        return kExitCode;
    }

    State = kStateOpenWanted;
    Timer.setInterval(kTimerInterval);
    QObject::connect(&Timer, &QTimer::timeout, this, [this] { TimerTimer(); });
    Timer.start();
    TimerTimer();
    return std::nullopt;
}

void TDMPlayer::DataModuleDestroy()
{
    MailSlot.SetActive(false);
}

void TDMPlayer::TimerTimer()
{
    switch (State) {
    case kStateOpenWanted:
        State = kStateOpening;
        // A refusal (libraries not loaded) gives no verdict: State stays 1.
        FFPlayer.TryOpen(Args.URL);
        break;
    case kStateOpened:
        FFPlayer.SetFrameHook(true);
        State = kStateFrameHookOn;
        break;
    case kStateFrameHookOn:
        FFPlayer.SetAudioHook(Args.HasAudio);
        State = kStateRunning;
        break;
    case kStateCloseReceived:
        State = kStateClosing;
        MailSlot.SetActive(false);
        Timer.start(kCloseTimerInterval);
        break;
    case kStateClosing:
        Timer.stop();
        try {
            FFPlayer.SetFrameHook(false);
            FFPlayer.SetAudioHook(false);
            FFPlayer.SetFrameHookHandler(nullptr);
            FFPlayer.SetAudioHookHandler(nullptr);
            FFPlayer.Stop();
            FFPlayer.UnloadAVLib();
        } catch (const std::exception&) {
            LogEvent("Error on close!");
        }
        ExitProcess(kExitCode);
        break;
    default:
        break;
    }
}

void TDMPlayer::FFPlayerBeforeFindStreamInfo(AVFormatContext* formatContext)
{
    formatContext->max_analyze_duration = kMaxAnalyzeDuration;
    // While closing the title stays off.
    if (State < kStateCloseReceived)
        FFPlayer.SetVideoFilters(VideoFilterText(Args, TitleFontFile));
    FFPlayer.SetAudioFilters(kAudioFilterText);
}

void TDMPlayer::FFPlayerFileOpen(int64_t, int, int, int&, int&)
{
    // A close is never undone by a late verdict.
    if (State < kStateCloseReceived)
        State = kStateOpened;
}

void TDMPlayer::FFPlayerOpenFailed()
{
    if (State < kStateCloseReceived)
        State = kStateOpenWanted;
}

void TDMPlayer::FFPlayerState(TPlayState playState)
{
    if ((playState == TPlayState::Stop || playState == TPlayState::End) && State < kStateCloseReceived)
        State = kStateOpenWanted;
}

void TDMPlayer::FFPlayerFrameHook(const TFFPicture& picture, AVPixelFormat pixFmt, int width, int height, int64_t)
{
    if (pixFmt != AV_PIX_FMT_YUV420P || width <= 0 || height <= 0 || MS.empty())
        return;
    const int Cw = (width + 1) / 2;
    const int Ch = (height + 1) / 2;
    // Never read outside a plane: a row must hold the visible width.
    if (!picture.data[0] || !picture.data[1] || !picture.data[2] || picture.linesize[0] < width ||
        picture.linesize[1] < Cw || picture.linesize[2] < Cw)
        return;
    const std::size_t luma = static_cast<std::size_t>(width) * height;
    const std::size_t chroma = static_cast<std::size_t>(Cw) * Ch;

    std::vector<std::uint8_t>& slot = MS[msIndex];
    slot.resize(luma + 2 * chroma);
    copyPlane(slot.data(), picture.data[0], picture.linesize[0], width, height);
    copyPlane(slot.data() + luma, picture.data[1], picture.linesize[1], Cw, Ch);
    copyPlane(slot.data() + luma + chroma, picture.data[2], picture.linesize[2], Cw, Ch);

    if (Args.HasAudio)
        msIndex = (msIndex + 1) % static_cast<int>(MS.size());

    const std::vector<std::uint8_t>& out = MS[msIndex];
    // The channel refuses (and logs once) a picture larger than its block.
    if (!out.empty() && MM)
        MM->Write2SharedMem(out.data(), static_cast<std::int32_t>(out.size()));
}

void TDMPlayer::FFPlayerAudioHook(int64_t, const uint8_t* sample, int size, int, int)
{
    if (!MMA || !sample || size <= 0)
        return;
    bool updated = false;
    MMA->Write2SharedMem2(sample, size, updated);
}

void TDMPlayer::MailSlotNewMessage(TALMailSlot&, const QString&, const QString&, const QString& Text)
{
    if (Text != QLatin1String(kCloseCommand) || State >= kStateCloseReceived)
        return;
    State = kStateCloseReceived;
    FFPlayer.SetVideoFilters(ScaleOnlyFilterText(Args));
    Timer.start(kCloseTimerInterval);
}

} // namespace tv
