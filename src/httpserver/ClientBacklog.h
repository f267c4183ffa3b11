#pragma once
// ClientBacklog: the stream bytes one HTTP client still has to receive, kept
// as references into chunks shared by every client (never a copy per client).
// Owned by its client entry in THttpStreamer; main thread only.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

namespace tv {

using ByteView = std::span<const std::uint8_t>;
using SharedChunk = std::shared_ptr<const std::vector<std::uint8_t>>;

class ClientBacklog {
public:
    // Queues chunk[offset..end).
    void push(SharedChunk chunk, std::size_t offset = 0);

    bool empty() const { return pieces_.empty(); }
    std::size_t bytes() const { return bytes_; }

    // Writes up to `max` views of the oldest pending bytes into `out`, in
    // order; returns how many it wrote.
    std::size_t views(ByteView* out, std::size_t max) const;

    // Forgets the first `count` pending bytes (count <= bytes()).
    void consume(std::size_t count);

    void clear();

private:
    struct Piece {
        SharedChunk chunk;
        std::size_t offset;
    };
    std::deque<Piece> pieces_;
    std::size_t bytes_ = 0;
};

} // namespace tv
