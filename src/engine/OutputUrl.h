#pragma once
// The output URL of a profile: lower-cased as a whole, and for the built-in
// HTTP server the port text taken out of it. Pure text work, any thread.

#include <optional>
#include <string>
#include <string_view>

namespace tv {

inline constexpr std::string_view kHttpScheme = "http://";

// The URL the engine uses: every ASCII letter lower-cased, path included.
std::string lowerCaseUrl(std::string_view url);

// The URL selects the built-in HTTP server (after lower-casing).
bool isHttpOutput(std::string_view lowerUrl);

// The port text: what follows "http://"; if it contains ":", what follows
// the first ":" and, if that still contains ":", what precedes the next.
// "http://0.0.0.0:8080" and "http://8080" give "8080";
// "http://0.0.0.0:8080/live" gives "8080/live".
std::string httpPortText(std::string_view lowerUrl);

// The port number of a port text: decimal digits only, 0 to 65535.
std::optional<int> parsePort(std::string_view portText);

} // namespace tv
