#pragma once
// Walks the block structure of a GIF file and cuts it into one small GIF per
// frame (header and global colour table, the frame's own blocks, a trailer),
// so a plain single-image decoder can turn each frame into a picture.
// Every read is bounds-checked: a truncated or damaged file gives the frames
// that are whole and never reads past the data.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct GifFrameBlock {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int delay = -1;    // hundredths of a second; -1 when the frame has no graphic control extension
    int disposal = 0;  // 0-7 from the graphic control extension
    std::string gif;   // the frame as a GIF file of its own
};

struct GifLayout {
    bool isGif = false;          // "GIF87a" or "GIF89a" at the start
    int width = 0;               // logical screen size
    int height = 0;
    std::size_t headerSize = 0;  // 13 + global colour table
    std::vector<GifFrameBlock> frames;
};

// The length of the block at `offset`, or 0 when it is invalid or runs past
// the end of the data. `kind` receives the block's kind.
enum class GifBlock { GraphicControl, Comment, Application, PlainText, Image, Trailer, Invalid };
GifBlock IdentifyGifBlock(const std::uint8_t *data, std::size_t size, std::size_t offset, std::size_t *length);

GifLayout ParseGif(const std::uint8_t *data, std::size_t size);
