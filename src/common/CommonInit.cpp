#include "common/CommonInit.h"

#include "common/CpuUsageSampler.h"
#include "common/InstanceKey.h"
#include "common/LibAVLoader.h"
#include "common/NumberText.h"

namespace tv {

void InitCommonHelpers(std::string_view instanceName, bool withCpuSampler)
{
    SetLibAVPath(GetLibAVPath());
    SetFixedNumberFormat();
    OpenInstanceKey(instanceName);
    if (withCpuSampler)
        InitCpuUsage();
}

} // namespace tv
