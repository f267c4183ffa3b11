// Second process for the restart and signal tests.
//
//   engine_runctl_restart_helper restart <dir> <generation> <lock name> [<fd>]
//     Generation 0 takes the lock and restarts itself through ReRunMosaic,
//     lingering a second before it ends, as a slow exit would. Generation 1
//     reports whether it got the lock, its process group and whether the
//     descriptor <fd> of its predecessor reached it.
//   engine_runctl_restart_helper signal <dir> [block]
//     Waits under an event loop (or, with "block", with its main thread
//     stuck); SIGTERM/SIGINT write "stopped" with the signal number, then the
//     process ends with the stop exit code.

#include "engine/MosaicRestart.h"
#include "engine/TerminationSignals.h"
#include "platform/Paths.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path + ".tmp");
    out << text;
    out.close();
    std::rename((path + ".tmp").c_str(), path.c_str());
}

// A single-instance lock of the kind the programs use: an abstract socket
// name that the kernel frees when the owner closes it or ends.
int takeLock(const std::string& name)
{
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string abstractName = "tilvaron-test." + name;
    std::memcpy(addr.sun_path + 1, abstractName.data(), abstractName.size());
    const socklen_t len = offsetof(sockaddr_un, sun_path) + 1 + abstractName.size();
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int restartMode(int argc, char** argv)
{
    const std::string dir = argv[2];
    const int generation = std::stoi(argv[3]);
    const std::string lockName = argv[4];
    const int lock = takeLock(lockName);
    const std::string me = dir + "/gen" + std::to_string(generation);

    if (generation > 0) {
        const int inheritedFd = argc > 5 ? std::stoi(argv[5]) : -1;
        const bool inherited = inheritedFd >= 0 && ::fcntl(inheritedFd, F_GETFD) != -1;
        writeFile(me, std::string(lock >= 0 ? "lock" : "busy") + " "
                          + (::getpgrp() == ::getpid() ? "group" : "nogroup") + " "
                          + (inherited ? "inherited" : "closed") + "\n");
        return 0;
    }
    if (lock < 0) {
        writeFile(me, "busy\n");
        return 1;
    }
    // A descriptor without close-on-exec, as a library might leave one.
    const int leaky = ::open("/dev/null", O_RDONLY);

    tv::RestartPlan plan;
    plan.stopAll = [dir] { writeFile(dir + "/stopped", "yes\n"); };
    plan.releaseForSuccessor = [lock] { ::close(lock); };
    plan.program = tv::platform::programFile();
    plan.arguments = {"restart", dir, "1", lockName, std::to_string(leaky)};
    plan.exit = [](int code) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        tv::endProcess(code);
    };
    tv::ReRunMosaic(plan, "engine_runctl_restart_helper");
}

int signalMode(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::string dir = argv[2];
    auto handlers = tv::TerminationSignals::install([dir](int sig) {
        writeFile(dir + "/stopped", std::to_string(sig) + "\n");
        tv::endProcess(tv::kExitStopped);
    });
    if (!handlers) {
        std::fprintf(stderr, "%s\n", handlers.error().c_str());
        return 1;
    }
    // "block": the main thread is stuck, as in a long open of a source.
    const bool block = argc > 3 && std::string(argv[3]) == "block";
    QTimer::singleShot(0, &app, [dir, block] {
        writeFile(dir + "/ready", "ready\n");
        if (block)
            std::this_thread::sleep_for(std::chrono::seconds(120));
    });
    return app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 5 && std::string(argv[1]) == "restart")
        return restartMode(argc, argv);
    if (argc >= 3 && std::string(argv[1]) == "signal")
        return signalMode(argc, argv);
    std::fprintf(stderr, "usage: %s restart <dir> <generation> <lock> | signal <dir>\n", argv[0]);
    return 2;
}
