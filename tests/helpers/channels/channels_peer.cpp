// The other process of the two-process channel tests. Modes:
//   frame-write <name> <W> <H> <v>   open the frame channel, write a W x H picture (Y=v, U=v+1, V=v+2)
//   frame-read  <name> <W> <H> <v>   open it, wait for such a picture, check every byte
//   audio-write <name>               open the audio channel, hand in 47 chunks of 4,096 bytes
//   audio-read  <name>               create the audio channel, wait for a published second, check it
//   mail-wait   <box>                own mailbox <box> (CheckInterval 1) until "Close" arrives
//   mail-send   <box> <text>         send text to mailbox <box>
// Exit codes: 0 done, 1 check failed or timed out, 2 mailbox in use, 3 channel missing, 4 error.
#include "channels/TALMailSlot.h"
#include "channels/TAudioShare.h"
#include "channels/TShareFileMap.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace tv;

namespace {

constexpr int kLimitMs = 20000; // only to stay alive when the test process is gone

std::uint8_t streamByte(std::size_t i) { return static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF); }

int frameWrite(const std::string& name, int w, int h, int v)
{
    auto map = TShareFileMap::Create(name, false, 0);
    if (!map) {
        std::fprintf(stderr, "%s\n", map.error().c_str());
        return 4;
    }
    if (!map.value()->SharedData)
        return 3;
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    std::vector<std::uint8_t> y(static_cast<std::size_t>(w) * h, static_cast<std::uint8_t>(v));
    std::vector<std::uint8_t> u(static_cast<std::size_t>(cw) * ch, static_cast<std::uint8_t>(v + 1));
    std::vector<std::uint8_t> vv(static_cast<std::size_t>(cw) * ch, static_cast<std::uint8_t>(v + 2));
    const std::uint8_t* planes[3] = {y.data(), u.data(), vv.data()};
    const int linesizes[3] = {w, cw, cw};
    return map.value()->WritePlanes(planes, linesizes, w, h) ? 0 : 1;
}

int frameRead(const std::string& name, int w, int h, int v)
{
    auto map = TShareFileMap::Create(name, false, 0);
    if (!map)
        return 4;
    if (!map.value()->SharedData)
        return 3;
    const std::size_t luma = static_cast<std::size_t>(w) * h;
    const std::size_t chroma = static_cast<std::size_t>((w + 1) / 2) * ((h + 1) / 2);
    std::vector<std::uint8_t> f(TShareFileMap::FrameSize(w, h));
    for (int waited = 0; waited < kLimitMs; waited += 5) {
        map.value()->ReadFromSharedMem(f.data(), static_cast<std::int32_t>(f.size()));
        bool ok = true;
        for (std::size_t i = 0; i < f.size() && ok; ++i) {
            const int expected = i < luma ? v : i < luma + chroma ? v + 1 : v + 2;
            ok = f[i] == static_cast<std::uint8_t>(expected);
        }
        if (ok)
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 1;
}

int audioWrite(const std::string& name)
{
    auto share = TAudioShare::Create(name, false, 0);
    if (!share)
        return 4;
    if (!share.value()->SharedData)
        return 3;
    constexpr std::size_t kChunk = 4096;
    std::vector<std::uint8_t> chunk(kChunk);
    bool updated = false;
    for (std::size_t n = 0; n < 47; ++n) {
        for (std::size_t i = 0; i < kChunk; ++i)
            chunk[i] = streamByte(n * kChunk + i);
        share.value()->Write2SharedMem2(chunk.data(), kChunk, updated);
        if (updated != (n == 46))
            return 1;
    }
    return 0;
}

int audioRead(const std::string& name)
{
    auto share = TAudioShare::Create(name, true, 0);
    if (!share)
        return 4;
    std::vector<std::uint8_t> second(TAudioShare::kBlockSize);
    int status = 1;
    for (int waited = 0; waited < kLimitMs; waited += 5) {
        share.value()->ReadFromSharedMem(second.data(), TAudioShare::kBlockSize);
        bool silent = true;
        for (auto b : second)
            silent = silent && b == 0;
        if (!silent) {
            status = 0;
            for (std::size_t i = 0; i < second.size() && status == 0; ++i)
                if (second[i] != streamByte(i))
                    status = 1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    share.value()->UnlinkSharedFileMapping();
    return status;
}

int mailWait(int argc, char** argv, const QString& box)
{
    QCoreApplication app(argc, argv);
    TALMailSlot slot;
    slot.SetCheckInterval(1);
    slot.SetMailBox(box);
    slot.OnNewMessage = [&](TALMailSlot&, const QString&, const QString&, const QString& text) {
        if (text == "Close")
            app.exit(0);
    };
    slot.SetActive(true);
    if (!slot.Active())
        return 2;
    QTimer::singleShot(kLimitMs, &app, [&] { app.exit(1); });
    return app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 4;
    const std::string mode = argv[1];
    const std::string name = argv[2];
    if (mode == "frame-write" && argc == 6)
        return frameWrite(name, std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    if (mode == "frame-read" && argc == 6)
        return frameRead(name, std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    if (mode == "audio-write")
        return audioWrite(name);
    if (mode == "audio-read")
        return audioRead(name);
    if (mode == "mail-wait")
        return mailWait(argc, argv, QString::fromStdString(name));
    if (mode == "mail-send" && argc == 4) {
        TALMailSlot slot;
        slot.SendMessage(".", QString::fromStdString(name), QString::fromStdString(argv[3]));
        return 0;
    }
    return 4;
}
