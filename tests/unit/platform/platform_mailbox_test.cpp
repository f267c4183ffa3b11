#include "platform/DatagramMailbox.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using tv::platform::DatagramMailbox;
using Bind = DatagramMailbox::BindResult;
using Receive = DatagramMailbox::ReceiveResult;

namespace {

std::string uniqueName(const std::string& tag) { return "tvmb" + std::to_string(getpid()) + tag; }

std::vector<std::uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

// Sends raw bytes to a socket address, with a descriptor attached when given.
bool sendTo(const std::string& a, const std::vector<std::uint8_t>& data, int passFd = -1)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, a.data(), a.size());
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    iovec iov{const_cast<std::uint8_t*>(data.data()), data.size()};
    msghdr msg{};
    msg.msg_name = &addr;
    msg.msg_namelen = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + a.size());
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    if (passFd >= 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &passFd, sizeof(int));
    }
    bool ok = sendmsg(fd, &msg, 0) == static_cast<ssize_t>(data.size());
    close(fd);
    return ok;
}

bool sendRaw(const std::string& name, const std::vector<std::uint8_t>& data, int passFd = -1)
{
    return sendTo(DatagramMailbox::address(name), data, passFd);
}

int openDescriptorCount()
{
    int n = 0;
    for (int fd = 0; fd < 1024; ++fd)
        if (fcntl(fd, F_GETFD) != -1)
            ++n;
    return n;
}

} // namespace

TEST(PlatformMailbox, AddressFollowsTheNamingRule)
{
    EXPECT_EQ(DatagramMailbox::address("MFile0"),
              std::string(1, '\0') + "tilvaron." + std::to_string(getuid()) + ".mailslot.MFile0");
}

TEST(PlatformMailbox, DatagramsArriveWholeAndInOrder)
{
    DatagramMailbox box;
    ASSERT_EQ(box.bind(uniqueName("a")), Bind::Bound) << box.error();
    std::vector<std::uint8_t> got;
    EXPECT_EQ(box.receive(got, 100), Receive::Empty) << "receive never blocks";
    const std::vector<std::string> sent = {"first", "", std::string(100, 'x')};
    for (const auto& s : sent)
        ASSERT_TRUE(DatagramMailbox::send(uniqueName("a"), s.data(), s.size()));
    for (const auto& s : sent) {
        ASSERT_EQ(box.receive(got, 100), Receive::Message);
        EXPECT_EQ(got, bytes(s));
    }
    EXPECT_EQ(box.receive(got, 100), Receive::Empty);
}

TEST(PlatformMailbox, NameInUseUntilTheOwnerCloses)
{
    const std::string name = uniqueName("b");
    DatagramMailbox owner, second;
    ASSERT_EQ(owner.bind(name), Bind::Bound) << owner.error();
    EXPECT_EQ(second.bind(name), Bind::InUse);
    EXPECT_FALSE(second.bound());
    owner.close();
    EXPECT_EQ(second.bind(name), Bind::Bound) << second.error();
}

TEST(PlatformMailbox, SendToNobodyFailsQuietly)
{
    const char text[] = "Close";
    EXPECT_FALSE(DatagramMailbox::send(uniqueName("nobody"), text, sizeof text));
}

TEST(PlatformMailbox, OversizedAndDescriptorCarryingDatagramsAreDropped)
{
    const std::string name = uniqueName("c");
    DatagramMailbox box;
    ASSERT_EQ(box.bind(name), Bind::Bound) << box.error();
    std::vector<std::uint8_t> got;
    const int before = openDescriptorCount();
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    ASSERT_TRUE(sendRaw(name, std::vector<std::uint8_t>(101, 'a')));
    ASSERT_TRUE(sendRaw(name, bytes("with a descriptor"), pipeFds[0]));
    close(pipeFds[0]);
    close(pipeFds[1]);
    ASSERT_TRUE(sendRaw(name, std::vector<std::uint8_t>(100, 'b')));
    EXPECT_EQ(box.receive(got, 100), Receive::Dropped);
    EXPECT_EQ(box.receive(got, 100), Receive::Dropped);
    EXPECT_EQ(openDescriptorCount(), before) << "a passed descriptor was left open";
    ASSERT_EQ(box.receive(got, 100), Receive::Message);
    EXPECT_EQ(got, std::vector<std::uint8_t>(100, 'b'));
}

TEST(PlatformMailbox, DatagramsOfAnotherUserAreDropped)
{
    if (getuid() != 0)
        GTEST_SKIP() << "sending as another user needs root to change user";
    const std::string name = uniqueName("d");
    DatagramMailbox box;
    ASSERT_EQ(box.bind(name), Bind::Bound) << box.error();
    const std::string address = DatagramMailbox::address(name); // holds our uid
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
            _exit(2);
        if (sendTo(address, bytes("foreign")))
            _exit(0);
        fprintf(stderr, "send as another user: %s\n", strerror(errno));
        _exit(3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "this machine does not let a process change its user";
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the other user could not send";
    ASSERT_TRUE(DatagramMailbox::send(name, "own", 3));
    std::vector<std::uint8_t> got;
    EXPECT_EQ(box.receive(got, 100), Receive::Dropped);
    ASSERT_EQ(box.receive(got, 100), Receive::Message);
    EXPECT_EQ(got, bytes("own"));
}
