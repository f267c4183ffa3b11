#include "engine/OutputUrl.h"

#include "common/AsciiText.h"
#include "common/Common.h"

#include <charconv>

namespace tv {

std::string lowerCaseUrl(std::string_view url) { return asciiLower(url); }

bool isHttpOutput(std::string_view lowerUrl) { return lowerUrl.substr(0, kHttpScheme.size()) == kHttpScheme; }

std::string httpPortText(std::string_view lowerUrl)
{
    std::string rest(lowerUrl);
    CutToken(rest, kHttpScheme);
    if (rest.find(':') != std::string::npos) {
        CutToken(rest, ":");
        if (rest.find(':') != std::string::npos)
            rest = CutToken(rest, ":");
    }
    return rest;
}

std::optional<int> parsePort(std::string_view text)
{
    int port = -1;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || port < 0 || port > 65535)
        return std::nullopt;
    return port;
}

} // namespace tv
