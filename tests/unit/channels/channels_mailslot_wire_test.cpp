#include "channels/MailSlotWire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tv::channels;

namespace {

std::vector<std::uint8_t> utf16le(const std::u16string& s)
{
    std::vector<std::uint8_t> v;
    for (char16_t c : s) {
        v.push_back(static_cast<std::uint8_t>(c & 0xFF));
        v.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return v;
}

} // namespace

TEST(ChannelsMailSlotWire, TextSplitsAtEveryKindOfLineBreak)
{
    struct Case { QString text; QStringList lines; };
    const Case cases[] = {
        {"", {}},
        {"Close", {"Close"}},
        {"Close\r\n", {"Close"}},
        {"Close\nx", {"Close", "x"}},
        {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\n\r\nb", {"a", "", "b"}},
        {"a\r\r\n", {"a", ""}},
        {"\n", {""}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(splitLines(c.text), c.lines) << c.text.toStdString();
}

TEST(ChannelsMailSlotWire, CloseTravelsAsFourCrLfLines)
{
    const auto bytes = encodeMessage("op", "wall1", "Close");
    EXPECT_EQ(bytes, utf16le(u"Message\r\nop\r\nwall1\r\nClose\r\n"));
    EXPECT_EQ(encodeMessage("op", "wall1", "Close\nx"), utf16le(u"Message\r\nop\r\nwall1\r\nClose\r\nx\r\n"));
    EXPECT_EQ(encodeMessage("op", "wall1", ""), utf16le(u"Message\r\nop\r\nwall1\r\n"));
    // Non-ASCII text keeps its UTF-16 code units.
    EXPECT_EQ(encodeMessage(QString::fromUtf16(u"Jürgen"), "pc", QString::fromUtf16(u"Ω")),
              utf16le(u"Message\r\nJürgen\r\npc\r\nΩ\r\n"));
}

TEST(ChannelsMailSlotWire, DecodingTakesTheFirstTextLineAndRejectsWhatIsNotAMessage)
{
    struct Case { std::vector<std::uint8_t> bytes; bool valid; QString text; };
    auto msg = [](const std::u16string& s) { return utf16le(s); };
    std::vector<std::uint8_t> odd = msg(u"Message\r\nu\r\nc\r\nClose\r\n");
    odd.push_back('x');
    std::vector<std::uint8_t> huge = msg(u"Message\r\nu\r\nc\r\n");
    huge.resize(kMaxMessageBytes + 2, 'a');
    const Case cases[] = {
        {msg(u"Message\r\nu\r\nc\r\nClose\r\n"), true, "Close"},
        {msg(u"Message\r\nu\r\nc\r\nClose\r\nx\r\n"), true, "Close"},
        {msg(u"Message\nu\rc\r\nClose"), true, "Close"},
        {msg(u"Message\r\nu\r\nc\r\n"), true, ""},
        {msg(std::u16string(u"Message\r\nu\r\nc\r\nClo") + u'\0' + u"se\r\n"), true, "Clo"},
        {msg(u"message\r\nu\r\nc\r\nClose\r\n"), false, ""},
        {msg(u"Message\r\nu\r\n"), false, ""},
        {{}, false, ""},
        {odd, false, ""},
        {huge, false, ""},
    };
    int i = 0;
    for (const auto& c : cases) {
        auto m = decodeMessage(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(m.has_value(), c.valid) << "case " << i;
        if (m && c.valid) {
            EXPECT_EQ(m->Text, c.text) << "case " << i;
        }
        ++i;
    }
    const auto bytes = encodeMessage("user", "computer", "Close");
    auto m = decodeMessage(bytes.data(), bytes.size());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->UserName, "user");
    EXPECT_EQ(m->Computer, "computer");
}
