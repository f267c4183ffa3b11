#include "media/TWaveInputAdapter.h"

#include "media/AdapterRegistry.h"

namespace tv {

using Registry = media::AdapterRegistry<TWaveInputAdapter>;

TWaveInputAdapter::TWaveInputAdapter() { Registry::add(this); }
TWaveInputAdapter::~TWaveInputAdapter() { Registry::remove(this); }

std::string TWaveInputAdapter::FileName() const { return Registry::addressText(this); }

TWaveInputAdapter* TWaveInputAdapter::Find(const std::string& fileName)
{
    return Registry::find(fileName);
}

} // namespace tv
