#pragma once
// Option texts in the form of FFmpeg's command line ("-f mpegts -b:v 3000k
// -filter_complex \"...\""), split into (name, value) pairs. Pure text work:
// no libav calls, any thread. An error names the word that could not be read.

#include "common/Result.h"

#include <string>
#include <string_view>
#include <vector>

namespace tv::media {

struct OptionItem {
    std::string name;     // without the leading '-', stream specifier kept ("b:v")
    std::string value;    // empty for a flag
    bool isFlag = false;
};

// Splits a text into words the way a POSIX shell does for plain words:
// blanks separate, double or single quotes group and are removed. Inside
// double quotes a single quote is an ordinary character and vice versa.
Result<std::vector<std::string>> splitOptionWords(std::string_view text);

// Pairs the words into options. A name listed in `flags` takes no value;
// every other name takes the next word as its value, whatever it looks like
// ("-itsoffset -1" is one option).
Result<std::vector<OptionItem>> parseOptionText(std::string_view text,
                                                const std::vector<std::string_view>& flags);

// The flags that the encoder understands on inputs and on outputs.
const std::vector<std::string_view>& inputFlagNames();
const std::vector<std::string_view>& outputFlagNames();

// "b:v" -> name "b", specifier "v"; "b" -> "b", "".
struct SplitName {
    std::string name;
    std::string specifier;
};
SplitName splitStreamSpecifier(std::string_view optionName);

} // namespace tv::media
