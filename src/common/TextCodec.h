#pragma once
// Conversions between the byte forms of text files (UTF-16LE, UTF-8) and the
// UTF-8 strings the programs hold in memory. Pure functions, any thread.
//
// The conversion is lossless both ways for anything a UTF-16 file can hold:
// an unpaired surrogate read from a UTF-16 file is kept as its three-byte
// generalised UTF-8 form and written back as the same code unit. Bytes that
// are not valid UTF-8 are written to a UTF-16 file as U+FFFD.

#include <string>
#include <string_view>

namespace tv::text {

// Byte-order marks of the two file encodings.
inline constexpr std::string_view kUtf16LeBom{"\xFF\xFE", 2};
inline constexpr std::string_view kUtf8Bom{"\xEF\xBB\xBF", 3};

// UTF-16LE bytes (without a mark) to UTF-8. A trailing odd byte is ignored.
std::string utf16LeToUtf8(std::string_view bytes);

// UTF-8 to UTF-16LE bytes (without a mark).
std::string utf8ToUtf16Le(std::string_view utf8);

} // namespace tv::text
