#include "MmsFraming.h"

#include <cstring>

namespace mms {

std::vector<std::uint8_t> MakeChunk(std::uint8_t type, std::uint32_t sequence, std::uint16_t flags,
                                    const std::uint8_t *payload, std::size_t size)
{
    if (size > kMaxChunkPayload || (size > 0 && !payload))
        return {};
    const auto length = static_cast<std::uint16_t>(size + 8);
    std::vector<std::uint8_t> chunk(kChunkOverhead + size);
    std::uint8_t *p = chunk.data();
    p[0] = '$';
    p[1] = type;
    p[2] = static_cast<std::uint8_t>(length);
    p[3] = static_cast<std::uint8_t>(length >> 8);
    for (int i = 0; i < 4; ++i)
        p[4 + i] = static_cast<std::uint8_t>(sequence >> (8 * i));
    p[8] = static_cast<std::uint8_t>(flags);
    p[9] = static_cast<std::uint8_t>(flags >> 8);
    p[10] = p[2];
    p[11] = p[3];
    if (size)
        std::memcpy(p + kChunkOverhead, payload, size);
    return chunk;
}

std::vector<std::uint8_t> MakeEndOfBroadcastChunk()
{
    return MakeChunk(kEndChunk, 0, 0, nullptr, 0);
}

} // namespace mms
