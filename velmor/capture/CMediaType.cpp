#include "CMediaType.h"

#include <gst/audio/audio.h>
#include <gst/video/video.h>

#include <cstdlib>
#include <cstring>

std::uint32_t CompressionOfVideoFormat(const char *format, std::uint16_t *bitCount)
{
    if (!format)
        return 0xFFFFFFFFu;
    const GstVideoFormat vf = gst_video_format_from_string(format);
    if (vf == GST_VIDEO_FORMAT_UNKNOWN)
        return 0xFFFFFFFFu;
    const GstVideoFormatInfo *info = gst_video_format_get_info(vf);
    if (GST_VIDEO_FORMAT_INFO_IS_RGB(info)) {
        // Only the byte orders a DIB can hold count as BI_RGB.
        if (vf == GST_VIDEO_FORMAT_BGR) {
            if (bitCount)
                *bitCount = 24;
            return BI_RGB;
        }
        if (vf == GST_VIDEO_FORMAT_BGRx || vf == GST_VIDEO_FORMAT_BGRA) {
            if (bitCount)
                *bitCount = 32;
            return BI_RGB;
        }
    }
    const guint32 fourcc = gst_video_format_to_fourcc(vf);
    if (fourcc == 0)
        return 0xFFFFFFFFu;
    if (bitCount)
        *bitCount = static_cast<std::uint16_t>(info->pixel_stride[0] * 8);
    return fourcc;
}

const char *VideoFormatOfCompression(std::uint32_t compression, std::uint16_t bitCount)
{
    if (compression == BI_RGB)
        return bitCount == 32 ? "BGRx" : "BGR";
    // IYUV is I420 under another name; GStreamer knows only the latter.
    if (compression == FOURCC_IYUV)
        return "I420";
    const GstVideoFormat vf = gst_video_format_from_fourcc(compression);
    if (vf == GST_VIDEO_FORMAT_UNKNOWN)
        return nullptr;
    return gst_video_format_to_string(vf);
}

namespace {

bool FixedInt(const GstStructure *s, const char *field, int *value)
{
    return gst_structure_get_int(s, field, value) != FALSE;
}

} // namespace

std::optional<CMediaType> CMediaType::FromStructure(const GstStructure *s)
{
    if (!s)
        return std::nullopt;
    const char *name = gst_structure_get_name(s);
    CMediaType mt;
    if (std::strcmp(name, "video/x-raw") == 0 || std::strcmp(name, "image/jpeg") == 0) {
        int width = 0, height = 0;
        if (!FixedInt(s, "width", &width) || !FixedInt(s, "height", &height))
            return std::nullopt;
        std::uint16_t bitCount = 24;
        std::uint32_t compression = FOURCC_MJPG;
        if (std::strcmp(name, "image/jpeg") == 0) {
            mt.subtype = name;
        } else {
            const char *format = gst_structure_get_string(s, "format");
            if (!format)
                return std::nullopt;
            compression = CompressionOfVideoFormat(format, &bitCount);
            if (compression == 0xFFFFFFFFu)
                return std::nullopt;
            mt.subtype = format;
        }
        mt.majortype = MajorType::Video;
        mt.formattype = FormatType::VideoInfo;
        mt.bmiHeader.biWidth = width;
        gboolean topDown = FALSE;
        gst_structure_get_boolean(s, "top-down", &topDown);
        mt.bmiHeader.biHeight = (compression == BI_RGB && topDown) ? -height : height;
        mt.bmiHeader.biBitCount = bitCount;
        mt.bmiHeader.biCompression = compression;
        mt.bmiHeader.biSizeImage =
            static_cast<std::uint32_t>(((width * bitCount + 31) / 32) * 4 * height);
        gst_structure_get_fraction(s, "framerate", &mt.frameRateNum, &mt.frameRateDen);
        mt.lSampleSize = static_cast<long>(mt.bmiHeader.biSizeImage);
        return mt;
    }
    if (std::strcmp(name, "audio/x-raw") == 0) {
        const char *format = gst_structure_get_string(s, "format");
        int rate = 0, channels = 0;
        if (!format || !FixedInt(s, "rate", &rate) || !FixedInt(s, "channels", &channels))
            return std::nullopt;
        const GstAudioFormat af = gst_audio_format_from_string(format);
        if (af == GST_AUDIO_FORMAT_UNKNOWN)
            return std::nullopt;
        const GstAudioFormatInfo *info = gst_audio_format_get_info(af);
        mt.majortype = MajorType::Audio;
        mt.subtype = format;
        mt.formattype = FormatType::WaveFormatEx;
        mt.wfx.wFormatTag = WAVE_FORMAT_PCM;
        mt.wfx.nChannels = static_cast<std::uint16_t>(channels);
        mt.wfx.nSamplesPerSec = static_cast<std::uint32_t>(rate);
        mt.wfx.wBitsPerSample = static_cast<std::uint16_t>(GST_AUDIO_FORMAT_INFO_WIDTH(info));
        mt.wfx.nBlockAlign = static_cast<std::uint16_t>(channels * GST_AUDIO_FORMAT_INFO_WIDTH(info) / 8);
        mt.wfx.nAvgBytesPerSec = mt.wfx.nBlockAlign * mt.wfx.nSamplesPerSec;
        mt.lSampleSize = mt.wfx.nBlockAlign;
        return mt;
    }
    return std::nullopt;
}

CMediaType CMediaType::Rgb24Video()
{
    CMediaType mt;
    mt.majortype = MajorType::Video;
    mt.subtype = "BGR";
    return mt;
}

platform::GstCapsPtr CMediaType::ToCaps() const
{
    GstStructure *s = nullptr;
    if (majortype == MajorType::Video) {
        const char *format = subtype.c_str();
        if (formattype == FormatType::VideoInfo) {
            if (bmiHeader.biCompression == FOURCC_MJPG) {
                s = gst_structure_new_empty("image/jpeg");
            } else {
                format = VideoFormatOfCompression(bmiHeader.biCompression, bmiHeader.biBitCount);
                if (!format)
                    return nullptr;
            }
        }
        if (!s) {
            if (subtype == "image/jpeg")
                s = gst_structure_new_empty("image/jpeg");
            else
                s = gst_structure_new("video/x-raw", "format", G_TYPE_STRING, format, nullptr);
        }
        if (formattype == FormatType::VideoInfo && bmiHeader.biWidth != 0 && bmiHeader.biHeight != 0)
            gst_structure_set(s, "width", G_TYPE_INT, bmiHeader.biWidth, "height", G_TYPE_INT,
                              std::abs(bmiHeader.biHeight), nullptr);
        if (formattype == FormatType::VideoInfo && frameRateNum > 0)
            gst_structure_set(s, "framerate", GST_TYPE_FRACTION, frameRateNum, frameRateDen, nullptr);
    } else if (majortype == MajorType::Audio) {
        if (formattype != FormatType::WaveFormatEx) {
            s = gst_structure_new_empty("audio/x-raw");
        } else {
            if (wfx.wFormatTag != WAVE_FORMAT_PCM || wfx.nChannels == 0 || wfx.nSamplesPerSec == 0)
                return nullptr;
            const GstAudioFormat af =
                gst_audio_format_build_integer(wfx.wBitsPerSample > 8, G_LITTLE_ENDIAN, wfx.wBitsPerSample,
                                               wfx.wBitsPerSample);
            if (af == GST_AUDIO_FORMAT_UNKNOWN)
                return nullptr;
            s = gst_structure_new("audio/x-raw", "format", G_TYPE_STRING, gst_audio_format_to_string(af),
                                  "rate", G_TYPE_INT, static_cast<int>(wfx.nSamplesPerSec), "channels",
                                  G_TYPE_INT, static_cast<int>(wfx.nChannels), "layout", G_TYPE_STRING,
                                  "interleaved", nullptr);
        }
    } else {
        return nullptr;
    }
    GstCaps *caps = gst_caps_new_empty();
    gst_caps_append_structure(caps, s);
    return platform::GstCapsPtr(caps);
}
