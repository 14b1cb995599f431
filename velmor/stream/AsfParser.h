#pragma once
// Reading and adjusting the parts of an ASF stream the network sink needs:
// the header object that every new player receives first, and the payload
// headers of data packets, to find where a video key frame begins.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace asf {

using Bytes = std::vector<std::uint8_t>;

// The size of a data object's header (GUID, size, file id, packet count,
// reserved), which follows the header object in a stream.
inline constexpr std::size_t kDataObjectHeaderSize = 50;

struct HeaderInfo {
    int videoStream = 0;          // stream number of the video stream, 0 when none
    int audioStream = 0;          // stream number of the audio stream, 0 when none
    std::uint32_t packetSize = 0; // fixed data packet size from the file properties
    std::uint64_t prerollMs = 0;
    std::size_t headerObjectSize = 0; // bytes of the header object itself
};

// Parses a header object (optionally followed by more bytes). Nothing when
// the bytes are not a complete, well-formed ASF header object.
std::optional<HeaderInfo> ParseHeader(const std::uint8_t *data, std::size_t size);

// Writes bufferWindowMs into the extended stream properties (buffer size) of
// the given stream. Returns false when the header carries no such record.
bool SetBufferWindow(Bytes &header, int streamNumber, std::uint32_t bufferWindowMs);
// The buffer window of that stream, when the header records one.
std::optional<std::uint32_t> GetBufferWindow(const Bytes &header, int streamNumber);

struct Payload {
    int stream = 0;
    bool keyFrame = false;
    std::uint32_t mediaObject = 0;
    std::uint32_t offset = 0; // offset into the media object
    std::uint32_t objectSize = 0; // size of the whole media object (0 when not recorded)
    std::size_t size = 0;     // payload data bytes
    std::size_t begin = 0;    // where the payload (with its own headers) starts in the packet
    std::size_t end = 0;      // and where it ends
};

// Parses the payload headers of one data packet. Nothing when the packet is
// malformed or truncated.
std::optional<std::vector<Payload>> ParsePacket(const std::uint8_t *data, std::size_t size);

// The packet length field counts the padding. Some muxers store the length
// without it (length + padding == packet size), which players then read as
// a packet whose last payload is cut short. Rewrites such a field to the full
// packet size; returns true when it changed the packet.
bool NormalizePacketLength(std::uint8_t *data, std::size_t size);

// True when the packet holds the first fragment of a key frame of
// videoStream: a player that starts with this packet can decode at once.
bool StartsVideoKeyFrame(const std::uint8_t *data, std::size_t size, int videoStream);

// A packet that starts a video key frame may first carry whole earlier
// frames of the video stream, which a player joining here would decode
// without their reference picture. Returns a copy of the packet without the
// video payloads before the key frame (same size, more padding), or nothing
// when the packet can be sent as it is.
std::optional<Bytes> MakeJoinPacket(const std::uint8_t *data, std::size_t size, int videoStream);

} // namespace asf
