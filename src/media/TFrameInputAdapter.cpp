#include "media/TFrameInputAdapter.h"

#include "media/AdapterRegistry.h"

namespace tv {

using Registry = media::AdapterRegistry<TFrameInputAdapter>;

TFrameInputAdapter::TFrameInputAdapter() { Registry::add(this); }
TFrameInputAdapter::~TFrameInputAdapter() { Registry::remove(this); }

std::string TFrameInputAdapter::FileName() const { return Registry::addressText(this); }

TFrameInputAdapter* TFrameInputAdapter::Find(const std::string& fileName)
{
    return Registry::find(fileName);
}

} // namespace tv
