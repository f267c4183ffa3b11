#include "engine/MosaicGraph.h"

#include "common/Common.h"
#include "common/PrintfText.h"

namespace tv {

MosaicGraph::MosaicGraph(int mainWidth, int mainHeight, int mainLeft, int mainTop)
    : scale_(printfText("[0:v]  scale=%dx%d [player0];", mainWidth, mainHeight)),
      label_("tmp0")
{
    overlay_ = printfText("[base][player0]  overlay=shortest=1 :x=%d:y=%d [%s];", mainLeft, mainTop, label_.c_str());
}

void MosaicGraph::addPlayer(int k, int width, int height, int x, int y)
{
    const std::string next = printfText("tmp%d", k);
    scale_ += printfText("[%d:v]  scale=%dx%d [player%d];", k, width, height, k);
    overlay_ += printfText("[%s][player%d]  overlay=shortest=1 :x=%d:y=%d [%s];", label_.c_str(), k, x, y, next.c_str());
    label_ = next;
}

std::string MosaicGraph::filterOption(int outWidth, int outHeight, const std::string& color) const
{
    std::string f = "-filter_complex \"" +
                    printfText("color=size=%dx%d:c=%s,format=rgb24 [base];", outWidth, outHeight, color.c_str()) +
                    scale_ + overlay_;
    // Only what precedes the last overlay's label stays: that output is the
    // graph's unlabeled output.
    const std::string kept = CutToken(f, "[" + label_ + "];");
    return kept + "\" ";
}

std::string MosaicGraph::audioMap(const std::vector<int>& soundInputs)
{
    std::string m;
    for (int k : soundInputs)
        m += printfText("-map %d:a ", k);
    return m;
}

std::string MosaicGraph::outputOptions(const std::string& filterOption, const std::string& map,
                                       const std::string& formatText, int audioMode)
{
    std::string o = filterOption + map + formatText;
    if (audioMode > 0)
        o += kAudioCodecOption;
    o += std::string(" -metadata service_provider=\"") + kServiceProvider + "\"";
    o += " -flush_packets 0";
    return o;
}

} // namespace tv
