#pragma once
// TDM: the mosaic engine, one per process. Init starts a run: it reads the
// profile, creates every player's frame and audio channel, starts the
// Player processes, declares the main picture and the players' pictures and
// sound as encoder inputs, builds the composition graph and the output
// options and starts the encoder towards a network URL or the built-in HTTP
// server. What keeps the run going (the changer timers, the Player pool,
// the heartbeat watchdog) is the RunControl the engine creates with it; the
// encoder's progress feeds its watchdog.
//
// Threads: create, Init and destroy on the main thread, under a running Qt
// event loop (QCoreApplication or QApplication). OnStatus is called on the
// main thread (Init, watchdog) and on the encoder's thread (progress); its
// handler must accept both. The encoder's end and a stalled output end the
// process (OnProcessEnd), as a run is never stopped and started again inside
// one process.
//
// Errors: Init returns false and leaves the reason as the last status text
// and in LastError(); the encoder's own reason is FFEncoder.LastErrMsg().

#include "common/TMemIniFile.h"
#include "engine/TPlayer.h"
#include "media/TFFEncoder.h"
#include "media/TMemoryAccessAdapter.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tv {

class MosaicInputs;
class OutputSink;
class RunControl;
class TALMailSlot;
class TAudioShare;
class THttpStreamer;
class TShareFileMap;
class TThreadedSleep;

class TDM {
public:
    using TOnStatus = std::function<void(TDM* Sender, const std::string& Text)>;

    static constexpr const char* kEngineMailBox = "Tilvaron";
    static constexpr const char* kHttpServerName = "Tilvaron";
    static constexpr const char* kFrameChannelPrefix = "MFile";
    static constexpr const char* kAudioChannelPrefix = "AMFile";
    static constexpr int kMaxChannelSuffix = 8;            // instance name + player index
    static constexpr int kProgressIntervalMs = 1000;
    static constexpr int kOpenWatchdogSeconds = 10;
    static constexpr int64_t kMaxAnalyzeDuration = 2000000; // microseconds
    static constexpr int kMaxDelay = 1000;                  // microseconds
    static constexpr int kPortFailureWaitMs = 3000;

    TDM();
    ~TDM();
    TDM(const TDM&) = delete;
    TDM& operator=(const TDM&) = delete;

    // Starts a run of the profile at AProfile (a full path). ADisPlayName is
    // the event-log source name. False when the run could not start; a
    // second Init while a run exists is refused.
    bool Init(const std::string& AProfile, const std::string& ADisPlayName);

    // Ends the players, removes the channels, drops the profile image.
    void StopAll();
    // Stops the players and starts this program again; never returns.
    [[noreturn]] void ReRunMosaic();
    void LogEvent(const std::string& Msg, int EventType);

    // Rotation, forwarded to the run control (no effect before Init).
    void TChangerTimer();
    void ChangeOne();
    int NextFreeSource() const;
    void AssignSourceToPlayer(int PlayerID, int SourceID);
    void RefreshSettings();

    // Public state.
    std::vector<TPlayer> Players;
    TMemIniFile Ini;
    std::atomic<bool> AutoStart{false};
    std::string Profile;
    std::atomic<bool> Started{false};
    std::string OutPutURL;
    std::string DisplayName;
    TOnStatus OnStatus;

    // Set by the program before Init: the instance name (channel names), and
    // how a restart starts this program again (default: the running
    // executable with the instance name as its only argument).
    std::string InstanceName;
    std::string RestartProgram;
    std::vector<std::string> RestartArguments;
    // How the process ends (exit code 0 after the encoder's end, 4 after a
    // restart or a port failure); default: flush and _exit.
    std::function<void(int code)> OnProcessEnd;
    // Before a restart starts the successor: release what it must take at
    // once (the single-instance lock).
    std::function<void()> OnReleaseForSuccessor;

    // The run's settings as Init read them.
    int32_t OutWidth = 0;
    int32_t OutHeight = 0;
    int32_t OutAudioChannels = 0;
    std::string BorderColor;
    int32_t ChangeMode = 0;

    // The encoder component and what Init handed to it.
    TFFEncoder FFEncoder;
    const std::string& OutputOptions() const { return outputOptions_; }
    const std::vector<std::string>& InputOptions() const { return inputOptions_; }
    const std::string& LastError() const { return lastError_; }
    bool RunExists() const { return runExists_; }
    RunControl* Control() const { return control_.get(); }
    int HeartBit() const;
    // The HTTP server of an "http://" output (null otherwise).
    THttpStreamer* HTTP_Streamer() const { return streamer_.get(); }

private:
    void report(const std::string& text);
    bool refuse(const std::string& text);
    int startPlayer(int player, int source);
    void FFEncoderProgress(const TProgressInfo& info);
    void FFEncoderTerminate(const TTerminateInfo& info);
    void endProcess(int code);
    bool setHttpOutput(int task, const std::string& options);

    std::unique_ptr<TALMailSlot> MailSlot;
    std::unique_ptr<RunControl> control_;
    std::shared_ptr<TThreadedSleep> openWatchdog_;
    std::vector<std::shared_ptr<TShareFileMap>> MM;
    std::vector<std::shared_ptr<TAudioShare>> MMA;
    TMemoryAccessAdapter MAA;
    std::unique_ptr<THttpStreamer> streamer_;
    std::unique_ptr<OutputSink> sink_;
    // Declared last: destroyed first, so no handler outlives what it reads.
    std::unique_ptr<MosaicInputs> inputs_;

    std::string outputOptions_;
    std::vector<std::string> inputOptions_;
    std::string lastError_;
    bool runExists_ = false;
    bool startingPlayers_ = false;
    bool libAVLoaded_ = false;
    std::string libAVError_;
};

} // namespace tv
