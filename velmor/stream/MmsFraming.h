#pragma once
// MMS-over-HTTP framing (application/x-mms-framed) as Windows Media players
// expect it: every piece of the stream travels in a chunk
//   '$', type, length (LE16, payload + 8), sequence (LE32), flags (LE16),
//   length again (LE16), payload.
// '$H' carries the stream header, '$D' one data packet, '$E' the end. In an
// end chunk the sequence field carries the reason instead: 0 means the
// broadcast is over; anything else tells the player that another stream
// follows, and it reconnects and asks for that stream's header.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mms {

inline constexpr std::uint8_t kHeaderChunk = 'H';
inline constexpr std::uint8_t kDataChunk = 'D';
inline constexpr std::uint8_t kEndChunk = 'E';
inline constexpr std::size_t kChunkOverhead = 12;
// The length field is 16 bits and counts 8 bytes of the chunk header.
inline constexpr std::size_t kMaxChunkPayload = 0xFFFF - 8;

// Builds one chunk; payloads longer than kMaxChunkPayload are not framable
// and give an empty result.
std::vector<std::uint8_t> MakeChunk(std::uint8_t type, std::uint32_t sequence, std::uint16_t flags,
                                    const std::uint8_t *payload, std::size_t size);

// The end chunk at the real end of a broadcast: nothing follows.
std::vector<std::uint8_t> MakeEndOfBroadcastChunk();

} // namespace mms
