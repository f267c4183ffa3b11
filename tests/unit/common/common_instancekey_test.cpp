#include "common/FormPlacement.h"
#include "common/InstanceKey.h"

#include "unit/common/common_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

namespace tv {
namespace {

constexpr ScreenSize kScreen{1920, 1080};

TEST(CommonInstanceKey, ValuesLiveInOneFilePerInstance)
{
    test::TempFolder config;
    InstanceKey a = InstanceKey::open(config.folder(), "Tilvaron", "A");
    InstanceKey b = InstanceKey::open(config.folder(), "Tilvaron", "B");
    ASSERT_TRUE(a.isOpen());
    EXPECT_EQ(a.fileName(), config.folder() + "Vorn/TilvaronA.ini");
    EXPECT_EQ(InstanceKey::open(config.folder(), "Tilvaron", "").fileName(), config.folder() + "Vorn/Tilvaron.ini");
    // Opening makes the folder only; nothing is written before the first write.
    EXPECT_FALSE(std::filesystem::exists(a.fileName()));
    EXPECT_EQ(a.ReadString("Profile", "none"), "none");
    EXPECT_EQ(a.ReadInteger("x", 5), 5);

    ASSERT_TRUE(a.WriteString("Profile", "Night wall").ok());
    ASSERT_TRUE(a.WriteBool("cbAutoStart", true).ok());
    ASSERT_TRUE(b.WriteInteger("fmosaicB.Left", -20).ok());
    // Written at once, as UTF-8 text with the mark.
    EXPECT_EQ(test::readBytes(a.fileName()),
              "\xEF\xBB\xBF[TilvaronA]\r\nProfile=Night wall\r\ncbAutoStart=1\r\n\r\n");

    EXPECT_EQ(a.ReadString("profile", ""), "Night wall");
    EXPECT_TRUE(a.ReadBool("cbAutoStart", false));
    EXPECT_EQ(a.ReadInteger("fmosaicB.Left", 7), 7);
    EXPECT_EQ(b.ReadInteger("fmosaicB.Left", 7), -20);
    EXPECT_EQ(b.ReadString("Profile", "-"), "-");

    // Nothing cached: a change made by someone else is seen by the next read.
    test::writeBytes(a.fileName(), "[TilvaronA]\nProfile=Other\ncbAutoStart=yes\nW=0x10\n");
    EXPECT_EQ(a.ReadString("Profile", ""), "Other");
    EXPECT_TRUE(a.ReadBool("cbAutoStart", true));   // not a number: the default
    EXPECT_FALSE(a.ReadBool("cbAutoStart", false));
    EXPECT_EQ(a.ReadInteger("W", 0), 16);
}

TEST(CommonInstanceKey, KeyThatCannotBeOpened)
{
    test::TempFolder config;
    test::writeBytes(config.file("Vorn"), "a file where the folder should be");
    InstanceKey key = InstanceKey::open(config.folder(), "Tilvaron", "");
    EXPECT_FALSE(key.isOpen());
    EXPECT_EQ(key.ReadString("Profile", "d"), "d");
    EXPECT_EQ(key.ReadInteger("cbAutoStart", 1), 1);
    EXPECT_FALSE(key.WriteString("Profile", "x").ok());
    EXPECT_FALSE(key.WriteInteger("cbAutoStart", 1).ok());
}

TEST(CommonInstanceKey, ProcessKeyFollowsXdgConfigHome)
{
    test::TempFolder config;
    ::setenv("XDG_CONFIG_HOME", config.folder().c_str(), 1);
    OpenInstanceKey("Studio1");
    EXPECT_EQ(processInstanceKey().fileName(),
              config.folder() + "Vorn/" + programBaseName() + "Studio1.ini");
    EXPECT_EQ(programBaseName(), "common_instancekey_test");
    ASSERT_TRUE(RegWriteString("Profile", "Sport").ok());
    ASSERT_TRUE(RegWriteInteger("n", 12).ok());
    ASSERT_TRUE(RegWriteBool("cbAutoStart", false).ok());
    EXPECT_EQ(RegReadString("Profile", ""), "Sport");
    EXPECT_EQ(RegReadInteger("n", 0), 12);
    EXPECT_FALSE(RegReadBool("cbAutoStart", true));
    EXPECT_TRUE(RegReadBool("missing", true));
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(CommonFormPlacement, RestoreArithmetic)
{
    using Values = std::map<std::string, std::int32_t>;
    struct Case {
        const char* what;
        Values stored;
        int tag;
        FormPlacement current;
        RestoredPlacement expected;
    };
    const FormPlacement design{10, 20, 800, 600, WindowState::Normal};
    const Case cases[] = {
        {"first start: design size, centred", {}, 15, design, {560, 240, 800, 600, WindowState::Normal}},
        {"stored size and place", {{"w.Width", 1000}, {"w.Height", 700}, {"w.Left", 5}, {"w.Top", 6}}, 15,
         design, {5, 6, 1000, 700, WindowState::Normal}},
        {"left beyond the screen", {{"w.Width", 500}, {"w.Left", 3000}}, 15, design,
         {1420, 240, 500, 600, WindowState::Normal}},
        {"top above the screen", {{"w.Top", -200}}, 15, design, {560, 0, 800, 600, WindowState::Normal}},
        {"left exactly at the edge stays", {{"w.Left", 1920}}, 15, design,
         {1920, 240, 800, 600, WindowState::Normal}},
        {"centre of a stored size", {{"w.Width", 1001}, {"w.Height", 1201}}, 15, design,
         {459, 0, 1001, 1201, WindowState::Normal}},
        {"without tag 15 the size stays", {{"w.Width", 1000}, {"w.Height", 100}}, 0, design,
         {560, 240, 800, 600, WindowState::Normal}},
        {"maximised", {{"w.WindowState", 2}}, 15, design, {560, 240, 800, 600, WindowState::Maximized}},
        {"minimised leaves the state", {{"w.WindowState", 1}}, 15, design, {560, 240, 800, 600, std::nullopt}},
        {"unknown state leaves the state", {{"w.WindowState", 7}}, 15, design,
         {560, 240, 800, 600, std::nullopt}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto read = [&](const std::string& name, std::int32_t def) {
            auto it = c.stored.find(name);
            return it == c.stored.end() ? def : it->second;
        };
        const RestoredPlacement r = LoadFormPlacement(read, "w", c.tag, c.current, kScreen);
        EXPECT_EQ(r.left, c.expected.left);
        EXPECT_EQ(r.top, c.expected.top);
        EXPECT_EQ(r.width, c.expected.width);
        EXPECT_EQ(r.height, c.expected.height);
        EXPECT_EQ(r.state, c.expected.state);
    }
}

TEST(CommonFormPlacement, SaveAndRestoreThroughTheKey)
{
    test::TempFolder config;
    InstanceKey key = InstanceKey::open(config.folder(), "Tilvaron", "");
    const FormPlacement normal{100, 50, 1024, 768, WindowState::Normal};
    ASSERT_TRUE(SaveFormPlacement(key, "fmosaic", normal).ok());

    // Maximised when the program ends: only the state is written.
    const FormPlacement maximised{0, 0, 1920, 1080, WindowState::Maximized};
    EXPECT_EQ(formPlacementValues("fmosaic", maximised).size(), 1u);
    ASSERT_TRUE(SaveFormPlacement(key, "fmosaic", maximised).ok());
    RestoredPlacement r = LoadFormPlacement(key, "fmosaic", kRestoreSizeTag, {0, 0, 640, 480}, kScreen);
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.width, 1024);
    EXPECT_EQ(r.height, 768);
    EXPECT_EQ(r.state, WindowState::Maximized);

    // Hidden in the tray (minimised): the older size and place, the state left as it is.
    ASSERT_TRUE(SaveFormPlacement(key, "fmosaic", {5, 5, 10, 10, WindowState::Minimized}).ok());
    r = LoadFormPlacement(key, "fmosaic", kRestoreSizeTag, {0, 0, 640, 480}, kScreen);
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.width, 1024);
    EXPECT_EQ(r.state, std::nullopt);

    EXPECT_EQ(test::readBytes(key.fileName()),
              "\xEF\xBB\xBF[Tilvaron]\r\nfmosaic.Width=1024\r\nfmosaic.Height=768\r\nfmosaic.Top=50\r\n"
              "fmosaic.Left=100\r\nfmosaic.WindowState=1\r\n\r\n");
}

} // namespace
} // namespace tv
