#pragma once
// Frame channel: one picture of one player in a named shared-memory block,
// planar YUV 4:2:0 from the first byte, no header, no flag, no lock:
//
//   offset 0          W*H        luma, H rows of W bytes
//   W*H               Cw*Ch      Cb,   Ch rows of Cw bytes (Cw=(W+1)/2, Ch=(H+1)/2)
//   W*H + Cw*Ch       Cw*Ch      Cr
//   F = W*H + 2*Cw*Ch ...        unused up to the block's end
//
// The engine creates the channel (Create with ACreate true) and reads it; the
// Player opens it (ACreate false) and writes. Every block of a process has the
// same size, kDefaultBlockSize unless a call with ASize > 0 changed it.
//
// Owns the mapping. Reads and writes may come from any one thread per side;
// a reader may see a torn picture, which is accepted. Set-up errors are
// returned as results (never thrown) whose text is "System Error.  Code: %d."
// and the system's description on a second line. A picture or copy larger than
// the block is refused (false / 0) and logged once per channel.

#include "common/Result.h"
#include "platform/SharedMemory.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace tv {

class TShareFileMap {
public:
    static constexpr std::int32_t kDefaultBlockSize = 10'000'000;

    // ACreate true: CreateSharedFileMapping(false, name, ASize); false:
    // OpenSharedFileMappnig(false, name, ASize), whose "missing" result is not
    // passed on (the object then has no view: SharedData is null).
    static Result<std::unique_ptr<TShareFileMap>> Create(const std::string& name, bool ACreate,
                                                         std::int32_t ASize);

    // The process-wide block size.
    static std::int32_t BlockSize();

    // Bytes of a W x H yuv420p picture: W*H + 2*((W+1)/2)*((H+1)/2); 0 for
    // a non-positive dimension.
    static std::int64_t FrameSize(int W, int H);

    TShareFileMap() = default;
    TShareFileMap(const TShareFileMap&) = delete;
    TShareFileMap& operator=(const TShareFileMap&) = delete;

    // Creates the block, or opens the existing one with its contents kept.
    Status CreateSharedFileMapping(bool Global, const std::string& Name, std::int32_t ASize);
    // Opens an existing block: false when it does not exist (nothing created).
    Result<bool> OpenSharedFileMappnig(bool Global, const std::string& Name, std::int32_t ASize);
    // Closes the handle; the view stays mapped and SharedData valid.
    void CloseSharedFileMappnig();
    // Removes the block's name so that a later Create starts from zero bytes.
    // The view stays mapped; processes that have it mapped keep using it.
    void UnlinkSharedFileMapping();

    // Copies Count bytes from offset 0 to AData. Returns Count, or 0 (logged
    // once) when there is no view or Count exceeds the block.
    std::int32_t ReadFromSharedMem(void* AData, std::int32_t Count);
    // Copies Count bytes from Src to offset 0; refused as above.
    bool Write2SharedMem(const void* Src, std::int32_t Count);
    // Len bytes from offset 0 as a string; empty when refused.
    std::string ReadStringFromSharedMem(std::int32_t Len);
    // The bytes of S at offset 0, no terminator; refused as above.
    bool WriteString2SharedMem(const std::string& S);

    // The Player's write: a yuv420p picture given as three planes with their
    // line sizes, packed as Y, U, V without row padding. Refuses (false,
    // logged once) a picture that does not fit, a missing view or bad sizes.
    bool WritePlanes(const std::uint8_t* const planes[3], const int linesizes[3], int width, int height);

    // Size of this channel's view in bytes (0 without a view).
    std::size_t MappedSize() const { return FBlock.size(); }

    // Fields of the channel, as the owner sees them.
    int hFileMapping = -1;               // descriptor; -1 once closed
    std::uint8_t* SharedData = nullptr;  // start of the view
    std::int32_t Tag = 0;                // free for the owner (engine: player index)
    std::string SharedFileName;          // name used, with "Global\" when asked

private:
    void Refuse(const std::string& what, std::int64_t bytes);

    platform::SharedMemory FBlock;
    std::atomic<bool> FRefusalLogged{false};
};

} // namespace tv
