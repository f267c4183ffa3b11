#include "engine/MosaicPlan.h"

#include "common/PrintfText.h"
#include "engine/MosaicGraph.h"

namespace tv {

MosaicPlan MosaicPlan::build(const ProfileSettings& s, const std::string& borderColor)
{
    MosaicPlan plan;
    plan.hasMainUrl = !s.mainUrl.empty();
    if (!plan.hasMainUrl)
        plan.mainInputOptions = std::string(kDummyOptions) +
                                printfText(kDummyRateSize, MosaicGraph::kFramesPerSecond, kDummySize, kDummySize);

    MosaicGraph graph(s.mainWidth, s.mainHeight, s.mainLeft, s.mainTop);
    const int P = s.playersCount;
    const int audio = s.audio;
    int next = 1;
    for (int i = 0; i < P; ++i) {
        MosaicPlayerPlan p;
        const PlayerGeometry g = s.playerGeometry(static_cast<size_t>(i));
        p.input = next++;
        p.width = g.width;
        p.height = g.height;
        p.x = g.x;
        p.y = g.y;
        p.hasAudio = (audio == 1 && i == 0) || audio == 2;
        p.inputOptions = printfText(kPlayerOptions, p.width, p.height);
        graph.addPlayer(p.input, p.width, p.height, p.x, p.y);
        plan.players.push_back(std::move(p));
    }
    const int soundCount = audio == 1 ? std::min(1, P) : audio == 2 ? P : 0;
    for (int i = 0; i < soundCount; ++i) {
        plan.soundPlayers.push_back(i);
        plan.soundInputs.push_back(next++);
    }
    plan.outputOptions = MosaicGraph::outputOptions(graph.filterOption(s.outWidth, s.outHeight, borderColor),
                                                    MosaicGraph::audioMap(plan.soundInputs), s.format, audio);
    return plan;
}

} // namespace tv
