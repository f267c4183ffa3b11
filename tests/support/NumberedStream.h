#pragma once
// Test support: a transport stream whose packets carry their own number, so
// that a receiver can tell where its bytes came from and a cut, a gap or a
// repeat shows. Header-only; any thread.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tv::test {

inline constexpr std::size_t kTsPacketBytes = 188;
inline constexpr std::uint8_t kTsSyncByte = 0x47;

// `packets` packets: the sync byte, the packet number in the next three bytes
// (most significant first), then filler that differs from packet to packet.
inline std::vector<std::uint8_t> numberedStream(std::size_t packets)
{
    std::vector<std::uint8_t> s(packets * kTsPacketBytes);
    for (std::size_t p = 0; p < packets; ++p) {
        std::uint8_t* pk = s.data() + p * kTsPacketBytes;
        pk[0] = kTsSyncByte;
        pk[1] = static_cast<std::uint8_t>(p >> 16);
        pk[2] = static_cast<std::uint8_t>(p >> 8);
        pk[3] = static_cast<std::uint8_t>(p);
        for (std::size_t i = 4; i < kTsPacketBytes; ++i)
            pk[i] = static_cast<std::uint8_t>(p * 7 + i);
    }
    return s;
}

// The number a packet of numberedStream() carries.
template <typename Byte>
std::size_t packetNumber(const Byte* packet)
{
    const auto b = [&](int i) { return static_cast<std::size_t>(static_cast<std::uint8_t>(packet[i])); };
    return (b(1) << 16) | (b(2) << 8) | b(3);
}

} // namespace tv::test
