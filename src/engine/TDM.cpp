#include "engine/TDM.h"

#include "channels/TALMailSlot.h"
#include "channels/TAudioShare.h"
#include "channels/TShareFileMap.h"
#include "common/Colors.h"
#include "common/LibAVLoader.h"
#include "common/ProfileSettings.h"
#include "engine/LogEvent.h"
#include "engine/MosaicGraph.h"
#include "engine/MosaicInputs.h"
#include "engine/MosaicPlan.h"
#include "engine/MosaicRestart.h"
#include "engine/OutputUrl.h"
#include "engine/RunControl.h"
#include "engine/TThreadedSleep.h"
#include "httpserver/OutputSink.h"
#include "httpserver/THttpStreamer.h"
#include "platform/Paths.h"
#include "player/RunPlayer.h"

#include <QString>

#include <cstdio>
#include <mutex>
#include <thread>

namespace tv {

TDM::TDM()
{
    FFEncoder.ProgressInterval = kProgressIntervalMs;
    FFEncoder.OnBeforeFindStreamInfo = [](TFFEncoder*, int, int, AVFormatContext* ctx) {
        ctx->max_analyze_duration = kMaxAnalyzeDuration;
        ctx->max_delay = kMaxDelay;
    };
    FFEncoder.OnProgress = [this](TFFEncoder*, const TProgressInfo& info) { FFEncoderProgress(info); };
    FFEncoder.OnTerminate = [this](TFFEncoder*, const TTerminateInfo& info) { FFEncoderTerminate(info); };

    MailSlot = std::make_unique<TALMailSlot>();
    MailSlot->SetMailBox(QString::fromLatin1(kEngineMailBox));
    // Whatever arrives in the engine's mailbox is taken off and dropped.
    MailSlot->OnNewMessage = [](TALMailSlot&, const QString&, const QString&, const QString&) {};

    RunControlHooks hooks;
    hooks.startPlayer = [this](int player, int source) { return startPlayer(player, source); };
    hooks.sendClose = [this](int player) {
        if (player >= 0 && player < static_cast<int>(MM.size()) && MM[player])
            MailSlot->SendMessage(QString::fromLatin1(TALMailSlot::kThisComputer),
                                  QString::fromStdString(MM[player]->SharedFileName), QStringLiteral("Close"));
    };
    hooks.status = [this](const std::string& text) { report(text); };
    hooks.logError = [this](const std::string& text) { LogEvent(text, kEventTypeError); };
    // The run control asks for the restart; AutoStart, as the program sets
    // it at that moment, decides between restart and stop.
    hooks.restart = [this] {
        if (AutoStart)
            ReRunMosaic();
        else
            FFEncoder.Stop(false);
    };
    hooks.stopEncoder = [this] { FFEncoder.Stop(false); };
    control_ = std::make_unique<RunControl>(std::move(hooks));
    control_->setAutoStart(true);

    std::string err;
    libAVLoaded_ = LoadLibAV(MediaComponent::Encoder, &err);
    libAVError_ = err;
}

TDM::~TDM()
{
    StopAll();
    // The encoder ends before the inputs and the sink it calls go away.
    MAA.abort();
    if (sink_)
        sink_->abort(); // an output call waiting for this thread fails instead
    FFEncoder.Abort();
    openWatchdog_.reset();
}

int TDM::HeartBit() const { return control_->HeartBit(); }

void TDM::report(const std::string& text)
{
    if (OnStatus)
        OnStatus(this, text);
}

bool TDM::refuse(const std::string& text)
{
    lastError_ = text;
    report(text);
    return false;
}

void TDM::LogEvent(const std::string& Msg, int EventType) { tv::LogEvent(DisplayName, Msg, EventType); }

int TDM::startPlayer(int player, int source)
{
    if (player < 0 || player >= static_cast<int>(Players.size()) || player >= static_cast<int>(MM.size()))
        return 0;
    const ProfileSource src = readSource(Ini, source);
    const TitleStyle style =
        readTitleStyle(Ini, startingPlayers_ ? TitleStyle::startDefaults() : TitleStyle::changeDefaults());
    const TPlayer& p = Players[player];
    auto pid = RunPlayer(player, src.url, MM[player]->SharedFileName, p.HasAudio, p.Width, p.Height, src.title,
                         style.font, style.size, style.color, style.pos, style.offset, style.transparent,
                         style.backColor, style.alpha);
    if (!pid) {
        LogEvent("Player " + std::to_string(player + 1) + " could not be started: " + pid.error(), kEventTypeError);
        return 0;
    }
    Players[player].ProcessID = pid.value();
    return pid.value();
}

bool TDM::Init(const std::string& AProfile, const std::string& ADisPlayName)
{
    if (runExists_)
        return refuse("A profile is already running in this process; it is not started twice");
    lastError_.clear();

    // 1-4
    Profile = profileName(AProfile);
    DisplayName = ADisPlayName;
    MailSlot->SetActive(true);
    if (!MailSlot->Active())
        LogEvent(std::string("The engine's mailbox \"") + kEngineMailBox + "\" is in use by another process",
                 kEventTypeError);
    control_->startWatchdog();
    Started = false;

    // 5-7
    auto image = TMemIniFile::Open(AProfile);
    if (!image)
        return refuse("The profile " + AProfile + " cannot be read: " + image.error());
    Ini = std::move(image.value());
    const ProfileSettings s = readProfile(Ini);
    OutWidth = s.outWidth;
    OutHeight = s.outHeight;
    OutAudioChannels = s.audio;
    auto color = colorTextToHex(s.borderColor, true);
    if (!color)
        return refuse("Output BorderColor: " + color.error());
    BorderColor = color.value();

    // What a run divides by and what names its channels, before anything starts.
    if (s.playersCount < 1)
        return refuse("The profile's Players Count must be at least 1, it is " + std::to_string(s.playersCount));
    if (auto ok = checkRunnable(s); !ok)
        return refuse(ok.error());
    const std::string longestName = kFrameChannelPrefix + InstanceName + std::to_string(s.playersCount - 1);
    if (static_cast<int>(longestName.size()) > kMaxChannelSuffix)
        return refuse("Players Count " + std::to_string(s.playersCount) + " with the instance name \"" +
                      InstanceName + "\" gives the channel name " + longestName +
                      ", longer than 8 characters: such a Player could not be closed");
    // Pictures the encoder cannot take would fail it later, with the players
    // already running: say which section is wrong instead.
    if (s.mainWidth < 1 || s.mainHeight < 1)
        return refuse("The profile's Main Width and Height must be at least 1, they are " +
                      std::to_string(s.mainWidth) + " x " + std::to_string(s.mainHeight));
    for (int i = 0; i < s.playersCount; ++i) {
        const PlayerGeometry g = s.playerGeometry(static_cast<size_t>(i));
        if (g.width < 1 || g.height < 1)
            return refuse("Player" + std::to_string(i + 1) + " is " + std::to_string(g.width) + " x " +
                          std::to_string(g.height) + " pixels: check its cells and the Output Border");
    }
    if (!libAVLoaded_)
        return refuse("The media libraries are not usable: " + libAVError_);

    runExists_ = true;

    const MosaicPlan plan = MosaicPlan::build(s, BorderColor);
    const int P = s.playersCount;
    const int N = s.sourcesCount;
    ChangeMode = s.changeMode;

    // 8-13: input 0
    report("Openning MainTV ...");
    FFEncoder.ReadTimeout = -1;
    openWatchdog_ = TThreadedSleep::start(kOpenWatchdogSeconds, [this] {
        LogEvent("The main source did not open within " + std::to_string(kOpenWatchdogSeconds) + " s",
                 kEventTypeError);
        // Without AutoStart nothing is done: the encoder has not started, so
        // its Stop would change nothing, and this thread must not touch it
        // while the main thread is inside AddTask.
        if (AutoStart)
            ReRunMosaic();
    });
    inputs_ = std::make_unique<MosaicInputs>([this](int slot) { return control_->slotTag(slot); });
    inputOptions_.assign(1, plan.mainInputOptions);
    const int T = plan.hasMainUrl ? FFEncoder.AddTask(s.mainUrl, TInputOptions{})
                                  : FFEncoder.AddTask(inputs_->FIADummy.FileName(), TInputOptions{plan.mainInputOptions});
    openWatchdog_->setJobSucceed();
    if (T < 0)
        return refuse(FFEncoder.LastErrMsg());

    // 14-18: channels and players, all started before any is declared.
    Players.assign(P, TPlayer{});
    MM.clear();
    MMA.clear();
    for (int i = 0; i < P; ++i) {
        const std::string name = kFrameChannelPrefix + InstanceName + std::to_string(i);
        auto mm = TShareFileMap::Create(name, true, 0);
        if (!mm)
            return refuse("Frame channel " + name + ": " + mm.error());
        auto mma = TAudioShare::Create(kAudioChannelPrefix + InstanceName + std::to_string(i), true, 0);
        if (!mma)
            return refuse("Audio channel of " + name + ": " + mma.error());
        MM.push_back(std::shared_ptr<TShareFileMap>(std::move(mm.value())));
        MMA.push_back(std::shared_ptr<TAudioShare>(std::move(mma.value())));
        MM.back()->Tag = i;
        MMA.back()->Tag = i;
        TPlayer& p = Players[i];
        p.AssignedSource = 0;
        p.HasAudio = plan.players[i].hasAudio;
        p.Width = plan.players[i].width;
        p.Height = plan.players[i].height;
    }
    control_->createPool(P, N);
    startingPlayers_ = true;
    for (int i = 0; i < P; ++i)
        control_->startInitialPlayer(i, control_->initialSource(i));
    startingPlayers_ = false;

    // 19
    control_->startRotation(s.changeInterval, s.changeMode);

    // 20-22: the player slots, then the sound, as encoder inputs.
    FFEncoder.TriggerEventInMainThread = false;
    for (int i = 0; i < P; ++i)
        inputs_->addPlayer(MM[i], MMA[i]);
    for (int i = 0; i < P; ++i) {
        inputOptions_.push_back(plan.players[i].inputOptions);
        const int k = FFEncoder.AddInput(T, inputs_->FIA[i]->FileName(), TInputOptions{plan.players[i].inputOptions});
        if (k < 0)
            return refuse(FFEncoder.LastErrMsg());
        if (k != plan.players[i].input)
            return refuse("The encoder numbered player " + std::to_string(i + 1) + "'s input " + std::to_string(k) +
                          " instead of " + std::to_string(plan.players[i].input));
    }
    for (size_t j = 0; j < plan.soundPlayers.size(); ++j) {
        inputOptions_.push_back(MosaicPlan::kWaveOptions);
        const int k = FFEncoder.AddInput(T, inputs_->WIA[plan.soundPlayers[j]]->FileName(),
                                         TInputOptions{MosaicPlan::kWaveOptions});
        if (k < 0)
            return refuse(FFEncoder.LastErrMsg());
        if (k != plan.soundInputs[j])
            return refuse("The encoder numbered a sound input " + std::to_string(k) + " instead of " +
                          std::to_string(plan.soundInputs[j]));
    }

    // 23-24
    report("Init Players ...");
    outputOptions_ = plan.outputOptions;
    OutPutURL = lowerCaseUrl(s.outputUrl);
    if (isHttpOutput(OutPutURL)) {
        if (!setHttpOutput(T, outputOptions_))
            return false;
    } else if (FFEncoder.SetOutput(T, OutPutURL, TOutputOptions{outputOptions_}) < 0) {
        return refuse(FFEncoder.LastErrMsg());
    }

    // 25
    report("Starting ...");
    if (!FFEncoder.Start(1))
        return refuse(FFEncoder.LastErrMsg());
    control_->startChanger();
    Started = true;
    return true;
}

bool TDM::setHttpOutput(int task, const std::string& options)
{
    MAA.TriggerEventInMainThread = false;   // the sink hands every call to its own thread
    MAA.OnOpen = [this](TMemoryAccessAdapter*, const std::string&, void*, int) {
        return sink_ && sink_->encoderOpen();
    };
    MAA.OnWrite = [this](TMemoryAccessAdapter*, const uint8_t* b, int n) {
        return sink_ ? sink_->encoderWrite(b, n) : n;
    };
    MAA.OnSeek = [this](TMemoryAccessAdapter*, int64_t offset, int origin) {
        return sink_ ? sink_->encoderSeek(offset, origin) : int64_t(-1);
    };
    MAA.OnRead = [this](TMemoryAccessAdapter*, uint8_t* b, int n) { return sink_ ? sink_->encoderRead(b, n) : -1; };
    MAA.OnClose = [this](TMemoryAccessAdapter*) {
        if (sink_)
            sink_->encoderClose();
    };
    if (FFEncoder.SetOutput(task, &MAA, nullptr, TOutputOptions{options}) < 0)
        return refuse(FFEncoder.LastErrMsg());

    const std::string portText = httpPortText(OutPutURL);
    const auto port = parsePort(portText);
    std::string why;
    if (port) {
        auto server = THttpStreamer::create(static_cast<uint16_t>(*port), kHttpServerName);
        if (server)
            streamer_ = std::move(server.value());
        else
            why = server.error();
    } else {
        why = "not a port number";
    }
    if (!streamer_) {
        const std::string text = "Port " + portText + " is inuse!";
        lastError_ = text + " (" + why + ")";
        report(text);
        LogEvent(lastError_, kEventTypeError);
        // The players end and their channels go with them: this run is over.
        StopAll();
        std::this_thread::sleep_for(std::chrono::milliseconds(kPortFailureWaitMs));
        endProcess(kExitStopped);
        return false;
    }
    sink_ = std::make_unique<OutputSink>(streamer_.get());
    return true;
}

void TDM::FFEncoderProgress(const TProgressInfo& info) { control_->heartbeat(info.FrameNumber); }

void TDM::FFEncoderTerminate(const TTerminateInfo& info)
{
    if (!info.ErrorMessage.empty())
        LogEvent("Mosaic encoder: " + info.ErrorMessage, kEventTypeError);
    LogEvent("Mosaic encoder Terminated!", kEventTypeError);
    StopAll();
    endProcess(kExitEndOfEncoding);
}

void TDM::endProcess(int code)
{
    if (OnProcessEnd)
        OnProcessEnd(code);
    else
        tv::endProcess(code);
}

void TDM::StopAll()
{
    // Two ends can meet (a stop signal during a restart, the encoder's end
    // during the watchdog's stop): one tears down, the other then finds
    // nothing left.
    static std::mutex stopping;
    std::lock_guard guard(stopping);
    control_->StopAll();
    for (auto& m : MM)
        if (m) {
            m->CloseSharedFileMappnig();
            m->UnlinkSharedFileMapping();
        }
    for (auto& a : MMA)
        if (a) {
            a->CloseSharedFileMappnig();
            a->UnlinkSharedFileMapping();
        }
    // The inputs keep their own references: the encoder may still read.
    Players.clear();
    MM.clear();
    MMA.clear();
    Ini = TMemIniFile();
}

void TDM::ReRunMosaic()
{
    RestartPlan plan;
    plan.stopAll = [this] { StopAll(); };
    plan.releaseForSuccessor = [this] {
        if (OnReleaseForSuccessor)
            OnReleaseForSuccessor();
    };
    plan.program = RestartProgram.empty() ? platform::programFile() : RestartProgram;
    // Without an instance name the successor gets no argument at all, as the
    // program was started.
    if (!RestartProgram.empty())
        plan.arguments = RestartArguments;
    else if (!InstanceName.empty())
        plan.arguments = {InstanceName};
    if (OnProcessEnd)
        plan.exit = OnProcessEnd;
    tv::ReRunMosaic(plan, DisplayName);
}

void TDM::TChangerTimer() { control_->TChangerTimer(); }
void TDM::ChangeOne() { control_->ChangeOne(); }
int TDM::NextFreeSource() const { return control_->NextFreeSource(); }

void TDM::AssignSourceToPlayer(int PlayerID, int SourceID)
{
    control_->AssignSourceToPlayer(PlayerID, SourceID);
    const int p = control_->slotTag(PlayerID);
    if (p >= 0 && p < static_cast<int>(Players.size()))
        Players[p].AssignedSource = SourceID;
}

void TDM::RefreshSettings()
{
    if (Ini.FileName().empty())
        return;
    auto image = TMemIniFile::Open(Ini.FileName());
    if (!image)
        return;
    Ini = std::move(image.value());
    const ProfileSettings s = readProfile(Ini);
    ChangeMode = s.changeMode;
    control_->applySettings(s.changeInterval, s.changeMode, s.sourcesCount);
}

} // namespace tv
