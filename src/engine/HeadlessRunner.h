#pragma once
// HeadlessRunner: the mosaic without a window, for servers and services
// (the program tilvaron-run). It takes a profile path and an optional
// instance name, holds the instance's single-instance lock, starts the
// profile with automatic restart, prints every status text as a line on
// standard output and ends with the engine's exit codes: 0 after the end of
// encoding, 4 after a restart, a stop by SIGTERM/SIGINT or a run that could
// not start. Runs on the main thread under a QCoreApplication.

#include <string>
#include <vector>

namespace tv {

struct HeadlessOptions {
    std::string profile;        // path of the profile file
    std::string instance;       // instance name ("" when none)
    bool restart = true;        // AutoStart: a stalled output restarts the program
    bool help = false;
};

// Reads the command line (without argv[0]); the error text is for the user.
bool parseHeadlessArguments(const std::vector<std::string>& args, HeadlessOptions& options, std::string& error);

const char* headlessUsage();

// Runs the mosaic; returns the process exit code when it does not end the
// process itself.
int runHeadless(int argc, char** argv);

} // namespace tv
