#pragma once
// TDMPlayer: the Player program's data module. It reads the 15 arguments,
// opens the player's frame and audio channels, owns the mailbox named after
// the frame channel, the 500 ms state timer and the media player component,
// opens the source and reopens it whenever opening fails or playback stops or
// ends, writes every picture (and, with sound, every chunk of sound) into the
// channels, and ends the process with exit code 4 on "Close".
//
// Threads: created and driven on the main thread (Qt event loop): the timer,
// the component's events and the mailbox's messages all run there, and only
// there is State touched. The frame hook runs on the component's video
// thread and alone uses the delay line and the repacking buffer; the audio
// hook runs on the component's audio thread and alone writes the audio
// channel. Every message goes to the event log under "TilvaronPlayer".

#include "channels/TALMailSlot.h"
#include "channels/TAudioShare.h"
#include "channels/TShareFileMap.h"
#include "media/TFFPlayer.h"
#include "player/PlayerCommandLine.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tv {

class TDMPlayer : public QObject {
public:
    static constexpr const char* kEventSource = "TilvaronPlayer";
    static constexpr int kExitCode = 4;
    static constexpr int kTimerInterval = 500;      // ms
    static constexpr int kCloseTimerInterval = 100; // ms
    static constexpr int kMailSlotCheckInterval = 1;
    // Slots of the picture delay line with sound: the channel shows the
    // picture decoded kDelaySlots - 1 pictures earlier.
    static constexpr int kDelaySlots = 25;
    // Longest analysis of a source before playing it, microseconds.
    static constexpr int64_t kMaxAnalyzeDuration = 2'500'000;

    // Values of State.
    enum : int {
        kStateOpenWanted = 0,
        kStateOpening = 1,
        kStateOpened = 2,
        kStateFrameHookOn = 4,
        kStateRunning = 5,
        kStateCloseReceived = 6,
        kStateClosing = 8,
    };

    explicit TDMPlayer(QObject* parent = nullptr);
    ~TDMPlayer() override;

    // Start-up with argv[1..]. Returns the exit code the process must end with
    // at once (missing or bad arguments, channel or mailbox unavailable), or
    // nothing when the Player runs; the first open has then been asked for.
    std::optional<int> DataModuleCreate(const std::vector<std::string>& args);
    void DataModuleDestroy();

    // How the process ends itself (default: flush, then _exit). Tests replace it.
    std::function<void(int exitCode)> ExitProcess;

    // Handlers.
    void TimerTimer();
    void FFPlayerBeforeFindStreamInfo(AVFormatContext* formatContext);
    void FFPlayerFileOpen(int64_t duration, int frameWidth, int frameHeight, int& screenWidth, int& screenHeight);
    void FFPlayerOpenFailed();
    void FFPlayerState(TPlayState playState);
    void FFPlayerFrameHook(const TFFPicture& picture, AVPixelFormat pixFmt, int width, int height, int64_t pts);
    void FFPlayerAudioHook(int64_t pts, const uint8_t* sample, int size, int sampleRate, int channels);
    void MailSlotNewMessage(TALMailSlot& sender, const QString& Computer, const QString& UserName,
                            const QString& Text);

    // One error entry in the event log under kEventSource.
    void LogEvent(const std::string& text);

    int State = kStateOpenWanted;
    TPlayerArguments Args;
    std::string TitleFontFile;
    TFFPlayer FFPlayer;
    TALMailSlot MailSlot;
    QTimer Timer;
    std::unique_ptr<TShareFileMap> MM;
    std::unique_ptr<TAudioShare> MMA;

private:
    // Frame hook's own: the delay line, each slot one packed picture (Y, U,
    // V without row padding) or nothing.
    std::vector<std::vector<std::uint8_t>> MS;
    int msIndex = 0;
};

} // namespace tv
