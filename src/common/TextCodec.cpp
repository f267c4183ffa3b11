#include "common/TextCodec.h"

#include <cstdint>

namespace tv::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendUnit(std::string& out, std::uint16_t u)
{
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
}

bool isSurrogateHigh(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isSurrogateLow(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Decodes one code point from UTF-8 at s[i], advancing i. Surrogate code
// points encoded in three bytes are accepted (they come from unpaired
// surrogates of UTF-16 files). Returns kReplacement for a bad sequence and
// skips one byte.
char32_t decodeUtf8(std::string_view s, size_t& i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2; cp = b0 & 0x1F; min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3; cp = b0 & 0x0F; min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4; cp = b0 & 0x07; min = 0x10000;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + len > s.size()) {
        ++i;
        return kReplacement;
    }
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF) {
        ++i;
        return kReplacement;
    }
    i += len;
    return cp;
}

} // namespace

std::string utf16LeToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    const size_t units = bytes.size() / 2;
    auto unitAt = [&](size_t k) {
        return static_cast<char32_t>(static_cast<unsigned char>(bytes[2 * k])
                                     | (static_cast<unsigned char>(bytes[2 * k + 1]) << 8));
    };
    for (size_t k = 0; k < units; ++k) {
        char32_t u = unitAt(k);
        if (isSurrogateHigh(u) && k + 1 < units && isSurrogateLow(unitAt(k + 1))) {
            const char32_t lo = unitAt(k + 1);
            appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
            ++k;
        } else {
            appendUtf8(out, u); // unpaired surrogates stay as they are
        }
    }
    return out;
}

std::string utf8ToUtf16Le(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size() * 2);
    size_t i = 0;
    while (i < utf8.size()) {
        const char32_t cp = decodeUtf8(utf8, i);
        if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            appendUnit(out, static_cast<std::uint16_t>(0xD800 + (v >> 10)));
            appendUnit(out, static_cast<std::uint16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            appendUnit(out, static_cast<std::uint16_t>(cp));
        }
    }
    return out;
}

} // namespace tv::text
