#pragma once
// TerminationSignals: SIGTERM and SIGINT turned into a call on the thread
// that owns the object (the main thread, under its Qt event loop), so that a
// service manager can stop a running mosaic the way the operator's exit does.
// The signal handler only writes the signal number into a pipe; a socket
// notifier reads it on the main thread. One instance per process; destroying
// it restores the default actions.

#include "common/Result.h"

#include <functional>
#include <memory>

class QSocketNotifier;

namespace tv {

class TerminationSignals {
public:
    // Installs the handlers; `onSignal` gets the signal number on the main
    // thread. Fails when another instance is installed or the pipe cannot be
    // made.
    static Result<std::unique_ptr<TerminationSignals>> install(std::function<void(int)> onSignal);
    ~TerminationSignals();

    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    TerminationSignals() = default;
    void drain();

    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace tv
