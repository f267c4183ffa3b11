#include "engine/RunControl.h"

#include <QThread>
#include <QTimer>

#include <sys/wait.h>

namespace tv {

RunControl::RunControl(RunControlHooks hooks)
    : hooks_(std::move(hooks)),
      owner_(QThread::currentThread()),
      TChanger(std::make_unique<QTimer>()),
      TGroupChanger(std::make_unique<QTimer>()),
      TLive(std::make_unique<QTimer>()),
      supervision_(std::make_unique<QTimer>())
{
    TChanger->setInterval(SourceChanger::kDefaultChangeIntervalSec * 1000);
    TGroupChanger->setInterval(SourceChanger::kGroupTickMs);
    TLive->setInterval(LiveWatchdog::kTickMs);
    supervision_->setInterval(kSupervisionMs);
    QObject::connect(TChanger.get(), &QTimer::timeout, TChanger.get(), [this] { TChangerTimer(); });
    QObject::connect(TGroupChanger.get(), &QTimer::timeout, TGroupChanger.get(),
                     [this] { TGroupChangerTimer(); });
    QObject::connect(TLive.get(), &QTimer::timeout, TLive.get(), [this] { TLiveTimer(); });
    QObject::connect(supervision_.get(), &QTimer::timeout, supervision_.get(), [this] {
        if (supervisor_)
            supervisor_->poll(SourceChanger::nowMs());
    });
}

RunControl::~RunControl()
{
    StopAll();
}

bool RunControl::onOwnerThread() const
{
    return QThread::currentThread() == owner_;
}

void RunControl::startWatchdog()
{
    watchdog_.reset();
    TLiveTimer();
}

void RunControl::createPool(int players, int sources)
{
    if (stopped_.load() || supervisor_)
        return;
    changer_ = std::make_unique<SourceChanger>(*this, players, sources);
    supervisor_ = std::make_unique<PlayerSupervisor>(*this, processes_, players);
    supervision_->start();
}

int RunControl::initialSource(int player) const
{
    return changer_ ? changer_->initialSource(player) : 1;
}

pid_t RunControl::startInitialPlayer(int player, int source)
{
    return supervisor_ ? supervisor_->start(player, source, SourceChanger::nowMs()) : 0;
}

void RunControl::adoptPlayer(int player, pid_t pid, int source)
{
    if (supervisor_)
        supervisor_->adopt(player, pid, source, SourceChanger::nowMs());
}

void RunControl::startRotation(int changeIntervalSec, int changeMode)
{
    if (!changer_)
        return;
    changer_->applySettings(changeIntervalSec, changeMode, changer_->sources());
    changer_->startRotation();
}

void RunControl::startChanger()
{
    if (!stopped_.load())
        TChanger->start();
}

void RunControl::heartbeat(int64_t frameNumber)
{
    const std::string text = watchdog_.heartbeat(frameNumber);
    if (hooks_.status)
        hooks_.status(text);
}

void RunControl::TLiveTimer()
{
    if (stopped_.load())
        return;
    TLive->stop();
    const LiveWatchdog::Tick tick = watchdog_.tick();
    if (tick.status && hooks_.status)
        hooks_.status(*tick.status);
    if (tick.timedOut) {
        if (hooks_.logError)
            hooks_.logError(LiveWatchdog::kTimeOutText);
        if (autoStart_.load()) {
            if (hooks_.restart)
                hooks_.restart();
        } else if (hooks_.stopEncoder) {
            hooks_.stopEncoder();
        }
    }
    if (!stopped_.load())
        TLive->start();
}

void RunControl::TChangerTimer()
{
    if (changer_ && !stopped_.load())
        changer_->TChangerTimer();
}

void RunControl::TGroupChangerTimer()
{
    if (changer_ && !stopped_.load())
        changer_->TGroupChangerTimer();
}

void RunControl::ChangeOne()
{
    if (changer_ && !stopped_.load())
        changer_->ChangeOne();
}

int RunControl::NextFreeSource() const
{
    return changer_ ? changer_->NextFreeSource() : 1;
}

void RunControl::AssignSourceToPlayer(int slot, int source)
{
    if (changer_ && !stopped_.load())
        changer_->AssignSourceToPlayer(slot, source);
}

void RunControl::applySettings(int changeIntervalSec, int changeMode, int sources)
{
    if (changer_)
        changer_->applySettings(changeIntervalSec, changeMode, sources);
    else
        setChangerInterval(std::max(changeIntervalSec, 1) * 1000);
}

void RunControl::StopAll()
{
    stopped_.store(true);
    if (onOwnerThread()) {
        TLive->stop();
        TChanger->stop();
        TGroupChanger->stop();
        supervision_->stop();
    }
    if (supervisor_)
        supervisor_->stopAll();
}

int RunControl::slotTag(int slot) const
{
    if (!changer_ || slot < 0 || slot >= changer_->players())
        return -1;
    return changer_->slotTag(slot);
}

int RunControl::players() const
{
    return changer_ ? changer_->players() : 0;
}

void RunControl::ChangePlayer(int player, int source)
{
    if (supervisor_)
        supervisor_->ChangePlayer(player, source, SourceChanger::nowMs());
}

void RunControl::setChangerActive(bool on)
{
    if (stopped_.load() || !onOwnerThread())
        return;
    if (on)
        TChanger->start();
    else
        TChanger->stop();
}

void RunControl::setChangerInterval(int ms)
{
    // setInterval restarts a running timer and leaves a stopped one stopped.
    if (onOwnerThread())
        TChanger->setInterval(ms);
}

void RunControl::setGroupChangerActive(bool on)
{
    if (stopped_.load() || !onOwnerThread())
        return;
    if (on)
        TGroupChanger->start();
    else
        TGroupChanger->stop();
}

void RunControl::sendClose(int player)
{
    if (hooks_.sendClose)
        hooks_.sendClose(player);
}

pid_t RunControl::startPlayer(int player, int source)
{
    if (!hooks_.startPlayer)
        return 0;
    const pid_t pid = hooks_.startPlayer(player, source);
    return pid > 0 ? pid : 0;
}

void RunControl::playerEnded(int player, int waitStatus, int delayMs)
{
    if (!hooks_.logError)
        return;
    std::string how;
    if (waitStatus < 0)
        how = "could not be started";
    else if (WIFEXITED(waitStatus))
        how = "ended with exit code " + std::to_string(WEXITSTATUS(waitStatus));
    else if (WIFSIGNALED(waitStatus))
        how = "was ended by signal " + std::to_string(WTERMSIG(waitStatus));
    else
        how = "ended";
    hooks_.logError("Player " + std::to_string(player + 1) + " " + how + "; starting it again in "
                    + std::to_string(delayMs / 1000) + " s");
}

} // namespace tv
