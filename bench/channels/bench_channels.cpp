// Channel costs, each beside a baseline measured in the same run:
//   frame channel: write + read of one 1920x1080 yuv420p picture vs. two plain memcpy of the same bytes
//   audio channel: publish (47 chunks of 4,096 bytes) + read of one second vs. two plain memcpy
//   messenger: send -> delivered latency with CheckInterval 1 (target: median below 5 ms)
#include "channels/TALMailSlot.h"
#include "channels/TAudioShare.h"
#include "channels/TShareFileMap.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tv;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 15;     // alternating rounds of channel and baseline
constexpr int kFramesPerRound = 40;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<std::size_t>(p * v.size()))];
}

template <typename F>
double microsecondsPer(int n, F&& f)
{
    const auto t0 = Clock::now();
    for (int i = 0; i < n; ++i)
        f(i);
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / n;
}

// Keeps the optimiser from dropping copies whose result is never read.
volatile std::uint8_t gSink;

bool benchFrame()
{
    const int w = 1920, h = 1080;
    const std::size_t luma = static_cast<std::size_t>(w) * h, chroma = luma / 4;
    const std::size_t f = static_cast<std::size_t>(TShareFileMap::FrameSize(w, h));
    const std::string name = "tvbench" + std::to_string(getpid());
    auto map = TShareFileMap::Create(name, true, 0);
    if (!map) {
        std::printf("frame channel: %s\n", map.error().c_str());
        return false;
    }
    auto& channel = *map.value();
    std::vector<std::uint8_t> y(luma, 16), u(chroma, 128), v(chroma, 128), out(f), staging(f);
    const std::uint8_t* planes[3] = {y.data(), u.data(), v.data()};
    const int linesizes[3] = {w, w / 2, w / 2};
    std::vector<std::uint8_t> src(f, 1);

    std::vector<double> channelUs, memcpyUs;
    for (int r = 0; r < kRounds; ++r) {
        channelUs.push_back(microsecondsPer(kFramesPerRound, [&](int i) {
            y[0] = static_cast<std::uint8_t>(i);
            channel.WritePlanes(planes, linesizes, w, h);
            channel.ReadFromSharedMem(out.data(), static_cast<std::int32_t>(f));
            gSink = out[0];
        }));
        memcpyUs.push_back(microsecondsPer(kFramesPerRound, [&](int i) {
            src[0] = static_cast<std::uint8_t>(i);
            std::memcpy(staging.data(), src.data(), f);
            std::memcpy(out.data(), staging.data(), f);
            gSink = out[0];
        }));
    }
    channel.UnlinkSharedFileMapping();
    const double c = median(channelUs), m = median(memcpyUs);
    std::printf("frame channel 1920x1080 yuv420p (%zu bytes), write + read: %8.1f us/picture\n", f, c);
    std::printf("plain memcpy of the same bytes, twice:                   %8.1f us/picture\n", m);
    std::printf("frame channel speed relative to memcpy: %.2f (target >= 0.90)\n", m / c);
    return true;
}

bool benchAudio()
{
    const std::string name = "tvbenchA" + std::to_string(getpid());
    auto engine = TAudioShare::Create(name, true, 0);
    auto player = TAudioShare::Create(name, false, 0);
    if (!engine || !player) {
        std::printf("audio channel: %s\n", engine ? player.error().c_str() : engine.error().c_str());
        return false;
    }
    constexpr std::size_t kChunk = 4096;
    const std::size_t second = TAudioShare::kBlockSize;
    std::vector<std::uint8_t> pcm(48 * kChunk, 3), out(second), staging(second);
    std::vector<double> channelUs, memcpyUs;
    for (int r = 0; r < kRounds; ++r) {
        channelUs.push_back(microsecondsPer(kFramesPerRound, [&](int) {
            bool updated = false;
            while (!updated)
                for (std::size_t n = 0; n < 48 && !updated; ++n)
                    player.value()->Write2SharedMem2(pcm.data() + n * kChunk, kChunk, updated);
            engine.value()->ReadFromSharedMem(out.data(), static_cast<std::uint32_t>(second));
            gSink = out[0];
        }));
        memcpyUs.push_back(microsecondsPer(kFramesPerRound, [&](int) {
            std::memcpy(staging.data(), pcm.data(), second);
            std::memcpy(out.data(), staging.data(), second);
            gSink = out[0];
        }));
    }
    engine.value()->UnlinkSharedFileMapping();
    const double c = median(channelUs), m = median(memcpyUs);
    std::printf("audio channel, publish (4,096-byte chunks) + read of one second: %7.1f us/second\n", c);
    std::printf("plain memcpy of 192,000 bytes, twice:                            %7.1f us/second\n", m);
    std::printf("audio channel speed relative to memcpy: %.2f\n", m / c);
    return true;
}

bool benchMessenger()
{
    const QString box = QString::number(getpid() % 1000000) + "b";
    TALMailSlot receiver;
    receiver.SetCheckInterval(1);
    receiver.SetMailBox(box);
    QEventLoop loop;
    Clock::time_point arrived;
    receiver.OnNewMessage = [&](TALMailSlot&, const QString&, const QString&, const QString&) {
        arrived = Clock::now();
        loop.quit();
    };
    receiver.SetActive(true);
    if (!receiver.Active()) {
        std::printf("messenger: mailbox %s in use\n", qPrintable(box));
        return false;
    }
    TALMailSlot sender;
    std::vector<double> ms;
    constexpr int kMessages = 200;
    for (int i = 0; i < kMessages; ++i) {
        QTimer guard; // only to stay alive if a message never arrives
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(5000);
        const auto sent = Clock::now();
        arrived = {};
        sender.SendMessage(".", box, "Close");
        loop.exec();
        if (arrived == Clock::time_point{}) {
            std::printf("messenger: message %d never arrived\n", i);
            return false;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(arrived - sent).count());
    }
    std::printf("messenger send -> delivered, CheckInterval 1, %d messages: median %.3f ms, 95th percentile %.3f ms, "
                "max %.3f ms (target: median < 5 ms)\n",
                kMessages, median(ms), percentile(ms, 0.95), *std::max_element(ms.begin(), ms.end()));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bool ok = benchFrame();
    ok = benchAudio() && ok;
    ok = benchMessenger() && ok;
    return ok ? 0 : 1;
}
