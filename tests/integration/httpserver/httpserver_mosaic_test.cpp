// A running mosaic served over HTTP: tilvaron-run with an "http://" output,
// read by ffmpeg and ffprobe as any viewer would; and a port that is taken
// ends the run with "Port ... is inuse!" and exit code 4.

#include "platform/SharedMemory.h"
#include "support/InstanceName.h"
#include "support/LoopbackPorts.h"
#include "support/MediaProbe.h"
#include "support/QtEventPump.h"
#include "support/TempFolder.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;
using tv::test::app;
using tv::test::canConnect;
using tv::test::listenOnFreePort;
using tv::test::pumpUntil;

namespace {

const QString kRunner = QStringLiteral(TILVARON_BIN_DIR "/tilvaron-run");
const QString kPlayer = QStringLiteral(TILVARON_BIN_DIR "/Player");

// A two-cell mosaic of two generated sources with an "http://" output.
class MosaicFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        if (!QFileInfo::exists(kRunner) || !QFileInfo::exists(kPlayer))
            GTEST_SKIP() << "tilvaron-run and Player are not built";
        if (!tv::test::haveTool("ffmpeg") || !tv::test::haveTool("ffprobe"))
            GTEST_SKIP() << "ffmpeg/ffprobe not installed";
        for (int i = 1; i <= 2; ++i) {
            QProcess make;
            make.start("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=176x144:rate=25", "-t", "60",
                                  "-c:v", "mpeg2video", "-b:v", "300k", "-f", "mpegts", source(i)});
            ASSERT_TRUE(make.waitForFinished(120000));
            ASSERT_EQ(make.exitCode(), 0) << make.readAllStandardError().toStdString();
        }
    }

    QString source(int i) const { return QString::fromStdString((dir_ / ("source" + std::to_string(i) + ".ts")).string()); }

    QString writeProfile(std::uint16_t port) const
    {
        const fs::path path = dir_ / "mosaic.ini";
        std::ofstream ini(path);
        ini << "[Output]\nURL=http://0.0.0.0:" << port
            << "\nWidth=352\nHeight=144\nColumns=2\nRows=1\nBorder=2\n"
               "Format=-vcodec mpeg2video -b:v 1000k -f mpegts\nBorderColor=clBlack\n"
               "[Main]\nURL=\nWidth=2\nHeight=1\nLeft=0\nTop=0\n"
               "[Players]\nCount=2\nAudio=0\nChangeMode=0\nChangeInterval=60\nTitleColor=clWhite\n"
               "[Sources]\nCount=2\n"
            << "[Source1]\nURL=" << source(1).toStdString() << "\nTitle=One\n"
            << "[Source2]\nURL=" << source(2).toStdString() << "\nTitle=Two\n"
            << "[Player1]\nLeft=0\nTop=0\nRight=0\nBottom=0\n[Player2]\nLeft=1\nTop=0\nRight=1\nBottom=0\n";
        return QString::fromStdString(path.string());
    }

    void startRunner(QProcess& runner, const QString& profile)
    {
        runner.setWorkingDirectory(QString::fromStdString(dir_.string()));
        runner.setProcessChannelMode(QProcess::MergedChannels);
        instance_ = tv::test::instanceName();
        runner.start(kRunner, {"--no-restart", profile, QString::fromStdString(instance_)});
        ASSERT_TRUE(runner.waitForStarted(30000));
    }

    static void stopRunner(QProcess& runner)
    {
        if (runner.state() == QProcess::NotRunning)
            return;
        runner.terminate();
        if (!runner.waitForFinished(30000)) {
            runner.kill();
            runner.waitForFinished(10000);
        }
    }

    // Whether shared-memory channel objects of player `i` of this run exist.
    bool channelLeft(int i) const
    {
        const std::string n = instance_ + std::to_string(i);
        return fs::exists("/dev/shm" + tv::platform::SharedMemory::objectName("MFile" + n)) ||
               fs::exists("/dev/shm" + tv::platform::SharedMemory::objectName("Global\\AudioAMFile" + n));
    }

    tv::test::TempFolder folder_{"tv-http-mosaic"};
    const fs::path dir_ = folder_.path();
    std::string instance_;
};

// A viewer joining a live stream starts between pictures: until the next
// sequence header the decoder says so. Anything else is an error.
std::string decodeErrors(const QByteArray& log)
{
    std::string out;
    for (const QByteArray& line : log.split('\n')) {
        if (line.isEmpty() || line.contains("Invalid frame dimensions 0x0") || line.contains("Last message repeated"))
            continue;
        out += line.toStdString() + "\n";
    }
    return out;
}

} // namespace

TEST_F(MosaicFixture, ViewersDecodeTheServedMosaic)
{
    std::uint16_t port = 0;
    const int probe = listenOnFreePort(port);
    ASSERT_GE(probe, 0);
    ::close(probe);
    QProcess runner;
    startRunner(runner, writeProfile(port));

    const bool serving = pumpUntil([&] { return runner.state() == QProcess::NotRunning || canConnect(port); },
                              std::chrono::seconds(90));
    ASSERT_TRUE(serving && runner.state() == QProcess::Running) << runner.readAll().toStdString();

    const QString url = QString("http://127.0.0.1:%1/").arg(port);
    QProcess viewer;
    viewer.start("ffmpeg", {"-v", "error", "-i", url, "-t", "4", "-f", "null", "-"});
    QProcess probeStreams;
    probeStreams.start("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name,width,height", "-of",
                                   "compact=p=0", url});
    pumpUntil([&] { return viewer.state() == QProcess::NotRunning && probeStreams.state() == QProcess::NotRunning; },
         std::chrono::seconds(120));
    const std::string runLog = runner.readAll().toStdString();
    stopRunner(runner);

    ASSERT_EQ(viewer.state(), QProcess::NotRunning) << "the viewer got no stream\n" << runLog;
    EXPECT_EQ(viewer.exitCode(), 0) << runLog;
    EXPECT_EQ(decodeErrors(viewer.readAllStandardError()), "");
    const std::string streams = probeStreams.readAllStandardOutput().toStdString();
    EXPECT_NE(streams.find("codec_name=mpeg2video|width=352|height=144"), std::string::npos) << streams;
    EXPECT_NE(runLog.find("127.0.0.1 play Tilvaron"), std::string::npos) << runLog;
}

TEST_F(MosaicFixture, APortInUseEndsTheRunWithCode4)
{
    std::uint16_t port = 0;
    const int taken = listenOnFreePort(port);
    ASSERT_GE(taken, 0);
    QProcess runner;
    startRunner(runner, writeProfile(port));
    const bool ended = runner.waitForFinished(120000);
    const std::string runLog = runner.readAll().toStdString();
    ::close(taken);
    if (!ended)
        stopRunner(runner);
    ASSERT_TRUE(ended) << runLog;
    EXPECT_EQ(runner.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(runner.exitCode(), 4) << runLog;
    EXPECT_NE(runLog.find("Port " + std::to_string(port) + " is inuse!"), std::string::npos) << runLog;
    // The players' channels end with the run.
    EXPECT_FALSE(channelLeft(0));
    EXPECT_FALSE(channelLeft(1));
}
