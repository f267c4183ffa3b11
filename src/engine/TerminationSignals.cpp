#include "engine/TerminationSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace tv {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT};

int pipeRead = -1;
std::atomic<int> pipeWrite{-1};

extern "C" void onTerminationSignal(int sig)
{
    const int saved = errno;
    const int fd = pipeWrite.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(sig);
        [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

Result<std::unique_ptr<TerminationSignals>> TerminationSignals::install(
    std::function<void(int)> onSignal)
{
    if (pipeWrite.load() >= 0)
        return fail("termination signals are already handled in this process");
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail("cannot create the signal pipe");
    pipeRead = fds[0];
    pipeWrite.store(fds[1]);

    std::unique_ptr<TerminationSignals> self(new TerminationSignals);
    self->onSignal_ = std::move(onSignal);
    self->notifier_ = std::make_unique<QSocketNotifier>(pipeRead, QSocketNotifier::Read);
    TerminationSignals* raw = self.get();
    QObject::connect(self->notifier_.get(), &QSocketNotifier::activated, self->notifier_.get(),
                     [raw] { raw->drain(); });

    struct sigaction sa {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        ::sigaction(sig, &sa, nullptr);
    return self;
}

TerminationSignals::~TerminationSignals()
{
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    for (int sig : kSignals)
        ::sigaction(sig, &sa, nullptr);
    notifier_.reset();
    const int w = pipeWrite.exchange(-1);
    ::close(w);
    ::close(pipeRead);
    pipeRead = -1;
}

void TerminationSignals::drain()
{
    unsigned char byte = 0;
    int last = 0;
    while (::read(pipeRead, &byte, 1) == 1)
        last = byte;
    if (last != 0 && onSignal_)
        onSignal_(last);
}

} // namespace tv
