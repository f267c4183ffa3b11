#pragma once
// Text of an operating-system error as the programs show it: the error number
// and the system's description on a second line. Any thread.

#include <string>

namespace tv::platform {

// "System Error.  Code: <code>." + "\n" + strerror(code)
std::string systemErrorText(int code);

} // namespace tv::platform
