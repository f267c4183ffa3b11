#pragma once
// Test support: read media with the real ffprobe/ffmpeg command-line tools.
// Header-only; used by the media and engine tests.

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace tv::test {

inline std::string runCommand(const std::string& cmd)
{
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

inline bool haveTool(const char* tool)
{
    return !runCommand(std::string("command -v ") + tool + " 2>/dev/null").empty();
}

// One line per stream of `input` (a file or URL), in stream order, with the
// given ffprobe stream entries ("codec_name,width"), comma separated.
// ffprobe lists transport-stream streams once more under their program;
// those repeats are dropped.
inline std::vector<std::string> probeStreams(const std::string& input, const std::string& entries,
                                             const std::string& extra = "")
{
    std::string out = runCommand("ffprobe -v error " + extra + " -show_entries stream=index," + entries +
                                 " -of csv=p=0 '" + input + "' 2>/dev/null");
    std::vector<std::string> lines;
    std::set<std::string> seenIndex;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        auto comma = line.find(',');
        std::string index = line.substr(0, comma);
        if (!seenIndex.insert(index).second)
            continue;
        std::string rest = comma == std::string::npos ? "" : line.substr(comma + 1);
        while (!rest.empty() && rest.back() == ',')
            rest.pop_back();
        lines.push_back(rest);
    }
    return lines;
}

// Picture number `frame` of the first video stream as packed RGB24 bytes of
// w x h (empty when it could not be decoded). `input` may be a URL; then
// `inputOptions` can bound the read (e.g. "-t 5").
inline std::vector<unsigned char> decodeRgb(const std::string& input, int frame, int w, int h,
                                            const std::string& scratch, const std::string& inputOptions = "")
{
    runCommand("ffmpeg -v error -y " + inputOptions + " -i '" + input + "' -vf 'select=gte(n\\," +
               std::to_string(frame) + ")' -frames:v 1 -s " + std::to_string(w) + "x" + std::to_string(h) +
               " -f rawvideo -pix_fmt rgb24 '" + scratch + "' 2>/dev/null");
    std::ifstream in(scratch, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() != size_t(w) * h * 3)
        bytes.clear();
    return bytes;
}

inline std::array<int, 3> rgbAt(const std::vector<unsigned char>& rgb, int w, int x, int y)
{
    if (rgb.empty())
        return {-1, -1, -1};
    size_t at = (size_t(y) * w + x) * 3;
    return {rgb[at], rgb[at + 1], rgb[at + 2]};
}

} // namespace tv::test
