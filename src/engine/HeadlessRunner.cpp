#include "engine/HeadlessRunner.h"

#include "common/CommonInit.h"
#include "engine/MosaicRestart.h"
#include "engine/TDM.h"
#include "engine/TerminationSignals.h"
#include "platform/InstanceLock.h"
#include "platform/Paths.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>

namespace tv {

namespace {

constexpr const char* kProgramTitle = "Tilvaron";
constexpr const char* kDisplayName = "Tilvaron";

std::mutex& printMutex()
{
    static std::mutex m;
    return m;
}

// One line with the local time in front; status texts come from the main
// thread and the encoder's thread.
void printLine(const std::string& text)
{
    std::lock_guard lock(printMutex());
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &tm);
    std::fprintf(stdout, "%s %s\n", stamp, text.c_str());
    std::fflush(stdout);
}

} // namespace

const char* headlessUsage()
{
    return "usage: tilvaron-run [--no-restart] PROFILE [INSTANCE]\n"
           "  PROFILE     path of the profile file (.ini)\n"
           "  INSTANCE    instance name: channels, mailboxes and the single-instance lock\n"
           "  --no-restart  a stalled output stops the encoder instead of restarting\n";
}

bool parseHeadlessArguments(const std::vector<std::string>& args, HeadlessOptions& o, std::string& error)
{
    std::vector<std::string> plain;
    for (const auto& a : args) {
        if (a == "--no-restart")
            o.restart = false;
        else if (a == "-h" || a == "--help")
            o.help = true;
        else if (a.size() > 1 && a[0] == '-' && a[1] == '-')
            return error = "unknown option " + a, false;
        else
            plain.push_back(a);
    }
    if (o.help)
        return true;
    if (plain.empty() || plain.size() > 2)
        return error = "a profile path and at most an instance name are expected", false;
    o.profile = plain[0];
    if (plain.size() == 2)
        o.instance = plain[1];
    return true;
}

int runHeadless(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    HeadlessOptions options;
    std::string error;
    if (!parseHeadlessArguments(args, options, error)) {
        std::fprintf(stderr, "tilvaron-run: %s\n%s", error.c_str(), headlessUsage());
        return kExitStopped;
    }
    if (options.help) {
        std::fputs(headlessUsage(), stdout);
        return 0;
    }
    std::error_code ec;
    const std::string profile = std::filesystem::absolute(options.profile, ec).string();
    if (!std::filesystem::is_regular_file(profile, ec)) {
        std::fprintf(stderr, "tilvaron-run: no profile file %s\n", profile.c_str());
        return kExitStopped;
    }

    InitCommonHelpers(options.instance, false);

    platform::InstanceLock lock;
    const std::string title = std::string(kProgramTitle) + options.instance;
    auto got = lock.acquire(title);
    if (!got || !got.value()) {
        std::fprintf(stderr, "tilvaron-run: the instance \"%s\" is already running%s%s\n", options.instance.c_str(),
                     got ? "" : ": ", got ? "" : got.error().c_str());
        return kExitStopped;
    }

    TDM dm;
    dm.InstanceName = options.instance;
    dm.AutoStart = options.restart;
    dm.RestartProgram = platform::programFile();
    dm.RestartArguments = args;
    dm.OnReleaseForSuccessor = [&lock] { lock.release(); };
    dm.OnStatus = [](TDM*, const std::string& text) { printLine(text); };

    auto stopSignals = TerminationSignals::install([&dm](int sig) {
        printLine(std::string("Stopping on ") + (sig == SIGINT ? "SIGINT" : "SIGTERM"));
        dm.StopAll();
        endProcess(kExitStopped);
    });
    if (!stopSignals)
        std::fprintf(stderr, "tilvaron-run: %s\n", stopSignals.error().c_str());

    QTimer::singleShot(0, &app, [&] {
        printLine("Profile " + profile + (options.instance.empty() ? "" : ", instance " + options.instance));
        if (dm.Init(profile, kDisplayName)) {
            printLine("Output " + dm.OutPutURL);
            return;
        }
        const std::string why = dm.LastError().empty() ? dm.FFEncoder.LastErrMsg() : dm.LastError();
        printLine("The profile could not start: " + why);
        if (!dm.RunExists() || !dm.AutoStart) {
            dm.StopAll();
            endProcess(kExitStopped);
        }
        printLine("A restart follows when the watchdog runs out");
    });
    return app.exec();
}

} // namespace tv
