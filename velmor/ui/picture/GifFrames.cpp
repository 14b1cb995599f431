#include "GifFrames.h"

namespace {

unsigned Le16(const std::uint8_t *p)
{
    return static_cast<unsigned>(p[0]) | (static_cast<unsigned>(p[1]) << 8);
}

// Length of a run of data sub-blocks starting at `offset`, counting every
// length byte and the zero terminator; 0 when the run is cut off.
std::size_t SubBlocks(const std::uint8_t *data, std::size_t size, std::size_t offset)
{
    std::size_t at = offset;
    while (at < size) {
        const std::size_t n = data[at];
        if (n == 0)
            return at + 1 - offset;
        at += 1 + n;
    }
    return 0;
}

} // namespace

GifBlock IdentifyGifBlock(const std::uint8_t *data, std::size_t size, std::size_t offset, std::size_t *length)
{
    *length = 0;
    if (offset >= size)
        return GifBlock::Invalid;
    const std::uint8_t first = data[offset];
    if (first == 0x3B) {
        *length = 1;
        return GifBlock::Trailer;
    }
    if (first == 0x2C) {
        if (offset + 11 > size)
            return GifBlock::Invalid;
        const std::uint8_t packed = data[offset + 9];
        const std::size_t lct = (packed & 0x80) ? 3u * (1u << ((packed & 7) + 1)) : 0u;
        const std::size_t fixed = 11 + lct;
        if (offset + fixed > size)
            return GifBlock::Invalid;
        const std::size_t sub = SubBlocks(data, size, offset + fixed);
        if (sub == 0)
            return GifBlock::Invalid;
        *length = fixed + sub;
        return GifBlock::Image;
    }
    if (first != 0x21 || offset + 2 > size)
        return GifBlock::Invalid;
    std::size_t fixed = 0;
    GifBlock kind = GifBlock::Invalid;
    switch (data[offset + 1]) {
    case 0xF9:
        if (offset + 8 > size)
            return GifBlock::Invalid;
        *length = 8;
        return GifBlock::GraphicControl;
    case 0xFE: fixed = 2; kind = GifBlock::Comment; break;
    case 0xFF: fixed = 14; kind = GifBlock::Application; break;
    case 0x01: fixed = 15; kind = GifBlock::PlainText; break;
    default: return GifBlock::Invalid;
    }
    if (offset + fixed > size)
        return GifBlock::Invalid;
    const std::size_t sub = SubBlocks(data, size, offset + fixed);
    if (sub == 0)
        return GifBlock::Invalid;
    *length = fixed + sub;
    return kind;
}

namespace {

bool IsSkippedExtension(GifBlock kind)
{
    return kind == GifBlock::Comment || kind == GifBlock::Application || kind == GifBlock::PlainText;
}

// Walks one frame from `*offset`; false when no further frame is there.
bool WalkFrame(const std::uint8_t *data, std::size_t size, std::size_t headerSize, std::size_t *offset,
               GifFrameBlock *frame)
{
    std::size_t at = *offset;
    std::size_t length = 0;
    GifBlock kind = IdentifyGifBlock(data, size, at, &length);
    while (IsSkippedExtension(kind)) {
        at += length;
        kind = IdentifyGifBlock(data, size, at, &length);
    }
    if (kind != GifBlock::GraphicControl && kind != GifBlock::Image)
        return false;

    const std::size_t frameStart = at;
    frame->delay = -1;
    frame->disposal = 0;
    if (kind == GifBlock::GraphicControl) {
        frame->delay = static_cast<int>(Le16(data + at + 4));
        frame->disposal = (data[at + 3] >> 2) & 7;
        at += length;
        kind = IdentifyGifBlock(data, size, at, &length);
        while (IsSkippedExtension(kind) || kind == GifBlock::GraphicControl) {
            at += length;
            kind = IdentifyGifBlock(data, size, at, &length);
        }
        if (kind != GifBlock::Image)
            return false;
    }
    frame->left = static_cast<int>(Le16(data + at + 1));
    frame->top = static_cast<int>(Le16(data + at + 3));
    frame->width = static_cast<int>(Le16(data + at + 5));
    frame->height = static_cast<int>(Le16(data + at + 7));
    at += length;

    frame->gif.assign(reinterpret_cast<const char *>(data), headerSize);
    frame->gif.append(reinterpret_cast<const char *>(data + frameStart), at - frameStart);
    frame->gif.push_back(static_cast<char>(0x3B));
    *offset = at;
    return true;
}

} // namespace

GifLayout ParseGif(const std::uint8_t *data, std::size_t size)
{
    GifLayout layout;
    if (data == nullptr || size < 13 || data[0] != 'G' || data[1] != 'I' || data[2] != 'F' ||
        !((data[3] == '8' && data[4] == '7' && data[5] == 'a') || (data[3] == '8' && data[4] == '9' && data[5] == 'a')))
        return layout;
    layout.isGif = true;
    layout.width = static_cast<int>(Le16(data + 6));
    layout.height = static_cast<int>(Le16(data + 8));
    const std::uint8_t packed = data[10];
    const std::size_t gct = (packed & 0x80) ? 3u * (1u << ((packed & 7) + 1)) : 0u;
    layout.headerSize = 13 + gct;
    if (layout.headerSize > size)
        return layout;

    std::size_t offset = layout.headerSize;
    GifFrameBlock frame;
    while (WalkFrame(data, size, layout.headerSize, &offset, &frame))
        layout.frames.push_back(std::move(frame));
    return layout;
}
