#include "media/OptionText.h"

#include <algorithm>

namespace tv::media {

Result<std::vector<std::string>> splitOptionWords(std::string_view text)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (char c : text) {
        if (quote) {
            if (c == quote)
                quote = 0;
            else
                word += c;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quote)
        return fail(std::string("unterminated ") + (quote == '"' ? "double" : "single") +
                    " quote in option text");
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

Result<std::vector<OptionItem>> parseOptionText(std::string_view text,
                                                const std::vector<std::string_view>& flags)
{
    auto words = splitOptionWords(text);
    if (!words)
        return fail(words.error());
    std::vector<OptionItem> items;
    const auto& w = words.value();
    for (size_t i = 0; i < w.size(); ++i) {
        if (w[i].size() < 2 || w[i][0] != '-')
            return fail("unexpected word '" + w[i] + "' in option text (an option name starting with '-' was expected)");
        OptionItem item;
        item.name = w[i].substr(1);
        if (std::find(flags.begin(), flags.end(), item.name) != flags.end()) {
            item.isFlag = true;
        } else {
            if (i + 1 >= w.size())
                return fail("option '" + item.name + "' needs a value");
            item.value = w[++i];
        }
        items.push_back(std::move(item));
    }
    return items;
}

const std::vector<std::string_view>& inputFlagNames()
{
    static const std::vector<std::string_view> names{"re", "an", "vn", "sn", "dn", "y", "n",
                                                     "nostdin", "hide_banner"};
    return names;
}

const std::vector<std::string_view>& outputFlagNames()
{
    static const std::vector<std::string_view> names{"an", "vn", "sn", "dn", "y", "n",
                                                     "shortest", "nostdin", "hide_banner"};
    return names;
}

SplitName splitStreamSpecifier(std::string_view optionName)
{
    auto colon = optionName.find(':');
    if (colon == std::string_view::npos)
        return {std::string(optionName), {}};
    return {std::string(optionName.substr(0, colon)), std::string(optionName.substr(colon + 1))};
}

} // namespace tv::media
