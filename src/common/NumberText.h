#pragma once
// Numbers as text, in one fixed format whatever the user's locale: "." as the
// decimal separator and "," as the thousands separator. Pure functions, any
// thread, except SetFixedNumberFormat, which the main thread calls once at
// start-up after the Qt application object exists (Qt sets the C locale from
// the environment when it is created).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tv {

// Integer text as the profile and the settings files hold it: decimal with an
// optional sign, or hexadecimal after "$" or after "0x"/"0X" (the latter only
// when the text is longer than two characters). Hexadecimal takes up to eight
// digits as a 32-bit pattern ("$FFFFFFFF" is -1); decimal must fit in 32 bits.
// Anything else, blanks included, gives nothing.
std::optional<std::int32_t> parseIntegerText(std::string_view text);

// Decimal text of an integer ("-12").
std::string integerText(std::int64_t value);

// Integer with "," between groups of three digits ("1,234,567").
std::string thousandsText(std::int64_t value);

// Fixed-point text with exactly `decimals` digits after "." ("12.50").
std::string fixedText(double value, int decimals);

// Decimal number with "." as separator; nothing when the whole text is not one.
std::optional<double> parseDecimalText(std::string_view text);

// Fixes the process's C numeric locale to "C" so that printf-style and
// strtod-style conversions in any library use ".".
void SetFixedNumberFormat();

} // namespace tv
