#pragma once
// The built-in server's side of an "http://" output URL: which port it names,
// and the server started on it. Main thread (the server lives there).

#include "common/Result.h"
#include "httpserver/THttpStreamer.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tv {

// The port text of an output URL that begins with "http://" (lower-cased by
// the caller): what follows "http://"; of that, what follows the first ":"
// when there is one, and of that what precedes the next ":". "http://8080" and
// "http://0.0.0.0:8080" give "8080"; "http://0.0.0.0:8080/live" gives
// "8080/live".
std::string httpPortText(std::string url);

// The port a port text names: a decimal number from 1 to 65535, nothing else.
Result<std::uint16_t> httpPort(const std::string& portText);

// The server for an "http://" output URL, named `name` in its event-log lines.
// When the URL names no usable port or the port cannot be listened on, the
// error is the text the operator sees: "Port " + port text + " is inuse!".
Result<std::unique_ptr<THttpStreamer>> createHttpStreamerFor(const std::string& url, const std::string& name);

} // namespace tv
