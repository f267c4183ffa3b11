#pragma once
// The process-wide set-up both programs run first: the media library folder,
// the fixed number format, the instance key and (in the operator's program)
// the primed CPU sampler. Called once by the main thread, after the Qt
// application object exists and before any other thread starts.

#include <string_view>

namespace tv {

void InitCommonHelpers(std::string_view instanceName, bool withCpuSampler);

} // namespace tv
