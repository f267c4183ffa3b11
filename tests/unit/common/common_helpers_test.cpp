#include "common/AsciiText.h"
#include "common/Common.h"
#include "common/LibAVLoader.h"
#include "common/LogEvent.h"
#include "common/NumberText.h"
#include "common/PrintfText.h"

#include "unit/common/common_test_support.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <map>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tv {
namespace {

TEST(CommonHelpers, CutToken)
{
    struct Case {
        const char* text;
        const char* delimiter;
        const char* token;
        const char* rest;
    };
    const Case cases[] = {
        {"udp://dest:1234", "//", "udp:", "dest:1234"},
        {"rtmp://host/app", "//", "rtmp:", "host/app"},
        {"dest:1234", "//", "", "dest:1234"},
        {"0.0.0.0:8080", ":", "0.0.0.0", "8080"},
        {"8080", ":", "", "8080"},
        {"a::b", ":", "a", ":b"},
        {":x", ":", "", "x"},
        {"x:", ":", "x", ""},
        {"HTTP://h", "http://", "", "HTTP://h"}, // letter case counts
        {"abc", "", "", "abc"},
        {"", ":", "", ""},
        {"a[tmp2];b[tmp2];", "[tmp2];", "a", "b[tmp2];"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.delimiter);
        std::string text = c.text;
        EXPECT_EQ(CutToken(text, c.delimiter), c.token);
        EXPECT_EQ(text, c.rest);
    }
}

TEST(CommonHelpers, AsciiLetterCase)
{
    struct Case {
        std::string_view a;
        std::string_view b;
        bool equal;
    };
    const Case cases[] = {
        {"clSkyBlue", "CLSKYBLUE", true},
        {"[Main]", "[mAIN]", true},
        {"", "", true},
        {"Main", "Main ", false},
        {"a@", "A`", false},                  // neighbours of the letter ranges are no letters
        {"\xC3\x84", "\xC3\xA4", false},     // UTF-8 letters keep their case
        {"\xC3\x84x", "\xC3\x84X", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " | " + std::string(c.b));
        EXPECT_EQ(equalNoCase(c.a, c.b), c.equal);
        EXPECT_EQ(equalNoCase(c.b, c.a), c.equal);
        EXPECT_EQ(asciiLower(c.a) == asciiLower(c.b), c.equal);
    }
    EXPECT_EQ(asciiLower("UDP://Host:1234/\xC3\x84@[Z]"), "udp://host:1234/\xC3\x84@[z]");
}

TEST(CommonHelpers, PrintfTextHoldsTheWholeText)
{
    EXPECT_EQ(printfText("[%d:v]  scale=%dx%d [player%d];", 3, 640, 360, 3), "[3:v]  scale=640x360 [player3];");
    EXPECT_EQ(printfText("%s", ""), "");
    const std::string longText(5000, 'x');
    EXPECT_EQ(printfText("<%s>%d", longText.c_str(), 7), "<" + longText + ">7");
}

TEST(CommonHelpers, LibraryFolderCandidatesInOrder)
{
    test::TempFolder root;
    const std::string base = root.folder();
    const std::string program = base + "App/Bin/";
    std::filesystem::create_directories(program);

    struct Case {
        const char* what;
        std::vector<std::string> folders; // created under the temporary root
        std::map<std::string, std::string> env;
        std::string expected;             // relative to the root, or absolute when it starts with "/"
    };
    const std::string ff = base + "ff";
    const std::string win = base + "win";
    const Case cases[] = {
        {"nothing exists: the program's own LibAV", {}, {}, "App/Bin/LibAV/linux64/"},
        {"beside the program", {"App/Bin/LibAV"}, {}, "App/Bin/LibAV/linux64/"},
        {"parent folder", {"App/LibAV"}, {}, "App/LibAV/linux64/"},
        {"variable with slash", {"ff", "App/LibAV"}, {{"LibAV", ff + "/"}}, ff + "/linux64/"},
        {"variable without slash", {"ff"}, {{"LibAV", ff}}, ff + "linux64/"},
        {"program folder beats the variable", {"App/Bin/LibAV", "ff"}, {{"LibAV", ff + "/"}},
         "App/Bin/LibAV/linux64/"},
        {"variable naming a missing folder", {"App/LibAV"}, {{"LibAV", base + "missing/"}},
         "App/LibAV/linux64/"},
        {"windows folder", {"win/System32/LIBAV", "App/LibAV"}, {{"WINDIR", win}},
         win + "/System32/LIBAV/linux64/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(base + "App/LibAV");
        std::filesystem::remove_all(base + "App/Bin/LibAV");
        std::filesystem::remove_all(ff);
        std::filesystem::remove_all(win);
        for (const std::string& f : c.folders)
            std::filesystem::create_directories(base + f);
        auto env = [&](const char* name) -> std::optional<std::string> {
            auto it = c.env.find(name);
            if (it == c.env.end())
                return std::nullopt;
            return it->second;
        };
        const std::string expected = c.expected.front() == '/' ? c.expected : base + c.expected;
        EXPECT_EQ(GetLibAVPath(program, env), expected);
    }
    // A program in the root folder has no parent candidate.
    auto none = [](const char*) -> std::optional<std::string> { return std::nullopt; };
    EXPECT_EQ(GetLibAVPath("/", none), "/LibAV/linux64/");
    EXPECT_FALSE(GetLibAVPath().empty());
}

TEST(CommonHelpers, LibraryVersionsAreChecked)
{
    const auto linked = linkedLibraryVersions();
    ASSERT_EQ(linked.size(), 6u);
    EXPECT_TRUE(checkLibraryVersions(linked).ok());
    std::string error = "unset";
    EXPECT_TRUE(LoadLibAV(MediaComponent::Encoder, &error));
    EXPECT_EQ(error, "");
    EXPECT_TRUE(LoadLibAV(MediaComponent::Player, &error));
    EXPECT_TRUE(LoadLibAV(MediaComponent::Other));

    const LibraryVersion mismatch[] = {
        {"libavformat", 60, 60},
        {"libavcodec", 60, 61},
        {"libswscale", 7, 6},
    };
    const Status s = checkLibraryVersions(mismatch);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().find("libavcodec has major version 61, the program was built for 60"), std::string::npos);
    EXPECT_NE(s.error().find("libswscale"), std::string::npos);
    EXPECT_EQ(s.error().find("libavformat"), std::string::npos);
}

TEST(CommonHelpers, KillProcessEndsOnlyOneProcess)
{
    // Ids that would reach a whole group or every process are refused up front.
    for (std::uint32_t id : {0u, 0x80000000u, 0xFFFFFFFFu})
        EXPECT_FALSE(singleProcessId(id).has_value()) << id;
    EXPECT_EQ(singleProcessId(1234).value(), 1234);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::pause();
        ::_exit(3);
    }
    EXPECT_TRUE(KillProcess(static_cast<std::uint32_t>(child)));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    // The child is gone now.
    EXPECT_FALSE(KillProcess(static_cast<std::uint32_t>(child)));

    // The own process ends with exit code 0.
    EXPECT_EXIT(KillProcess(static_cast<std::uint32_t>(::getpid())), ::testing::ExitedWithCode(0), "");
}

TEST(CommonHelpers, FileVersionAndProgramFolder)
{
    const std::string app = GetAppPath();
    ASSERT_FALSE(app.empty());
    EXPECT_EQ(app.back(), '/');
    EXPECT_EQ(app, std::string(TILVARON_BIN_DIR) + "/");
    EXPECT_EQ(GetFileVersionStr(app + "common_helpers_test"), TILVARON_VERSION);

    test::TempFolder dir;
    test::writeBytes(dir.file("other"), "x");
    EXPECT_EQ(GetFileVersionStr(dir.file("other")), kNoVersionInformation);
    EXPECT_EQ(GetFileVersionStr(dir.file("missing")), kNoVersionInformation);
    EXPECT_EQ(GetFileVersionStr(""), kNoVersionInformation);
    EXPECT_EQ(eventSourceName(), "common_helpers_test");
}

TEST(CommonHelpers, EventLogWritesOneLineWithTheProgramName)
{
    ::testing::internal::CaptureStderr();
    WriteEventLog("Port 8080 is inuse!", kEventLogSuccess);
    WriteEventLog("disk full", kEventLogError);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("common_helpers_test: information: Port 8080 is inuse!\n"), std::string::npos);
    EXPECT_NE(err.find("common_helpers_test: error: disk full\n"), std::string::npos);
}

TEST(CommonHelpers, NumberTextIgnoresTheLocale)
{
    // Under a locale with "," as decimal separator the texts stay the same.
    const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    EXPECT_EQ(fixedText(12.5, 2), "12.50");
    EXPECT_EQ(fixedText(-0.125, 1), "-0.1");
    EXPECT_EQ(thousandsText(1234567), "1,234,567");
    EXPECT_EQ(thousandsText(-1000), "-1,000");
    EXPECT_EQ(thousandsText(999), "999");
    EXPECT_EQ(thousandsText(0), "0");
    EXPECT_EQ(integerText(-42), "-42");
    EXPECT_EQ(parseDecimalText("12.5").value(), 12.5);
    EXPECT_FALSE(parseDecimalText("12,5").has_value());
    EXPECT_FALSE(parseDecimalText("").has_value());

    SetFixedNumberFormat();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", 2.5);
    EXPECT_STREQ(buf, "2.5");
    if (!german)
        GTEST_LOG_(INFO) << "no de_DE locale installed: the locale part ran under C only";
}

} // namespace
} // namespace tv
