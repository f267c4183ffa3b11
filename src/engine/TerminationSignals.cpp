#include "engine/TerminationSignals.h"

#include <QMetaObject>
#include <QObject>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
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

// Waits for `fd` to become readable; false on time-out.
bool waitReadable(int fd, int timeoutMs, int stopFd)
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    const int n = ::poll(fds, fd == stopFd ? 1 : 2, timeoutMs);
    return n > 0;
}

} // namespace

Result<std::unique_ptr<TerminationSignals>> TerminationSignals::install(std::function<void(int)> onSignal,
                                                                         std::chrono::milliseconds grace)
{
    if (pipeWrite.load() >= 0)
        return fail("termination signals are already handled in this process");
    int sigFds[2];
    if (::pipe2(sigFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail("cannot create the signal pipe");
    int stopFds[2];
    if (::pipe2(stopFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(sigFds[0]);
        ::close(sigFds[1]);
        return fail("cannot create the signal pipe");
    }
    pipeRead = sigFds[0];
    pipeWrite.store(sigFds[1]);

    std::unique_ptr<TerminationSignals> self(new TerminationSignals);
    self->onSignal_ = std::move(onSignal);
    self->grace_ = grace;
    self->context_ = std::make_unique<QObject>();
    self->stopRead_ = stopFds[0];
    self->stopWrite_ = stopFds[1];
    self->watcher_ = std::thread([raw = self.get()] { raw->watch(); });

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
    const unsigned char byte = 0;
    [[maybe_unused]] ssize_t n = ::write(stopWrite_, &byte, 1);
    if (watcher_.joinable())
        watcher_.join();
    context_.reset();
    ::close(pipeWrite.exchange(-1));
    ::close(pipeRead);
    pipeRead = -1;
    ::close(stopRead_);
    ::close(stopWrite_);
}

void TerminationSignals::deliver(std::uint64_t sequence, int sig)
{
    std::uint64_t expected = sequence - 1;
    if (delivered_.compare_exchange_strong(expected, sequence) && onSignal_)
        onSignal_(sig);
}

void TerminationSignals::watch()
{
    std::uint64_t received = 0;
    for (;;) {
        waitReadable(pipeRead, -1, stopRead_);
        unsigned char stop = 0;
        if (::read(stopRead_, &stop, 1) == 1)
            return;
        unsigned char byte = 0;
        while (::read(pipeRead, &byte, 1) == 1) {
            const std::uint64_t sequence = ++received;
            const int sig = byte;
            QMetaObject::invokeMethod(context_.get(), [this, sequence, sig] { deliver(sequence, sig); },
                                      Qt::QueuedConnection);
            // Give the owner's thread its chance, then act here.
            const auto deadline = std::chrono::steady_clock::now() + grace_;
            while (delivered_.load() < sequence && std::chrono::steady_clock::now() < deadline) {
                if (waitReadable(stopRead_, 20, stopRead_))
                    return;
            }
            deliver(sequence, sig);
        }
    }
}

} // namespace tv
