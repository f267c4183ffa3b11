#include "player/TfPlayer.h"

#include "common/LibAVLoader.h"
#include "common/NumberText.h"
#include "media/LibAV.h"
#include "platform/Process.h"
#include "player/TDMPlayer.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

namespace tv {

int TfPlayer::Exec(int argc, char** argv)
{
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);

    // A Player never outlives the engine that started it.
    platform::Process::dieWithParent(SIGKILL, TDMPlayer::kExitCode);

    QCoreApplication app(argc, argv);
    SetFixedNumberFormat();
    SetLibAVPath(GetLibAVPath());

    int logLevel = AV_LOG_QUIET;
    if (const char* level = std::getenv(kLogLevelVariable)) {
        if (auto v = parseIntegerText(level))
            logLevel = *v;
    }
    av_log_set_level(logLevel);

    TDMPlayer dataModule;
    if (std::optional<int> exitCode = dataModule.DataModuleCreate(args)) {
        dataModule.ExitProcess(*exitCode);
        return *exitCode;
    }
    return app.exec();
}

} // namespace tv
