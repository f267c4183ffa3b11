#include "common/TMemIniFile.h"

#include "unit/common/common_test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tv {
namespace {

using test::asciiUtf16;

const std::string kBom16 = "\xFF\xFE";
const std::string kBom8 = "\xEF\xBB\xBF";

TEST(CommonIniFile, NewProfileIsWrittenAsGoldenBytes)
{
    test::TempFolder dir;
    TMemIniFile ini(dir.file("new.ini"));
    EXPECT_EQ(ini.loadError(), "");
    EXPECT_FALSE(ini.SectionExists("Output"));
    // The keys of a new profile in the designer's order and letter case.
    ini.WriteString("Output", "URL", "UDP://127.0.0.1:1234?pkt_size=1316");
    ini.WriteString("Output", "Width", "720");
    ini.WriteString("Output", "Height", "576");
    ini.WriteString("Output", "Columns", "10");
    ini.WriteString("Output", "Rows", "10");
    ini.WriteString("Output", "Border", "2");
    ini.WriteString("Output", "Format", "-vcodec mpeg2video -b:v 3000k -acodec mp2 -f mpegts");
    ini.WriteString("Output", "BorderColor", "clWhite");
    ini.WriteString("Main", "URL", "");
    ini.WriteInteger("Main", "Width", 100);
    ini.WriteInteger("Main", "Height", 100);
    ini.WriteString("Main", "Left", "");
    ini.WriteString("Main", "Top", "");
    ini.WriteString("Players", "Count", "4");
    ini.WriteInteger("Players", "ChangeMode", 0);
    ini.WriteInteger("Players", "audio", 0);
    ini.WriteString("Players", "ChangeInterval", "30");
    ini.WriteString("Players", "TitleFont", "tahoma");
    ini.WriteInteger("Players", "TitleSize", 1);
    ini.WriteString("Players", "TitleColor", "clRed");
    ini.WriteString("Players", "BackColor", "clWhite");
    ini.WriteInteger("Players", "TitlePos", 1);
    ini.WriteInteger("Players", "TitleOffset", 0);
    ini.WriteBool("Players", "TitleTransparent", true);
    ini.WriteInteger("Players", "Alpha", 10);
    ini.WriteInteger("Sources", "Count", 0);
    ASSERT_TRUE(ini.UpdateFile().ok());
    EXPECT_EQ(test::readBytes(dir.file("new.ini")), test::readBytes(test::dataFile("new_profile.ini")));
}

// A hand-edited file: no byte-order mark, comments, a line before the first
// section, blanks around names, mixed line ends, a section repeated in other
// letter case, a key without "=", text outside the BMP. Edited as the
// designer does and saved, it gives exactly the expected bytes.
TEST(CommonIniFile, HandEditedFileRoundTripsToGoldenBytes)
{
    test::TempFolder dir;
    const std::string path = dir.file("hand.ini");
    test::writeBytes(path, test::readBytes(test::dataFile("hand_edited.ini")));

    TMemIniFile ini(path);
    EXPECT_EQ(ini.ReadSections(),
              (std::vector<std::string>{"Output", "Players", "Player1", "Source1"}));
    EXPECT_EQ(ini.ReadString("Source1", "Title", ""), "Канал 1 📺");
    EXPECT_EQ(ini.ReadInteger("OUTPUT", "width", 0), 800);
    EXPECT_EQ(ini.ReadInteger("Output", "Height", 0), 576);
    EXPECT_EQ(ini.ReadInteger("Output", "Columns", 0), 10);
    EXPECT_EQ(ini.ReadInteger("Output", "Rows", 7), 7);
    EXPECT_EQ(ini.ReadString("Output", "BorderColor", ""), "clRed");
    EXPECT_EQ(ini.ReadString("output", "Border", "x"), "");
    EXPECT_EQ(ini.ReadInteger("Players", "ChangeInterval", 0), 15);
    EXPECT_EQ(ini.ReadString("Players", "Main URL", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("Players", "Width", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("Source1", "URL", ""), "udp://239.0.0.1:1234?a=b");
    EXPECT_FALSE(ini.SectionExists(""));

    ini.WriteInteger("Players", "audio", 2);
    ini.WriteString("Players", "Alpha", "5");
    ini.EraseSection("PLAYER1");
    ini.WriteInteger("Sources", "Count", 1);
    ASSERT_TRUE(ini.UpdateFile().ok());
    EXPECT_EQ(test::readBytes(path), test::readBytes(test::dataFile("hand_edited_saved.ini")));

    // Reading the saved file gives the same image again.
    TMemIniFile again(path);
    EXPECT_EQ(again.ToBytes(), ini.ToBytes());
}

TEST(CommonIniFile, ReadsEveryEncodingAndLineEnd)
{
    const std::string body = "[Output]\r\nWidth=800\r\n";
    struct Case {
        const char* what;
        std::string bytes;
        IniEncoding encoding;
    };
    const Case cases[] = {
        {"UTF-16LE with mark", kBom16 + asciiUtf16(body), IniEncoding::Utf16Le},
        {"UTF-16LE without mark", asciiUtf16(body), IniEncoding::Utf16Le},
        {"UTF-16LE, LF only", asciiUtf16("[Output]\nWidth=800\n"), IniEncoding::Utf16Le},
        {"UTF-16LE, CR only, no last line end", asciiUtf16("[Output]\rWidth=800"), IniEncoding::Utf16Le},
        {"UTF-16LE, odd trailing byte", asciiUtf16(body) + "x", IniEncoding::Utf16Le},
        {"profile saved as UTF-8 with mark", kBom8 + body, IniEncoding::Utf16Le},
        {"profile saved as UTF-8 without mark", body, IniEncoding::Utf16Le},
        {"settings file with mark", kBom8 + body, IniEncoding::Utf8},
        {"settings file without mark", body, IniEncoding::Utf8},
        {"settings file saved as UTF-16LE", kBom16 + asciiUtf16(body), IniEncoding::Utf8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto ini = TMemIniFile::FromBytes(c.bytes, c.encoding);
        EXPECT_EQ(ini.ReadInteger("output", "WIDTH", 0), 800);
        EXPECT_EQ(ini.ReadSections(), std::vector<std::string>{"Output"});
    }
}

TEST(CommonIniFile, LineSyntax)
{
    const auto ini = TMemIniFile::FromBytes(
        "[Main]\n"
        "Main URL\n"
        "; Width=1\n"
        "Width=\n"
        "  Title  =  a = b  \n"
        "=orphan\n"
        "Quote=\"x\" \\n\n"
        "Bad[Section\n"
        "[]\n"
        "Empty=1\n"
        "[ x ]\n"
        "A=1\n",
        IniEncoding::Utf8);
    EXPECT_FALSE(ini.ValueExists("Main", "Main URL"));
    EXPECT_EQ(ini.ReadString("Main", "Main URL", "d"), "d");
    EXPECT_EQ(ini.ReadString("Main", ";", "d"), "d");
    EXPECT_EQ(ini.ReadString("Main", "Width", "d"), "");
    EXPECT_EQ(ini.ReadInteger("Main", "Width", 42), 42);
    EXPECT_TRUE(ini.ReadBool("Main", "Width", true));
    EXPECT_EQ(ini.ReadString("Main", "Title", ""), "a = b");
    EXPECT_EQ(ini.ReadString("Main", "", ""), "orphan");
    EXPECT_EQ(ini.ReadString("Main", "Quote", ""), "\"x\" \\n");
    EXPECT_EQ(ini.ReadSection("Main"), (std::vector<std::string>{"Width", "Title", "", "Quote"}));
    EXPECT_EQ(ini.ReadInteger("", "Empty", 0), 1);
    EXPECT_EQ(ini.ReadInteger("X", "a", 0), 1);
}

TEST(CommonIniFile, IntegerAndBooleanValues)
{
    struct Case {
        const char* text;
        std::int32_t expected; // default is -7
    };
    const Case cases[] = {
        {"720", 720},       {"-12", -12},         {"+5", 5},          {"0x2D0", 720},
        {"0X2d0", 720},     {"$2D0", 720},        {"$1F", 31},        {"0x1F", 31},
        {"$FFFFFFFF", -1},  {"0xFF000000", static_cast<std::int32_t>(0xFF000000u)},
        {"2147483647", 2147483647},               {"-2147483648", INT32_MIN},
        {"2147483648", -7}, {"$100000000", -7},   {"0x", -7},         {"$", -7},
        {"", -7},           {"ten", -7},          {"12px", -7},       {"1 2", -7},
        {"-$1F", -7},       {"0x-1", -7},         {"1.5", -7},        {"--1", -7},
        {"-", -7},          {"+", -7},            {"++1", -7},        {"00", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TMemIniFile ini;
        ini.WriteString("S", "K", c.text);
        EXPECT_EQ(ini.ReadInteger("S", "K", -7), c.expected);
    }

    struct BoolCase {
        const char* text;
        bool def;
        bool expected;
    };
    const BoolCase bools[] = {
        {"1", false, true}, {"0", true, false}, {"2", false, true}, {"-1", false, true},
        {"$0", true, false}, {"", true, true}, {"", false, false}, {"true", false, false},
        {"yes", true, true},
    };
    for (const BoolCase& c : bools) {
        SCOPED_TRACE(c.text);
        TMemIniFile ini;
        ini.WriteString("S", "K", c.text);
        EXPECT_EQ(ini.ReadBool("S", "K", c.def), c.expected);
    }
    TMemIniFile ini;
    ini.WriteBool("S", "T", true);
    ini.WriteBool("S", "F", false);
    ini.WriteInteger("S", "N", -42);
    EXPECT_EQ(ini.ReadString("S", "T", ""), "1");
    EXPECT_EQ(ini.ReadString("S", "F", ""), "0");
    EXPECT_EQ(ini.ReadString("S", "N", ""), "-42");
}

TEST(CommonIniFile, WritesKeepPlaceCaseAndOrder)
{
    auto ini = TMemIniFile::FromBytes("[Players]\nAudio=1\nCount=3\n[Output]\nURL=x\n", IniEncoding::Utf8);
    ini.WriteInteger("PLAYERS", "audio", 2); // keeps "Audio" and its place
    ini.WriteString("players", "Alpha", "10"); // new key at the end of its section
    ini.WriteString("Main", "URL", "");        // new section at the end
    ini.WriteString("Output", "Format", "-f mpegts\r\n-b:v 1M\n[Evil]\rX=1");
    EXPECT_EQ(ini.ToBytes(), kBom8
                                 + "[Players]\r\nAudio=2\r\nCount=3\r\nAlpha=10\r\n\r\n"
                                   "[Output]\r\nURL=x\r\nFormat=-f mpegts -b:v 1M [Evil] X=1\r\n\r\n"
                                   "[Main]\r\nURL=\r\n\r\n");

    ini.EraseSection("Players");
    ini.DeleteKey("Output", "url");
    ini.WriteString("players", "Count", "1"); // an erased section comes back at the end
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Output", "Main", "players"}));
    EXPECT_EQ(ini.ReadSection("Output"), std::vector<std::string>{"Format"});
    EXPECT_FALSE(ini.ValueExists("Players", "Audio"));
    ini.EraseSection("missing");
    ini.DeleteKey("missing", "x");

    // A key stored without "=" is not overwritten: the value goes to a new entry.
    auto bare = TMemIniFile::FromBytes("[Main]\nURL\n", IniEncoding::Utf8);
    bare.WriteString("Main", "URL", "udp://x");
    EXPECT_EQ(bare.ToBytes(), kBom8 + "[Main]\r\nURL\r\nURL=udp://x\r\n\r\n");
}

TEST(CommonIniFile, TextSurvivesUtf16RoundTrip)
{
    // An unpaired surrogate in a hand-edited file is kept as it was.
    std::string bytes = kBom16 + asciiUtf16("[S]\r\nT=");
    bytes += std::string("\x3D\xD8", 2); // lone high surrogate U+D83D
    bytes += asciiUtf16("x\r\n\r\n");
    auto ini = TMemIniFile::FromBytes(bytes);
    EXPECT_EQ(ini.ToBytes(), bytes);

    TMemIniFile w;
    w.WriteString("S", "T", "é€😀");
    auto back = TMemIniFile::FromBytes(w.ToBytes());
    EXPECT_EQ(back.ReadString("S", "T", ""), "é€😀");
}

TEST(CommonIniFile, FilesMissingUnreadableAndUnwritable)
{
    test::TempFolder dir;
    // Missing file: empty image, and the first save creates it.
    TMemIniFile missing(dir.file("none.ini"));
    EXPECT_EQ(missing.loadError(), "");
    EXPECT_EQ(missing.FileName(), dir.file("none.ini"));
    EXPECT_TRUE(TMemIniFile::Open(dir.file("none.ini")).ok());

    // A folder where a file is expected cannot be read: an error, not an empty image.
    ::mkdir(dir.file("folder.ini").c_str(), 0700);
    TMemIniFile unreadable(dir.file("folder.ini"));
    EXPECT_NE(unreadable.loadError(), "");
    EXPECT_FALSE(TMemIniFile::Open(dir.file("folder.ini")).ok());

    // A file far larger than any INI file is refused, not read into memory.
    test::writeBytes(dir.file("huge.ini"), "");
    std::filesystem::resize_file(dir.file("huge.ini"), 65u * 1024 * 1024);
    EXPECT_NE(TMemIniFile(dir.file("huge.ini")).loadError().find("too large"), std::string::npos);
    std::filesystem::remove(dir.file("huge.ini"));

    // Saving into a missing folder fails with the file's name; the image keeps its changes.
    TMemIniFile lost(dir.file("no/such/folder.ini"));
    lost.WriteString("S", "K", "v");
    const Status saved = lost.UpdateFile();
    ASSERT_FALSE(saved.ok());
    EXPECT_NE(saved.error().find("no/such/folder.ini"), std::string::npos);
    EXPECT_EQ(lost.ReadString("S", "K", ""), "v");
    EXPECT_FALSE(TMemIniFile().UpdateFile().ok());

    // A save replaces the file in one piece and keeps its permissions, leaving no temporary behind.
    const std::string path = dir.file("p.ini");
    test::writeBytes(path, "old");
    ::chmod(path.c_str(), 0640);
    TMemIniFile p(path);
    p.WriteString("S", "K", "v");
    ASSERT_TRUE(p.UpdateFile().ok());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    size_t files = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.folder()))
        ++files;
    EXPECT_EQ(files, 2u); // folder.ini and p.ini; none.ini was never saved
    EXPECT_EQ(TMemIniFile(path).ReadString("s", "k", ""), "v");

    // Saved through a symbolic link: the link stays and the file it names changes.
    const std::string link = dir.file("link.ini");
    std::filesystem::create_symlink(path, link);
    TMemIniFile viaLink(link);
    viaLink.WriteString("S", "K", "w");
    ASSERT_TRUE(viaLink.UpdateFile().ok());
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(TMemIniFile(path).ReadString("S", "K", ""), "w");
}

} // namespace
} // namespace tv
