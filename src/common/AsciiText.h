#pragma once
// Letter case of ASCII text, the way names in profiles, colour names, URL
// schemes and font names are compared: only A-Z and a-z are letters; every
// other byte (UTF-8 sequences included) stays as it is, whatever the locale.
// Pure functions, any thread.

#include <string>
#include <string_view>

namespace tv {

// c with A-Z turned into a-z.
constexpr char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// text with A-Z turned into a-z.
std::string asciiLower(std::string_view text);

// a and b are equal when letter case is ignored.
bool equalNoCase(std::string_view a, std::string_view b);

} // namespace tv
