#include "channels/TShareFileMap.h"

#include "channels/ChannelLog.h"

#include <cstring>

namespace tv {

namespace {

std::atomic<std::int32_t>& processBlockSize()
{
    static std::atomic<std::int32_t> size{TShareFileMap::kDefaultBlockSize};
    return size;
}

std::string channelName(bool Global, const std::string& Name)
{
    return Global ? std::string(platform::SharedMemory::kGlobalPrefix) + Name : Name;
}

} // namespace

std::int32_t TShareFileMap::BlockSize() { return processBlockSize().load(); }

std::int64_t TShareFileMap::FrameSize(int W, int H)
{
    if (W <= 0 || H <= 0)
        return 0;
    const std::int64_t w = W, h = H;
    const std::int64_t cw = (w + 1) / 2, ch = (h + 1) / 2;
    return w * h + 2 * cw * ch;
}

Result<std::unique_ptr<TShareFileMap>> TShareFileMap::Create(const std::string& name, bool ACreate,
                                                             std::int32_t ASize)
{
    auto map = std::make_unique<TShareFileMap>();
    if (ACreate) {
        if (auto s = map->CreateSharedFileMapping(false, name, ASize); !s)
            return fail(s.error());
    } else {
        if (auto r = map->OpenSharedFileMappnig(false, name, ASize); !r)
            return fail(r.error());
    }
    return map;
}

Status TShareFileMap::CreateSharedFileMapping(bool Global, const std::string& Name, std::int32_t ASize)
{
    SharedFileName = channelName(Global, Name);
    if (ASize > 0)
        processBlockSize().store(ASize);
    auto block = platform::SharedMemory::createOrOpen(SharedFileName, static_cast<std::size_t>(BlockSize()));
    if (!block)
        return fail(block.error());
    FBlock = std::move(block).value();
    hFileMapping = FBlock.handle();
    SharedData = FBlock.data();
    return {};
}

Result<bool> TShareFileMap::OpenSharedFileMappnig(bool Global, const std::string& Name, std::int32_t ASize)
{
    SharedFileName = channelName(Global, Name);
    if (ASize > 0)
        processBlockSize().store(ASize);
    auto block = platform::SharedMemory::openExisting(SharedFileName, static_cast<std::size_t>(BlockSize()));
    if (!block)
        return fail(block.error());
    if (!block.value())
        return false;
    FBlock = std::move(*block.value());
    hFileMapping = FBlock.handle();
    SharedData = FBlock.data();
    return true;
}

void TShareFileMap::CloseSharedFileMappnig()
{
    FBlock.closeHandle();
    hFileMapping = -1;
}

void TShareFileMap::UnlinkSharedFileMapping()
{
    if (!SharedFileName.empty())
        platform::SharedMemory::unlink(SharedFileName);
}

void TShareFileMap::Refuse(const std::string& what, std::int64_t bytes)
{
    if (FRefusalLogged.exchange(true))
        return;
    std::string text = "Frame channel " + SharedFileName + ": " + what + " of " + std::to_string(bytes)
        + " bytes refused";
    text += SharedData ? ", the block holds " + std::to_string(FBlock.size()) + " bytes." : ": no block.";
    channels::logError(text);
}

std::int32_t TShareFileMap::ReadFromSharedMem(void* AData, std::int32_t Count)
{
    if (Count <= 0)
        return 0;
    if (!SharedData || static_cast<std::size_t>(Count) > FBlock.size()) {
        Refuse("read", Count);
        return 0;
    }
    std::memcpy(AData, SharedData, static_cast<std::size_t>(Count));
    return Count;
}

bool TShareFileMap::Write2SharedMem(const void* Src, std::int32_t Count)
{
    if (Count <= 0)
        return Count == 0;
    if (!SharedData || static_cast<std::size_t>(Count) > FBlock.size()) {
        Refuse("write", Count);
        return false;
    }
    std::memcpy(SharedData, Src, static_cast<std::size_t>(Count));
    return true;
}

std::string TShareFileMap::ReadStringFromSharedMem(std::int32_t Len)
{
    if (Len <= 0)
        return {};
    if (!SharedData || static_cast<std::size_t>(Len) > FBlock.size()) {
        Refuse("read", Len);
        return {};
    }
    return std::string(reinterpret_cast<const char*>(SharedData), static_cast<std::size_t>(Len));
}

bool TShareFileMap::WriteString2SharedMem(const std::string& S)
{
    if (S.size() > FBlock.size() || !SharedData) {
        Refuse("write", static_cast<std::int64_t>(S.size()));
        return false;
    }
    std::memcpy(SharedData, S.data(), S.size());
    return true;
}

bool TShareFileMap::WritePlanes(const std::uint8_t* const planes[3], const int linesizes[3], int width,
                                int height)
{
    const std::int64_t frame = FrameSize(width, height);
    if (!SharedData || frame <= 0 || static_cast<std::uint64_t>(frame) > FBlock.size()) {
        Refuse("picture " + std::to_string(width) + "x" + std::to_string(height), frame);
        return false;
    }
    const int cw = (width + 1) / 2, ch = (height + 1) / 2;
    const int rowBytes[3] = {width, cw, cw};
    const int rows[3] = {height, ch, ch};
    for (int p = 0; p < 3; ++p) {
        if (!planes[p] || linesizes[p] < rowBytes[p]) {
            Refuse("picture with bad planes", frame);
            return false;
        }
    }
    std::uint8_t* dst = SharedData;
    for (int p = 0; p < 3; ++p) {
        const std::uint8_t* src = planes[p];
        const std::size_t row = static_cast<std::size_t>(rowBytes[p]);
        if (linesizes[p] == rowBytes[p]) {
            std::memcpy(dst, src, row * static_cast<std::size_t>(rows[p]));
            dst += row * static_cast<std::size_t>(rows[p]);
        } else {
            for (int y = 0; y < rows[p]; ++y) {
                std::memcpy(dst, src, row);
                dst += row;
                src += linesizes[p];
            }
        }
    }
    return true;
}

} // namespace tv
