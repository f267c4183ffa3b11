#include "channels/TAudioShare.h"

#include "channels/ChannelLog.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace tv {

namespace {

std::atomic_ref<std::uint8_t> flagOf(std::uint8_t* update) { return std::atomic_ref<std::uint8_t>(*update); }

} // namespace

Result<std::unique_ptr<TAudioShare>> TAudioShare::Create(const std::string& name, bool Flag, std::int32_t)
{
    auto share = std::make_unique<TAudioShare>();
    if (Flag) {
        if (auto s = share->CreateSharedFileMapping(name); !s)
            return fail(s.error());
    } else {
        if (auto r = share->OpenSharedFileMapping(name); !r)
            return fail(r.error());
    }
    return share;
}

Status TAudioShare::CreateSharedFileMapping(const std::string& Name)
{
    SharedFileName = std::string(kNamePrefix) + Name;
    auto data = platform::SharedMemory::createOrOpen(SharedFileName, kBlockSize);
    if (!data)
        return fail(data.error());
    auto update = platform::SharedMemory::createOrOpen(SharedFileName + kUpdateSuffix, kUpdateBlockSize);
    if (!update)
        return fail(update.error());
    FData = std::move(data).value();
    FUpdate = std::move(update).value();
    hFileMapping = FData.handle();
    SharedData = FData.data();
    hFileUpdateMapping = FUpdate.handle();
    SharedUpdateData = FUpdate.data();

    MM0.assign(kBlockSize, 0);
    MM = MM0;
    MMPosition = 0;
    FHasMM = true;
    Readed();
    return {};
}

Result<bool> TAudioShare::OpenSharedFileMapping(const std::string& Name)
{
    SharedFileName = std::string(kNamePrefix) + Name;
    auto data = platform::SharedMemory::openExisting(SharedFileName, kBlockSize);
    if (!data)
        return fail(data.error());
    if (!data.value())
        return false;
    auto update = platform::SharedMemory::openExisting(SharedFileName + kUpdateSuffix, kUpdateBlockSize);
    if (!update)
        return fail(update.error());
    if (!update.value())
        return false;
    FData = std::move(*data.value());
    FUpdate = std::move(*update.value());
    hFileMapping = FData.handle();
    SharedData = FData.data();
    hFileUpdateMapping = FUpdate.handle();
    SharedUpdateData = FUpdate.data();

    MM.clear();
    MM.reserve(2 * kBlockSize);
    MMPosition = 0;
    MM0.clear();
    FHasMM = true;
    return true;
}

void TAudioShare::Updated()
{
    if (SharedUpdateData)
        flagOf(SharedUpdateData).store(kFlagUpdated, std::memory_order_release);
}

void TAudioShare::Readed()
{
    if (SharedUpdateData)
        flagOf(SharedUpdateData).store(kFlagReaded, std::memory_order_release);
}

bool TAudioShare::IsReaded() const
{
    return SharedUpdateData && flagOf(SharedUpdateData).load(std::memory_order_acquire) == kFlagReaded;
}

void TAudioShare::Publish(const std::uint8_t* second)
{
    std::memcpy(SharedData, second, kBlockSize);
    Updated(); // only after the data are in place
}

std::int32_t TAudioShare::Write2SharedMem2(const void* ASample, std::int32_t ASize, bool& ShareMemUpdated)
{
    if (!FHasMM || !SharedData)
        return 0;
    if (ASize > 0)
        MM.insert(MM.end(), static_cast<const std::uint8_t*>(ASample),
                  static_cast<const std::uint8_t*>(ASample) + ASize);
    ShareMemUpdated = false;
    if (MM.size() < kBlockSize)
        return std::max<std::int32_t>(ASize, 0);
    // A chunk may complete more than one second: each later one overwrites
    // the earlier, as a reader that is late would see it anyway, and the
    // buffer never holds more than one second afterwards.
    std::size_t start = 0;
    while (MM.size() - start >= kBlockSize) {
        Publish(MM.data() + start);
        start += kBlockSize;
    }
    MM.erase(MM.begin(), MM.begin() + static_cast<std::ptrdiff_t>(start));
    ShareMemUpdated = true;
    return static_cast<std::int32_t>(kBlockSize);
}

std::uint32_t TAudioShare::ReadFromSharedMem(void* AData, std::uint32_t Size)
{
    if (!FHasMM || !SharedData)
        return 0;
    if (Size > kBlockSize) {
        if (!FRefusalLogged.exchange(true))
            channels::logError("Audio channel " + SharedFileName + ": read of " + std::to_string(Size)
                               + " bytes refused, a read takes at most " + std::to_string(kBlockSize)
                               + " bytes.");
        return 0;
    }
    auto* out = static_cast<std::uint8_t*>(AData);
    const std::size_t left = MM.size() > MMPosition ? MM.size() - MMPosition : 0;
    if (left >= Size) {
        std::memcpy(out, MM.data() + MMPosition, Size);
        MMPosition += Size;
        return Size;
    }
    std::memcpy(out, MM.data() + MMPosition, left);
    MM.resize(kBlockSize);
    if (flagOf(SharedUpdateData).load(std::memory_order_acquire) == kFlagUpdated) {
        std::memcpy(MM.data(), SharedData, kBlockSize);
        Readed();
    } else {
        // A second of silence.
        if (MM0.size() == kBlockSize)
            std::memcpy(MM.data(), MM0.data(), kBlockSize);
        else
            std::memset(MM.data(), 0, kBlockSize);
    }
    const std::size_t rest = Size - left;
    std::memcpy(out + left, MM.data(), rest);
    MMPosition = rest;
    return Size;
}

std::int32_t TAudioShare::ReadFromSharedMemFixed(void* AData)
{
    if (!FHasMM || !SharedData)
        return 0;
    MM.assign(SharedData, SharedData + kBlockSize);
    MMPosition = MM.size();
    std::memcpy(AData, MM.data(), kBlockSize);
    return static_cast<std::int32_t>(kBlockSize);
}

void TAudioShare::CloseSharedFileMappnig()
{
    FData.closeHandle();
    FUpdate.closeHandle();
    hFileMapping = -1;
    hFileUpdateMapping = -1;
    FHasMM = false;
    MM.clear();
    MM.shrink_to_fit();
    MMPosition = 0;
}

void TAudioShare::UnlinkSharedFileMapping()
{
    if (SharedFileName.empty())
        return;
    platform::SharedMemory::unlink(SharedFileName);
    platform::SharedMemory::unlink(SharedFileName + kUpdateSuffix);
}

} // namespace tv
