#include "httpserver/ClientBacklog.h"

namespace tv {

void ClientBacklog::push(SharedChunk chunk, std::size_t offset)
{
    if (!chunk || offset >= chunk->size())
        return;
    bytes_ += chunk->size() - offset;
    pieces_.push_back(Piece{std::move(chunk), offset});
}

std::size_t ClientBacklog::views(ByteView* out, std::size_t max) const
{
    std::size_t n = 0;
    for (auto it = pieces_.begin(); it != pieces_.end() && n < max; ++it, ++n)
        out[n] = ByteView(it->chunk->data() + it->offset, it->chunk->size() - it->offset);
    return n;
}

void ClientBacklog::consume(std::size_t count)
{
    while (count > 0 && !pieces_.empty()) {
        Piece& front = pieces_.front();
        const std::size_t left = front.chunk->size() - front.offset;
        if (count < left) {
            front.offset += count;
            bytes_ -= count;
            return;
        }
        count -= left;
        bytes_ -= left;
        pieces_.pop_front();
    }
}

void ClientBacklog::clear()
{
    pieces_.clear();
    bytes_ = 0;
}

} // namespace tv
