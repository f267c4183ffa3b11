// Second process for the platform tests. Modes:
//   exit <code>                 exit with code
//   sleep <seconds>             sleep, then exit 0
//   args <file> <args...>       write each argument on its own line to file
//   env <file>                  write the parent-pid variable and process group facts to file
//   fd <n> <file>               write "open" or "closed" for descriptor n to file
//   signals <file>              write "default" or "changed" for SIGINT, SIGTERM, SIGPIPE, SIGHUP to file
//   lock <title>                take the instance lock of title and hold it for a minute
//   orphan-parent <file>        start "orphan-child", write its pid to file, sleep
//   orphan-child                die with the parent, sleep
#include "platform/InstanceLock.h"
#include "platform/Process.h"

#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

using tv::platform::Process;

int main(int argc, char** argv)
{
    if (argc < 2)
        return 100;
    const std::string mode = argv[1];
    if (mode == "exit" && argc > 2)
        return std::atoi(argv[2]);
    if (mode == "sleep" && argc > 2) {
        sleep(static_cast<unsigned>(std::atoi(argv[2])));
        return 0;
    }
    if (mode == "args" && argc > 2) {
        std::ofstream out(argv[2]);
        for (int i = 3; i < argc; ++i)
            out << argv[i] << '\n';
        return 0;
    }
    if (mode == "env" && argc > 2) {
        std::ofstream out(argv[2]);
        const char* parent = std::getenv(Process::kParentPidVariable);
        out << (parent ? parent : "none") << '\n'
            << getppid() << '\n'
            << (getpgid(0) == getpid() ? "own-group" : "shared-group") << '\n';
        return 0;
    }
    if (mode == "fd" && argc > 3) {
        std::ofstream out(argv[3]);
        out << (fcntl(std::atoi(argv[2]), F_GETFD) != -1 ? "open" : "closed") << '\n';
        return 0;
    }
    if (mode == "signals" && argc > 2) {
        std::ofstream out(argv[2]);
        for (int sig : {SIGINT, SIGTERM, SIGPIPE, SIGHUP}) {
            struct sigaction now {};
            sigaction(sig, nullptr, &now);
            out << (now.sa_handler == SIG_DFL ? "default" : "changed") << '\n';
        }
        return 0;
    }
    if (mode == "lock" && argc > 2) {
        // The test probes the lock too: retry while it holds it for a moment.
        tv::platform::InstanceLock lock;
        bool held = false;
        for (int i = 0; i < 2000 && !held; ++i) {
            auto r = lock.acquire(argv[2]);
            if (!r)
                return 3;
            held = r.value();
            if (!held)
                usleep(10000);
        }
        if (!held)
            return 3;
        sleep(60);
        return 0;
    }
    if (mode == "orphan-parent" && argc > 2) {
        auto child = Process::spawn(argv[0], {"orphan-child"});
        if (!child)
            return 4;
        {
            std::ofstream out(std::string(argv[2]) + ".tmp");
            out << child->pid() << '\n';
        }
        std::rename((std::string(argv[2]) + ".tmp").c_str(), argv[2]);
        sleep(60);
        return 0;
    }
    if (mode == "orphan-child") {
        if (!Process::dieWithParent(SIGKILL, 4))
            return 5;
        sleep(60);
        return 0;
    }
    return 100;
}
