#include "common/NumberText.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <limits>

namespace tv {

std::optional<std::int32_t> parseIntegerText(std::string_view text)
{
    if (text.empty())
        return std::nullopt;

    std::string_view hex;
    if (text.front() == '$')
        hex = text.substr(1);
    else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        hex = text.substr(2);

    if (hex.data() != nullptr) {
        constexpr size_t kMaxHexDigits = 8;
        if (hex.empty() || hex.size() > kMaxHexDigits)
            return std::nullopt;
        std::uint32_t v = 0;
        auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), v, 16);
        if (ec != std::errc() || end != hex.data() + hex.size())
            return std::nullopt;
        return static_cast<std::int32_t>(v);
    }

    std::string_view dec = text;
    if (dec.front() == '+')
        dec.remove_prefix(1);
    if (dec.empty() || dec.front() == '+')
        return std::nullopt;
    std::int32_t v = 0;
    auto [end, ec] = std::from_chars(dec.data(), dec.data() + dec.size(), v, 10);
    if (ec != std::errc() || end != dec.data() + dec.size())
        return std::nullopt;
    // from_chars accepts a lone "-" followed by digits only; "-" alone fails above.
    return v;
}

std::string integerText(std::int64_t value)
{
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    (void)ec;
    return std::string(buf, end);
}

std::string thousandsText(std::int64_t value)
{
    std::string digits = integerText(value);
    const size_t start = digits[0] == '-' ? 1 : 0;
    std::string out;
    out.reserve(digits.size() + digits.size() / 3);
    const size_t n = digits.size() - start;
    out.append(digits, 0, start);
    for (size_t k = 0; k < n; ++k) {
        if (k > 0 && (n - k) % 3 == 0)
            out += ',';
        out += digits[start + k];
    }
    return out;
}

std::string fixedText(double value, int decimals)
{
    if (decimals < 0)
        decimals = 0;
    char buf[400];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (ec != std::errc())
        return std::isnan(value) ? "nan" : (value < 0 ? "-inf" : "inf");
    return std::string(buf, end);
}

std::optional<double> parseDecimalText(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    double v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v,
                                     std::chars_format::fixed | std::chars_format::scientific);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return v;
}

void SetFixedNumberFormat()
{
    std::setlocale(LC_NUMERIC, "C");
}

} // namespace tv
