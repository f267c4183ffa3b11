#pragma once
// Audio channel: one second of sound of one player, 16-bit signed little-endian
// stereo at 48 kHz (kBlockSize = 192,000 bytes), in a named data block
// "Global\Audio" + name, with a 20-byte update block "Global\Audio" + name +
// "Update" whose first byte is the handshake flag: 'W' a new second waits,
// 'R' it has been taken (or none was published yet).
//
// The engine creates the channel (Create with Flag true) and reads a second at
// a time with ReadFromSharedMem, getting silence when nothing new waits; the
// Player opens it (Flag false) and hands in decoded sound with
// Write2SharedMem2, which publishes every full second. The writer never looks
// at the flag; an unread second is overwritten.
//
// Owns both mappings and the side's local buffers. Each side uses its object
// from one thread (the Player's audio thread, the engine's wave-input thread);
// the two processes share the blocks without locks, ordered by the flag only.
// Set-up errors come back as results (never thrown) with the system's error
// text; a read larger than one second is refused (0, logged once).

#include "common/Result.h"
#include "platform/SharedMemory.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tv {

class TAudioShare {
public:
    static constexpr std::uint32_t kBlockSize = 192'000;     // 48,000 frames x 2 channels x 2 bytes
    static constexpr std::uint32_t kUpdateBlockSize = 20;
    static constexpr std::uint8_t kFlagReaded = 'R';
    static constexpr std::uint8_t kFlagUpdated = 'W';
    static constexpr const char* kNamePrefix = "Global\\Audio";
    static constexpr const char* kUpdateSuffix = "Update";

    // Flag true: CreateSharedFileMapping(name); false: OpenSharedFileMapping
    // (name), whose "missing" result is not passed on (every later write is
    // then ignored). ASize is ignored: the block is always kBlockSize.
    static Result<std::unique_ptr<TAudioShare>> Create(const std::string& name, bool Flag, std::int32_t ASize);

    TAudioShare() = default;
    TAudioShare(const TAudioShare&) = delete;
    TAudioShare& operator=(const TAudioShare&) = delete;

    // The engine's side: creates (or reopens, contents kept) both blocks, sets
    // the flag to 'R' and starts the local buffer with one second of silence.
    Status CreateSharedFileMapping(const std::string& Name);
    // The Player's side: opens both blocks; false when either is missing.
    Result<bool> OpenSharedFileMapping(const std::string& Name);

    // Reader: fills AData with Size bytes (at most kBlockSize), taking a
    // published second, or a second of silence when none waits, whenever the
    // local buffer runs out. Returns Size; 0 when refused or closed.
    std::uint32_t ReadFromSharedMem(void* AData, std::uint32_t Size);

    // Writer: appends ASize bytes; publishes when a full second has gathered
    // (ShareMemUpdated true, returns kBlockSize), else returns ASize with
    // ShareMemUpdated false. Without an open channel returns 0 and leaves
    // ShareMemUpdated alone.
    std::int32_t Write2SharedMem2(const void* ASample, std::int32_t ASize, bool& ShareMemUpdated);

    void Updated();        // flag := 'W'
    void Readed();         // flag := 'R'
    bool IsReaded() const; // flag is 'R'

    // Copies the whole data block (kBlockSize bytes) to AData whatever the
    // flag; returns the count (0 without a view).
    std::int32_t ReadFromSharedMemFixed(void* AData);

    // Closes both handles and drops the local buffers; the views stay mapped
    // but the object reads and writes nothing afterwards.
    void CloseSharedFileMappnig();
    // Removes both blocks' names (a later Create starts from zero bytes).
    void UnlinkSharedFileMapping();

    // Fields, as the owner sees them.
    int hFileMapping = -1;
    int hFileUpdateMapping = -1;
    std::string SharedFileName;              // "Global\Audio" + name
    std::uint8_t* SharedData = nullptr;      // data block view
    std::uint8_t* SharedUpdateData = nullptr; // update block view
    std::int32_t Tag = 0;                    // free for the owner (engine: player index)

private:
    void Publish(const std::uint8_t* second);

    platform::SharedMemory FData;
    platform::SharedMemory FUpdate;
    // MM: writer: sound gathered towards the next second (position = end);
    // reader: the second being played out, from MMPosition.
    std::vector<std::uint8_t> MM;
    std::size_t MMPosition = 0;
    bool FHasMM = false;
    // MM0: the reader's second of silence.
    std::vector<std::uint8_t> MM0;
    std::atomic<bool> FRefusalLogged{false};
};

} // namespace tv
