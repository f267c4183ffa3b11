#include "platform/SharedMemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

using tv::platform::SharedMemory;

namespace {

std::string uniqueName(const std::string& tag) { return "tvshm" + std::to_string(getpid()) + tag; }

// Removes the object when the test ends, whatever happened.
struct Unlinker {
    std::string name;
    ~Unlinker() { SharedMemory::unlink(name); }
};

bool objectExists(const std::string& name)
{
    int fd = shm_open(SharedMemory::objectName(name).c_str(), O_RDONLY, 0);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

} // namespace

TEST(PlatformSharedMemory, ObjectNamesFollowTheNamingRule)
{
    const std::string uid = std::to_string(getuid());
    struct Case { const char* name; std::string expected; };
    const Case cases[] = {
        {"MFile0", "/tilvaron." + uid + ".MFile0"},
        {"MFile212", "/tilvaron." + uid + ".MFile212"},
        {"Global\\AudioAMFile0", "/tilvaron.global.AudioAMFile0"},
        {"Global\\AudioAMFile0Update", "/tilvaron.global.AudioAMFile0Update"},
        {"global\\x", "/tilvaron." + uid + ".global\\x"}, // the prefix is case-sensitive
    };
    for (const auto& c : cases)
        EXPECT_EQ(SharedMemory::objectName(c.name), c.expected) << c.name;
}

TEST(PlatformSharedMemory, CreatedBlockIsZeroPrivateAndKeepsContentsOnReopen)
{
    const std::string name = uniqueName("a");
    Unlinker u{name};
    const std::size_t size = 1 << 20;
    {
        auto m = SharedMemory::createOrOpen(name, size);
        ASSERT_TRUE(m) << m.error();
        ASSERT_EQ(m->size(), size);
        EXPECT_TRUE(std::all_of(m->data(), m->data() + size, [](std::uint8_t b) { return b == 0; }));
        struct stat st {};
        ASSERT_EQ(fstat(m->handle(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_EQ(st.st_uid, getuid());
        m->data()[0] = 0x11;
        m->data()[size - 1] = 0x22;
    }
    // Every mapping is gone; the object and its bytes stay until unlinked.
    auto again = SharedMemory::createOrOpen(name, size);
    ASSERT_TRUE(again) << again.error();
    EXPECT_EQ(again->data()[0], 0x11);
    EXPECT_EQ(again->data()[size - 1], 0x22);
    auto opened = SharedMemory::openExisting(name, size);
    ASSERT_TRUE(opened) << opened.error();
    ASSERT_TRUE(opened.value());
    EXPECT_EQ(opened.value()->data()[size - 1], 0x22);
    opened.value()->data()[5] = 0x33;
    EXPECT_EQ(again->data()[5], 0x33) << "two mappings of one block share bytes";
}

TEST(PlatformSharedMemory, OpenOfMissingNameCreatesNothing)
{
    const std::string name = uniqueName("b");
    auto m = SharedMemory::openExisting(name, 4096);
    ASSERT_TRUE(m) << m.error();
    EXPECT_FALSE(m.value());
    EXPECT_FALSE(objectExists(name));
}

TEST(PlatformSharedMemory, OpenLargerThanTheBlockIsRefused)
{
    const std::string name = uniqueName("c");
    Unlinker u{name};
    auto small = SharedMemory::createOrOpen(name, 4096);
    ASSERT_TRUE(small) << small.error();
    auto big = SharedMemory::openExisting(name, 8192);
    ASSERT_FALSE(big);
    EXPECT_EQ(big.error().rfind("System Error.  Code: 22.\n", 0), 0u) << big.error();
    // Creating with a larger size grows the block, with zero bytes.
    auto grown = SharedMemory::createOrOpen(name, 8192);
    ASSERT_TRUE(grown) << grown.error();
    EXPECT_EQ(grown->data()[8191], 0);
}

TEST(PlatformSharedMemory, ClosedHandleKeepsTheViewAndUnlinkRemovesTheName)
{
    const std::string name = uniqueName("d");
    Unlinker u{name};
    auto m = SharedMemory::createOrOpen(name, 4096);
    ASSERT_TRUE(m) << m.error();
    m->closeHandle();
    EXPECT_EQ(m->handle(), -1);
    ASSERT_TRUE(m->mapped());
    m->data()[10] = 7;
    EXPECT_EQ(m->data()[10], 7);
    EXPECT_EQ(SharedMemory::unlink(name), 0);
    EXPECT_FALSE(objectExists(name));
    m->data()[11] = 8; // the view outlives the name
    EXPECT_EQ(SharedMemory::unlink(name), ENOENT);
    auto fresh = SharedMemory::createOrOpen(name, 4096);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->data()[10], 0) << "a new block after unlink starts from zero";
}

TEST(PlatformSharedMemory, ZeroSizeIsAnError)
{
    auto m = SharedMemory::createOrOpen(uniqueName("e"), 0);
    EXPECT_FALSE(m);
    EXPECT_FALSE(objectExists(uniqueName("e")));
}
