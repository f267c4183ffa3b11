#pragma once
// EncoderOutputSettings: an output option text read the way FFmpeg's command
// line reads it. The options the encoder acts on itself are taken apart
// here; every other "-name[:spec] value" stays in `privateOptions`, to be
// applied to the encoders, the muxer or the protocol that knows the name
// (an unknown name is an error there). Pure text work, any thread.

#include "common/Result.h"
#include "media/OptionText.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tv::media {

struct EncoderOutputSettings {
    bool hasFilterComplex = false;
    std::string filterComplex;
    std::vector<int> audioMaps;             // "-map k:a": input k's sound, in order
    std::string videoCodec;                 // -c:v / -vcodec
    std::string audioCodec;                 // -c:a / -acodec
    std::string format;                     // -f
    AVRational frameRate{0, 0};             // -r, {0,0} when absent
    int width = 0, height = 0;              // -s
    AVPixelFormat pixFmt = AV_PIX_FMT_NONE; // -pix_fmt
    int sampleRate = 0;                     // -ar
    int channels = 0;                       // -ac
    bool noVideo = false, noAudio = false;  // -vn, -an
    std::vector<std::pair<std::string, std::string>> metadata;   // -metadata key=value
    std::vector<OptionItem> privateOptions; // -b:v, -g, -flush_packets, -preset, ...

    static Result<EncoderOutputSettings> parse(std::string_view text);
};

} // namespace tv::media
