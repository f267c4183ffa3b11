#include "httpserver/HttpOutputPort.h"

#include "common/Common.h"

#include <charconv>

namespace tv {

namespace {
constexpr const char* kHttpScheme = "http://";
} // namespace

std::string httpPortText(std::string url)
{
    CutToken(url, kHttpScheme);
    if (url.find(':') != std::string::npos) {
        CutToken(url, ":");
        if (url.find(':') != std::string::npos)
            url = CutToken(url, ":");
    }
    return url;
}

Result<std::uint16_t> httpPort(const std::string& portText)
{
    unsigned value = 0;
    const char* end = portText.data() + portText.size();
    const auto [at, ec] = std::from_chars(portText.data(), end, value);
    if (portText.empty() || ec != std::errc() || at != end || value == 0 || value > 65535)
        return fail("no port number: " + portText);
    return static_cast<std::uint16_t>(value);
}

Result<std::unique_ptr<THttpStreamer>> createHttpStreamerFor(const std::string& url, const std::string& name)
{
    const std::string text = httpPortText(url);
    const std::string refused = "Port " + text + " is inuse!";
    const auto port = httpPort(text);
    if (!port)
        return fail(refused);
    auto server = THttpStreamer::create(port.value(), name);
    if (!server)
        return fail(refused);
    return server;
}

} // namespace tv
