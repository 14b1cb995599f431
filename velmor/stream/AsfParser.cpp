#include "AsfParser.h"

#include <cstring>

namespace asf {

namespace {

// GUIDs as they are stored in the file (little-endian first three fields).
constexpr std::uint8_t kHeaderObject[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                            0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr std::uint8_t kFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                              0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr std::uint8_t kStreamProperties[16] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                                0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr std::uint8_t kHeaderExtension[16] = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                               0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr std::uint8_t kExtendedStreamProperties[16] = {0xCB, 0xA5, 0xE6, 0x14, 0x72, 0xC6, 0x32, 0x43,
                                                        0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A};
constexpr std::uint8_t kVideoMedia[16] = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                                          0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
constexpr std::uint8_t kAudioMedia[16] = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                                          0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};

std::uint16_t Le16(const std::uint8_t *p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Le32(const std::uint8_t *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t Le64(const std::uint8_t *p)
{
    return Le32(p) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
}
void Put32(std::uint8_t *p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Walks the objects in [data, data + size); calls fn(guid, object, objectSize)
// for each. False when an object's size runs past the end.
template <typename Fn> bool ForEachObject(const std::uint8_t *data, std::size_t size, Fn fn)
{
    std::size_t at = 0;
    while (at + 24 <= size) {
        const std::uint64_t objSize = Le64(data + at + 16);
        if (objSize < 24 || objSize > size - at)
            return false;
        fn(data + at, data + at, static_cast<std::size_t>(objSize));
        at += static_cast<std::size_t>(objSize);
    }
    return at == size;
}

bool Is(const std::uint8_t *guid, const std::uint8_t (&expected)[16])
{
    return std::memcmp(guid, expected, 16) == 0;
}

// Reads a field of a length type (0 none, 1 byte, 2 word, 3 dword).
bool ReadTyped(const std::uint8_t *data, std::size_t size, std::size_t &at, int type, std::uint32_t &out)
{
    static constexpr std::size_t kWidth[4] = {0, 1, 2, 4};
    const std::size_t w = kWidth[type & 3];
    if (size - at < w)
        return false;
    out = w == 0 ? 0 : w == 1 ? data[at] : w == 2 ? Le16(data + at) : Le32(data + at);
    at += w;
    return true;
}

std::optional<std::vector<Payload>> ParsePayloads(const std::uint8_t *data, std::size_t at, std::size_t end,
                                                  bool multiple, std::uint8_t propertyFlags)
{
    if (at > end)
        return std::nullopt;
    const int repType = propertyFlags & 3;
    const int offsetType = (propertyFlags >> 2) & 3;
    const int objectType = (propertyFlags >> 4) & 3;
    std::size_t count = 1;
    int payloadLengthType = 0;
    if (multiple) {
        if (at >= end)
            return std::nullopt;
        const std::uint8_t payloadFlags = data[at++];
        count = payloadFlags & 0x3F;
        payloadLengthType = (payloadFlags >> 6) & 3;
    }
    std::vector<Payload> payloads;
    for (std::size_t i = 0; i < count; ++i) {
        if (at >= end)
            return std::nullopt;
        Payload p;
        p.begin = at;
        p.stream = data[at] & 0x7F;
        p.keyFrame = data[at] & 0x80;
        ++at;
        std::uint32_t repLength = 0;
        if (!ReadTyped(data, end, at, objectType, p.mediaObject) ||
            !ReadTyped(data, end, at, offsetType, p.offset) || !ReadTyped(data, end, at, repType, repLength))
            return std::nullopt;
        if (repLength > end - at)
            return std::nullopt;
        if (repLength == 1) // compressed payload: the offset field is a time, objects are whole
            p.offset = 0;
        else if (repLength >= 8) // object size, then presentation time
            p.objectSize = Le32(data + at);
        at += repLength;
        std::uint32_t length = static_cast<std::uint32_t>(end - at);
        if (multiple && !ReadTyped(data, end, at, payloadLengthType, length))
            return std::nullopt;
        if (length > end - at)
            return std::nullopt;
        p.size = length;
        at += length;
        p.end = at;
        payloads.push_back(p);
    }
    return payloads;
}

} // namespace

std::optional<HeaderInfo> ParseHeader(const std::uint8_t *data, std::size_t size)
{
    if (!data || size < 30 || !Is(data, kHeaderObject))
        return std::nullopt;
    const std::uint64_t headerSize = Le64(data + 16);
    if (headerSize < 30 || headerSize > size)
        return std::nullopt;
    HeaderInfo info;
    info.headerObjectSize = static_cast<std::size_t>(headerSize);
    bool fileProps = false;
    const bool ok =
        ForEachObject(data + 30, info.headerObjectSize - 30,
                      [&](const std::uint8_t *guid, const std::uint8_t *obj, std::size_t objSize) {
                          if (Is(guid, kFileProperties) && objSize >= 104) {
                              info.prerollMs = Le64(obj + 80);
                              info.packetSize = Le32(obj + 92);
                              fileProps = true;
                          } else if (Is(guid, kStreamProperties) && objSize >= 78) {
                              const int number = Le16(obj + 72) & 0x7F;
                              if (Is(obj + 24, kVideoMedia) && !info.videoStream)
                                  info.videoStream = number;
                              else if (Is(obj + 24, kAudioMedia) && !info.audioStream)
                                  info.audioStream = number;
                          }
                      });
    if (!ok || !fileProps)
        return std::nullopt;
    return info;
}

namespace {

// The extended stream properties record of a stream, or null.
const std::uint8_t *FindExtendedStreamProperties(const Bytes &header, int streamNumber)
{
    const auto info = ParseHeader(header.data(), header.size());
    if (!info)
        return nullptr;
    const std::uint8_t *found = nullptr;
    ForEachObject(header.data() + 30, info->headerObjectSize - 30,
                  [&](const std::uint8_t *guid, const std::uint8_t *obj, std::size_t objSize) {
                      if (!Is(guid, kHeaderExtension) || objSize < 46)
                          return;
                      const std::uint32_t dataSize = Le32(obj + 42);
                      if (dataSize > objSize - 46)
                          return;
                      ForEachObject(obj + 46, dataSize,
                                    [&](const std::uint8_t *g, const std::uint8_t *ext, std::size_t extSize) {
                                        if (Is(g, kExtendedStreamProperties) && extSize >= 88 &&
                                            (Le16(ext + 72) & 0x7F) == streamNumber)
                                            found = ext;
                                    });
                  });
    return found;
}

} // namespace

bool SetBufferWindow(Bytes &header, int streamNumber, std::uint32_t bufferWindowMs)
{
    const std::uint8_t *ext = FindExtendedStreamProperties(header, streamNumber);
    if (!ext)
        return false;
    std::uint8_t *writable = header.data() + (ext - header.data());
    Put32(writable + 44, bufferWindowMs); // buffer size, milliseconds
    Put32(writable + 56, bufferWindowMs); // alternate buffer size
    return true;
}

std::optional<std::uint32_t> GetBufferWindow(const Bytes &header, int streamNumber)
{
    const std::uint8_t *ext = FindExtendedStreamProperties(header, streamNumber);
    if (!ext)
        return std::nullopt;
    return Le32(ext + 44);
}

std::optional<std::vector<Payload>> ParsePacket(const std::uint8_t *data, std::size_t size)
{
    std::size_t at = 0;
    if (!data || size < 2)
        return std::nullopt;
    if (data[0] & 0x80) { // error correction data present
        const std::size_t ecLength = data[0] & 0x0F;
        at = 1 + ecLength;
        if ((data[0] & 0x10) || at >= size) // opaque data: not a payload parsing layout
            return std::nullopt;
    }
    if (size - at < 2)
        return std::nullopt;
    const std::uint8_t lengthFlags = data[at++];
    const std::uint8_t propertyFlags = data[at++];
    const bool multiple = lengthFlags & 0x01;
    std::uint32_t packetLength = 0, sequence = 0, padding = 0;
    if (!ReadTyped(data, size, at, (lengthFlags >> 5) & 3, packetLength) ||
        !ReadTyped(data, size, at, (lengthFlags >> 1) & 3, sequence) ||
        !ReadTyped(data, size, at, (lengthFlags >> 3) & 3, padding))
        return std::nullopt;
    if (size - at < 6) // send time, duration
        return std::nullopt;
    at += 6;
    if (packetLength == 0)
        packetLength = static_cast<std::uint32_t>(size);
    if (packetLength > size)
        return std::nullopt;

    // Payloads end where the padding begins. Some muxers count the padding
    // outside the packet length, so a packet that does not parse that way is
    // read with the padding after the stated length.
    const std::size_t headerEnd = at;
    if (padding <= packetLength)
        if (auto p = ParsePayloads(data, headerEnd, packetLength - padding, multiple, propertyFlags))
            return p;
    return ParsePayloads(data, headerEnd, packetLength, multiple, propertyFlags);
}

bool NormalizePacketLength(std::uint8_t *data, std::size_t size)
{
    std::size_t at = 0;
    if (!data || size < 2)
        return false;
    if (data[0] & 0x80) {
        if (data[0] & 0x10)
            return false;
        at = 1 + (data[0] & 0x0F);
    }
    if (size < at + 2)
        return false;
    const std::uint8_t lengthFlags = data[at];
    at += 2;
    const int lengthType = (lengthFlags >> 5) & 3;
    const std::size_t lengthAt = at;
    std::uint32_t packetLength = 0, sequence = 0, padding = 0;
    if (lengthType == 0 || !ReadTyped(data, size, at, lengthType, packetLength) ||
        !ReadTyped(data, size, at, (lengthFlags >> 1) & 3, sequence) ||
        !ReadTyped(data, size, at, (lengthFlags >> 3) & 3, padding))
        return false;
    if (padding == 0 || packetLength >= size || std::size_t{packetLength} + padding != size)
        return false;
    if ((lengthType == 1 && size > 0xFF) || (lengthType == 2 && size > 0xFFFF))
        return false;
    for (int i = 0; i < (lengthType == 3 ? 4 : lengthType); ++i)
        data[lengthAt + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
    return true;
}

bool StartsVideoKeyFrame(const std::uint8_t *data, std::size_t size, int videoStream)
{
    const auto payloads = ParsePacket(data, size);
    if (!payloads)
        return false;
    for (const Payload &p : *payloads)
        if (p.stream == videoStream && p.keyFrame && p.offset == 0)
            return true;
    return false;
}

std::optional<Bytes> MakeJoinPacket(const std::uint8_t *data, std::size_t size, int videoStream)
{
    const auto payloads = ParsePacket(data, size);
    if (!payloads || payloads->size() < 2)
        return std::nullopt;
    std::size_t key = payloads->size();
    for (std::size_t i = 0; i < payloads->size(); ++i) {
        const Payload &p = (*payloads)[i];
        if (p.stream == videoStream && p.keyFrame && p.offset == 0) {
            key = i;
            break;
        }
    }
    bool videoBefore = false;
    for (std::size_t i = 0; i < key && i < payloads->size(); ++i)
        videoBefore |= (*payloads)[i].stream == videoStream;
    if (key == payloads->size() || !videoBefore)
        return std::nullopt;

    // Packet header layout: [error correction] flags, properties, length,
    // sequence, padding, send time (4), duration (2), payload flags.
    std::size_t at = 0;
    if (data[0] & 0x80)
        at = 1 + (data[0] & 0x0F);
    const std::size_t flagsAt = at;
    std::uint8_t lengthFlags = data[at];
    at += 2;
    std::uint32_t packetLength = 0, sequence = 0, padding = 0;
    const int lengthType = (lengthFlags >> 5) & 3;
    const int sequenceType = (lengthFlags >> 1) & 3;
    const int paddingType = (lengthFlags >> 3) & 3;
    ReadTyped(data, size, at, lengthType, packetLength);
    const std::size_t paddingAt = at + (sequenceType == 3 ? 4 : static_cast<std::size_t>(sequenceType));
    ReadTyped(data, size, at, sequenceType, sequence);
    ReadTyped(data, size, at, paddingType, padding);
    const std::size_t timesAt = at;
    const std::size_t payloadFlagsAt = at + 6;
    if (payloadFlagsAt >= size || (*payloads)[0].begin != payloadFlagsAt + 1)
        return std::nullopt;

    Bytes out;
    out.reserve(size);
    out.insert(out.end(), data, data + paddingAt);
    // Always carry a WORD padding length: the packet gains padding.
    out[flagsAt] = static_cast<std::uint8_t>((lengthFlags & ~0x18) | (2 << 3));
    const std::size_t newPaddingAt = out.size();
    out.push_back(0);
    out.push_back(0);
    out.insert(out.end(), data + timesAt, data + payloadFlagsAt);
    const std::size_t kept = payloads->size() - key;
    out.push_back(static_cast<std::uint8_t>((data[payloadFlagsAt] & 0xC0) | kept));
    for (std::size_t i = key; i < payloads->size(); ++i)
        out.insert(out.end(), data + (*payloads)[i].begin, data + (*payloads)[i].end);
    if (out.size() > size || size - out.size() > 0xFFFF)
        return std::nullopt;
    const std::size_t newPadding = size - out.size();
    out[newPaddingAt] = static_cast<std::uint8_t>(newPadding);
    out[newPaddingAt + 1] = static_cast<std::uint8_t>(newPadding >> 8);
    out.resize(size, 0);
    if (lengthType == 0)
        return out;
    // The packet length (which counts the padding) stays the full size.
    std::size_t lengthAt = flagsAt + 2;
    for (int i = 0; i < (lengthType == 3 ? 4 : lengthType); ++i)
        out[lengthAt + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
    return out;
}

} // namespace asf
