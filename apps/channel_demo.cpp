// Two processes handing pictures and sound through the channels, the way the
// engine and a Player do: this process creates a frame channel and an audio
// channel, starts a copy of itself as the writer, reads pictures at 25 per
// second, saves them to a raw yuv420p file, then ends the writer with "Close"
// over the messenger and says what it received.
//
//   channel-demo [output.yuv] [seconds]
#include "channels/TALMailSlot.h"
#include "channels/TAudioShare.h"
#include "channels/TShareFileMap.h"
#include "platform/Paths.h"
#include "platform/Process.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tv;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrameIntervalMs = 40; // 25 pictures per second
constexpr int kSampleRate = 48000;

// The writer: a grey ramp with a white square that moves one step per picture,
// and a 440 Hz tone, until "Close" arrives.
int runWriter(int argc, char** argv, const std::string& name)
{
    platform::Process::dieWithParent(SIGKILL, 4);
    QCoreApplication app(argc, argv);
    auto frame = TShareFileMap::Create(name, false, 0);
    auto audio = TAudioShare::Create("A" + name, false, 0);
    if (!frame || !frame.value()->SharedData || !audio) {
        std::fprintf(stderr, "writer: channel %s missing\n", name.c_str());
        return 3;
    }
    TALMailSlot mailSlot;
    mailSlot.SetCheckInterval(1);
    mailSlot.SetMailBox(QString::fromStdString(name));
    mailSlot.OnNewMessage = [&](TALMailSlot&, const QString&, const QString&, const QString& text) {
        if (text == "Close")
            app.exit(0);
    };
    mailSlot.SetActive(true);
    if (!mailSlot.Active()) {
        std::fprintf(stderr, "writer: MailSlot not oppened : %s\n", name.c_str());
        return 4;
    }

    const int cw = (kWidth + 1) / 2, ch = (kHeight + 1) / 2;
    std::vector<std::uint8_t> y(kWidth * kHeight), u(cw * ch), v(cw * ch);
    std::vector<std::int16_t> pcm(2 * kSampleRate * kFrameIntervalMs / 1000);
    long picture = 0, sample = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const int box = 40, x0 = static_cast<int>((picture * 4) % (kWidth - box)), y0 = (kHeight - box) / 2;
        for (int r = 0; r < kHeight; ++r)
            for (int c = 0; c < kWidth; ++c) {
                const bool inBox = c >= x0 && c < x0 + box && r >= y0 && r < y0 + box;
                y[r * kWidth + c] = inBox ? 235 : static_cast<std::uint8_t>(16 + c * 200 / kWidth);
            }
        std::fill(u.begin(), u.end(), static_cast<std::uint8_t>(128 + 40 * std::sin(picture / 25.0)));
        std::fill(v.begin(), v.end(), static_cast<std::uint8_t>(128 + 40 * std::cos(picture / 25.0)));
        const std::uint8_t* planes[3] = {y.data(), u.data(), v.data()};
        const int linesizes[3] = {kWidth, cw, cw};
        frame.value()->WritePlanes(planes, linesizes, kWidth, kHeight);
        for (std::size_t i = 0; i < pcm.size(); i += 2, ++sample)
            pcm[i] = pcm[i + 1] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * sample / kSampleRate));
        bool published = false;
        audio.value()->Write2SharedMem2(pcm.data(), static_cast<std::int32_t>(pcm.size() * 2), published);
        ++picture;
    });
    tick.start(kFrameIntervalMs);
    return app.exec();
}

std::uint32_t checksum(const std::vector<std::uint8_t>& bytes)
{
    std::uint32_t h = 2166136261u; // FNV-1a
    for (std::uint8_t b : bytes)
        h = (h ^ b) * 16777619u;
    return h;
}

int runReader(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::string outPath = argc > 1 ? argv[1] : "channel-demo.yuv";
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    // A name of at most 8 characters: it is also the writer's mailbox.
    const std::string name = "MF" + std::to_string(getpid() % 1000000);

    auto frame = TShareFileMap::Create(name, true, 0);
    auto audio = TAudioShare::Create("A" + name, true, 0);
    if (!frame || !audio) {
        std::fprintf(stderr, "%s\n", (frame ? audio.error() : frame.error()).c_str());
        return 1;
    }
    FILE* out = std::fopen(outPath.c_str(), "wb");
    if (!out) {
        std::perror(outPath.c_str());
        return 1;
    }
    auto writer = platform::Process::spawn(platform::programFile(), {"--writer", name});
    if (!writer) {
        std::fprintf(stderr, "%s\n", writer.error().c_str());
        return 1;
    }
    std::printf("channel-demo: created frame channel %s (%d bytes) and audio channel Global\\AudioA%s; "
                "started writer process %d\n",
                name.c_str(), TShareFileMap::BlockSize(), name.c_str(), writer->pid());

    const std::size_t f = static_cast<std::size_t>(TShareFileMap::FrameSize(kWidth, kHeight));
    std::vector<std::uint8_t> picture(f);
    std::vector<std::uint8_t> second(TAudioShare::kBlockSize);
    std::set<std::uint32_t> distinct;
    int read = 0, blank = 0, soundSeconds = 0;
    const int pictures = seconds * 1000 / kFrameIntervalMs;

    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&] {
        frame.value()->ReadFromSharedMem(picture.data(), static_cast<std::int32_t>(f));
        std::fwrite(picture.data(), 1, f, out);
        const std::uint32_t sum = checksum(picture);
        distinct.insert(sum);
        blank += std::all_of(picture.begin(), picture.end(), [](std::uint8_t b) { return b == 0; });
        if (++read % 25 == 0) {
            audio.value()->ReadFromSharedMem(second.data(), TAudioShare::kBlockSize);
            soundSeconds += std::any_of(second.begin(), second.end(), [](std::uint8_t b) { return b != 0; });
            std::printf("channel-demo: %d pictures read, last checksum %08x\n", read, sum);
        }
        if (read == pictures) {
            reader.stop();
            TALMailSlot messenger;
            messenger.SendMessage(".", QString::fromStdString(name), "Close");
            std::printf("channel-demo: sent \"Close\" to mailbox %s\n", name.c_str());
            QTimer::singleShot(0, &app, [&] {
                auto status = writer->poll();
                for (int i = 0; !status && i < 500; ++i) {
                    usleep(10000);
                    status = writer->poll();
                }
                if (!status) {
                    std::printf("channel-demo: writer did not end, killing it\n");
                    status = writer->kill();
                }
                std::printf("channel-demo: writer ended with %s %d\n", status->exited ? "exit code" : "signal",
                            status->exited ? status->code : status->signal);
                app.exit(status->exited && status->code == 0 ? 0 : 1);
            });
        }
    });
    reader.start(kFrameIntervalMs);
    const int rc = app.exec();
    std::fclose(out);
    frame.value()->UnlinkSharedFileMapping();
    audio.value()->UnlinkSharedFileMapping();
    std::printf("channel-demo: read %d pictures of %dx%d yuv420p (%zu bytes each), %zu distinct, %d still blank; "
                "%d of %d seconds of sound carried the tone\n",
                read, kWidth, kHeight, f, distinct.size(), blank, soundSeconds, read / 25);
    std::printf("channel-demo: saved them to %s; view with: ffplay -f rawvideo -pixel_format yuv420p "
                "-video_size %dx%d %s\n",
                outPath.c_str(), kWidth, kHeight, outPath.c_str());
    return rc;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::string(argv[1]) == "--writer")
        return runWriter(argc, argv, argv[2]);
    return runReader(argc, argv);
}
