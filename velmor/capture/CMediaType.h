#pragma once
// A media type (AM_MEDIA_TYPE) read from, and turned back into, GStreamer
// caps. Video types carry a DIB header (compression FourCC or BI_RGB, width,
// height), audio types a wave format header. The subtype names the GStreamer
// format ("BGR", "I420", "S16LE") or, for compressed video, the media name
// ("image/jpeg").
#include "CaptureTypes.h"
#include "platform/GstHolders.h"

#include <optional>
#include <string>

class CMediaType {
public:
    MajorType majortype = MajorType::None;
    std::string subtype;
    FormatType formattype = FormatType::None;
    BITMAPINFOHEADER bmiHeader{};
    int frameRateNum = 0; // 0: unknown
    int frameRateDen = 1;
    WAVEFORMATEX wfx{};
    long lSampleSize = 0;

    // One caps structure with a fixed format, width and height (video) or
    // format, rate and channels (audio). Structures with ranges or lists in
    // those fields describe many types and give none. A structure may carry
    // "top-down"=true to list an RGB format whose rows run top-down (a
    // negative DIB height); RGB formats are listed bottom-up otherwise.
    static std::optional<CMediaType> FromStructure(const GstStructure *s);

    // The 24-bit RGB video type the video grabber insists on (any size).
    static CMediaType Rgb24Video();

    // The caps that ask a source for this type; null when the type names no
    // format GStreamer knows. Width, height or rate left at zero stay open.
    platform::GstCapsPtr ToCaps() const;
};

// The DIB compression value of a GStreamer video format: BI_RGB for the RGB
// layouts, the FourCC otherwise; 0xFFFFFFFF when it has none.
std::uint32_t CompressionOfVideoFormat(const char *format, std::uint16_t *bitCount);
// The GStreamer video format for a DIB compression value (and bit count for
// BI_RGB); null when there is none.
const char *VideoFormatOfCompression(std::uint32_t compression, std::uint16_t bitCount);
