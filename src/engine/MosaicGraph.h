#pragma once
// MosaicGraph: the option texts of a mosaic run, character for character: the
// composition graph (a scale chain and an overlay chain over a colour base),
// the sound map and the whole output option text handed to the encoder.
// Pure text work on the main thread during Init.

#include <string>
#include <vector>

namespace tv {

class MosaicGraph {
public:
    static constexpr int kFramesPerSecond = 25;     // the composition's fixed rate
    static constexpr const char* kServiceProvider = "VornCo";
    static constexpr const char* kAudioCodecOption = " -c:a mp2";

    // The main picture (input 0): scaled to mainWidth x mainHeight and laid
    // at mainLeft, mainTop over the base.
    MosaicGraph(int mainWidth, int mainHeight, int mainLeft, int mainTop);

    // Encoder input k (a player slot): scaled to width x height, laid at x, y
    // over everything added before.
    void addPlayer(int k, int width, int height, int x, int y);

    // "-filter_complex \"...\" " with the base of outWidth x outHeight in
    // `color` (FFmpeg colour syntax); the last overlay's output unlabeled.
    std::string filterOption(int outWidth, int outHeight, const std::string& color) const;

    const std::string& scaleChain() const { return scale_; }
    const std::string& overlayChain() const { return overlay_; }
    const std::string& lastLabel() const { return label_; }

    // "-map k:a " for every sound input, in order.
    static std::string audioMap(const std::vector<int>& soundInputs);

    // The output options: graph option, map, the profile's Format text, the
    // sound codec when there is sound, the service provider and no packet
    // flushing, with nothing added between the pieces.
    static std::string outputOptions(const std::string& filterOption, const std::string& map,
                                     const std::string& format, int audioMode);

private:
    std::string scale_;
    std::string overlay_;
    std::string label_;
};

} // namespace tv
