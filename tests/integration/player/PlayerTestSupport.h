#pragma once
// Shared pieces of the Player's integration tests, on top of tests/support
// (application object, event pump, free ports, tools, temporary folders):
// generated sources made with the ffmpeg command-line tool, short unique
// names and the colours of a picture.

#include "support/LoopbackPorts.h"
#include "support/MediaProbe.h"
#include "support/QtEventPump.h"
#include "support/TempFolder.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace tv::test {

// Runs ffmpeg with the given arguments (quiet); true on success.
inline bool ffmpeg(const QStringList& args, int timeoutMs = 120000)
{
    QProcess p;
    QStringList all{"-hide_banner", "-loglevel", "error", "-y"};
    all << args;
    p.start("ffmpeg", all);
    if (!p.waitForFinished(timeoutMs))
        return false;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A channel/mailbox name of at most 8 characters, unique per process and call.
inline std::string uniqueName(char prefix)
{
    static std::atomic<int> n{0};
    const int k = n++;
    return std::string(1, prefix) + std::to_string(getpid() % 100000) + static_cast<char>('a' + k % 26);
}

// Y, U, V of the sample at (x, y) of a packed yuv420p picture.
struct Yuv {
    int y, u, v;
};
inline Yuv sampleAt(const uint8_t* picture, int w, int h, int x, int y)
{
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    const uint8_t* u = picture + w * h;
    const uint8_t* v = u + cw * ch;
    return {picture[y * w + x], u[(y / 2) * cw + x / 2], v[(y / 2) * cw + x / 2]};
}

// Pure red as the libraries turn it into limited-range yuv.
inline bool looksRed(Yuv p)
{
    return std::abs(p.y - 81) < 16 && std::abs(p.u - 90) < 16 && std::abs(p.v - 240) < 16;
}

} // namespace tv::test
