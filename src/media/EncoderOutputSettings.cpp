#include "media/EncoderOutputSettings.h"

extern "C" {
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
}

#include <charconv>

namespace tv::media {

namespace {

bool parseInt(const std::string& text, int& out)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

bool isVideoSpec(const std::string& s) { return s == "v" || s == "v:0"; }
bool isAudioSpec(const std::string& s) { return s == "a" || s.rfind("a:", 0) == 0; }

} // namespace

Result<EncoderOutputSettings> EncoderOutputSettings::parse(std::string_view text)
{
    auto items = parseOptionText(text, outputFlagNames());
    if (!items)
        return fail(items.error());
    EncoderOutputSettings s;
    for (auto& o : items.value()) {
        const auto [name, spec] = splitStreamSpecifier(o.name);
        const std::string& v = o.value;
        if (name == "filter_complex" || name == "lavfi") {
            s.hasFilterComplex = true;
            s.filterComplex = v;
        } else if (name == "map") {
            int k = -1;
            auto colon = v.find(':');
            if (colon == std::string::npos || v.substr(colon + 1) != "a" || !parseInt(v.substr(0, colon), k) || k < 0)
                return fail("unsupported -map '" + v + "' (the form k:a is understood)");
            s.audioMaps.push_back(k);
        } else if ((name == "c" || name == "codec") && isVideoSpec(spec)) {
            s.videoCodec = v;
        } else if ((name == "c" || name == "codec") && isAudioSpec(spec)) {
            s.audioCodec = v;
        } else if ((name == "c" || name == "codec") && spec.empty()) {
            s.videoCodec = v;
            s.audioCodec = v;
        } else if (name == "vcodec") {
            s.videoCodec = v;
        } else if (name == "acodec") {
            s.audioCodec = v;
        } else if (name == "f") {
            s.format = v;
        } else if (name == "r") {
            if (av_parse_video_rate(&s.frameRate, v.c_str()) < 0 || s.frameRate.num <= 0)
                return fail("invalid frame rate '" + v + "' for -r");
        } else if (name == "s") {
            if (av_parse_video_size(&s.width, &s.height, v.c_str()) < 0)
                return fail("invalid picture size '" + v + "' for -s");
        } else if (name == "pix_fmt") {
            s.pixFmt = av_get_pix_fmt(v.c_str());
            if (s.pixFmt == AV_PIX_FMT_NONE)
                return fail("unknown pixel format '" + v + "' for -pix_fmt");
        } else if (name == "ar") {
            if (!parseInt(v, s.sampleRate) || s.sampleRate <= 0)
                return fail("invalid sample rate '" + v + "' for -ar");
        } else if (name == "ac") {
            if (!parseInt(v, s.channels) || s.channels <= 0)
                return fail("invalid channel count '" + v + "' for -ac");
        } else if (name == "metadata") {
            auto eq = v.find('=');
            if (eq == std::string::npos || eq == 0)
                return fail("invalid -metadata '" + v + "' (key=value expected)");
            s.metadata.emplace_back(v.substr(0, eq), v.substr(eq + 1));
        } else if (name == "vn") {
            s.noVideo = true;
        } else if (name == "an") {
            s.noAudio = true;
        } else if (o.isFlag) {
            // -y, -n, -shortest, ...: nothing to do for a streaming output
        } else if (name == "b" && spec.empty()) {
            // the command line's -b is the video bit rate
            s.privateOptions.push_back(OptionItem{"b:v", v, false});
        } else {
            s.privateOptions.push_back(std::move(o));
        }
    }
    return s;
}

} // namespace tv::media
