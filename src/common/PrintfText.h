#pragma once
// printf-style formatting into a std::string, for texts with a fixed layout
// (filter graphs, option texts). The compiler checks the arguments against a
// literal format. Any thread.

#include <string>

namespace tv {

// The text std::printf would write for fmt and the arguments; empty when the
// format is malformed.
std::string printfText(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

} // namespace tv
