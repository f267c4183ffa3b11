#include "platform/Process.h"
#include "support/ChildEnd.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using tv::platform::ExitStatus;
using tv::platform::Process;

namespace {

const std::string kChild = std::string(TILVARON_BIN_DIR) + "/platform_child";

std::string tempPath(const std::string& tag)
{
    return testing::TempDir() + "tv_process_" + std::to_string(getpid()) + "_" + tag;
}

std::vector<std::string> readLines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

// 'Z' for a zombie, 0 when the process is gone.
char processState(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string s;
    if (!std::getline(in, s))
        return 0;
    auto close = s.rfind(')');
    return close == std::string::npos || close + 2 >= s.size() ? 0 : s[close + 2];
}

} // namespace

TEST(PlatformProcess, ExitCodesArriveThroughPoll)
{
    for (int code : {0, 4, 77}) {
        auto p = Process::spawn(kChild, {"exit", std::to_string(code)});
        ASSERT_TRUE(p) << p.error();
        const pid_t pid = p->pid();
        auto s = tv::test::waitForEnd(*p, std::chrono::seconds(20));
        ASSERT_TRUE(s);
        EXPECT_TRUE(s->exited);
        EXPECT_EQ(s->code, code);
        EXPECT_FALSE(p->running());
        EXPECT_FALSE(p->poll()) << "a reaped child has no second status";
        errno = 0;
        EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1) << "the child was reaped";
        EXPECT_EQ(errno, ECHILD);
    }
}

TEST(PlatformProcess, ArgumentsReachTheChildVerbatimWithoutAShell)
{
    const std::string file = tempPath("args");
    const std::vector<std::string> args = {"two words", "$HOME", "'quoted'", "a;b|c", "", "*"};
    std::vector<std::string> argv = {"args", file};
    argv.insert(argv.end(), args.begin(), args.end());
    auto p = Process::spawn(kChild, argv);
    ASSERT_TRUE(p) << p.error();
    auto s = p->wait();
    ASSERT_TRUE(s && s->exited && s->code == 0);
    EXPECT_EQ(readLines(file), args);
    std::remove(file.c_str());
}

TEST(PlatformProcess, ChildGetsOwnGroupAndParentPid)
{
    const std::string file = tempPath("env");
    auto p = Process::spawn(kChild, {"env", file});
    ASSERT_TRUE(p) << p.error();
    ASSERT_TRUE(p->wait());
    auto lines = readLines(file);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], std::to_string(getpid()));
    EXPECT_EQ(lines[1], std::to_string(getpid()));
    EXPECT_EQ(lines[2], "own-group");
    std::remove(file.c_str());
}

TEST(PlatformProcess, SpawnOptionsDecideGroupAndParentVariable)
{
    // A value we inherited ourselves is replaced for a child that is to die
    // with us, and handed down untouched otherwise.
    ASSERT_EQ(setenv(Process::kParentPidVariable, "4242", 1), 0);
    struct Case {
        tv::platform::SpawnOptions options;
        std::string parentVariable;
        std::string group;
    };
    const std::string self = std::to_string(getpid());
    const Case cases[] = {
        {{true, true}, self, "own-group"},
        {{false, true}, "4242", "own-group"},
        {{true, false}, self, "shared-group"},
        {{false, false}, "4242", "shared-group"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.options.dieWithThisProcess) + std::to_string(c.options.newProcessGroup));
        const std::string file = tempPath("options");
        const pid_t pid = tv::platform::spawnProcess(kChild, {"env", file}, c.options);
        ASSERT_GT(pid, 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        const auto lines = readLines(file);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], c.parentVariable);
        EXPECT_EQ(lines[1], self);
        EXPECT_EQ(lines[2], c.group);
        std::remove(file.c_str());
    }
    unsetenv(Process::kParentPidVariable);
    EXPECT_EQ(tv::platform::spawnProcess("/nonexistent/Player", {}), -ENOENT);
}

TEST(PlatformProcess, ChildStartsWithDefaultSignalDispositions)
{
    // What this process ignores or handles, a child must not inherit.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction saved[4];
    const int sigs[4] = {SIGINT, SIGTERM, SIGPIPE, SIGHUP};
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(sigaction(sigs[i], &ignore, &saved[i]), 0);
    const std::string file = tempPath("signals");
    auto p = Process::spawn(kChild, {"signals", file});
    for (int i = 0; i < 4; ++i)
        sigaction(sigs[i], &saved[i], nullptr);
    ASSERT_TRUE(p) << p.error();
    ASSERT_TRUE(p->wait());
    EXPECT_EQ(readLines(file), std::vector<std::string>(4, "default"));
    std::remove(file.c_str());
}

TEST(PlatformProcess, OnlyTheStandardStreamsAreInherited)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0); // deliberately without close-on-exec
    const std::string file = tempPath("fd");
    auto p = Process::spawn(kChild, {"fd", std::to_string(fds[1]), file});
    ASSERT_TRUE(p) << p.error();
    ASSERT_TRUE(p->wait());
    EXPECT_EQ(readLines(file), std::vector<std::string>{"closed"});
    auto q = Process::spawn(kChild, {"fd", "2", file});
    ASSERT_TRUE(q) << q.error();
    ASSERT_TRUE(q->wait());
    EXPECT_EQ(readLines(file), std::vector<std::string>{"open"});
    close(fds[0]);
    close(fds[1]);
    std::remove(file.c_str());
}

TEST(PlatformProcess, MissingProgramIsASystemError)
{
    auto p = Process::spawn("/nonexistent/Player", {});
    ASSERT_FALSE(p);
    EXPECT_EQ(p.error().rfind("System Error.  Code: 2.\n", 0), 0u) << p.error();
}

TEST(PlatformProcess, KillEndsAndReapsARunningChild)
{
    auto p = Process::spawn(kChild, {"sleep", "60"});
    ASSERT_TRUE(p) << p.error();
    const pid_t pid = p->pid();
    EXPECT_FALSE(p->poll()) << "still running";
    auto s = p->kill();
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->exited);
    EXPECT_EQ(s->signal, SIGKILL);
    EXPECT_EQ(processState(pid), 0) << "no zombie left";
    EXPECT_FALSE(p->kill()) << "killing twice does nothing";
}

TEST(PlatformProcess, ChildDiesWithItsParent)
{
    const std::string file = tempPath("orphan");
    auto parent = Process::spawn(kChild, {"orphan-parent", file});
    ASSERT_TRUE(parent) << parent.error();
    std::vector<std::string> lines;
    for (int i = 0; i < 2000 && lines.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lines = readLines(file);
    }
    ASSERT_EQ(lines.size(), 1u) << "the middle process never started its child";
    const pid_t grandchild = std::stoi(lines[0]);
    ASSERT_GT(grandchild, 0);
    // Give the grandchild time to ask for the signal, then end its parent.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    parent->kill();
    char state = 'S';
    for (int i = 0; i < 2000; ++i) {
        state = processState(grandchild);
        if (state == 0 || state == 'Z')
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(state == 0 || state == 'Z') << "grandchild still running, state " << state;
    if (state != 0 && state != 'Z')
        ::kill(grandchild, SIGKILL);
    std::remove(file.c_str());
}
