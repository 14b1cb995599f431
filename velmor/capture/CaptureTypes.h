#pragma once
// The DirectShow-shaped vocabulary of the capture graphs: result codes, media
// type enums, the bitmap and wave headers. The graphs themselves run on
// GStreamer; these types keep the capture code in the shape its callers know.
#include "platform/Win32Types.h"

#include <cstdint>

// Result codes, with the values DirectShow gives them.
inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
inline constexpr HRESULT VFW_S_PARTIAL_RENDER = static_cast<HRESULT>(0x00040242u);
inline constexpr HRESULT VFW_E_INVALIDMEDIATYPE = static_cast<HRESULT>(0x80040200u);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = static_cast<HRESULT>(0x80040204u);
inline constexpr HRESULT VFW_E_NOT_CONNECTED = static_cast<HRESULT>(0x80040209u);
inline constexpr HRESULT VFW_E_CANNOT_CONNECT = static_cast<HRESULT>(0x80040217u);
inline constexpr HRESULT VFW_E_WRONG_STATE = static_cast<HRESULT>(0x80040227u);
inline constexpr HRESULT VFW_E_NOT_IN_GRAPH = static_cast<HRESULT>(0x8004025Fu);
inline constexpr HRESULT VFW_E_NO_INTERFACE = static_cast<HRESULT>(0x80040211u);

// Device categories of the system device enumerator.
enum class DeviceCategory { VideoInput, AudioInput };

// Pin directions (PINDIR_INPUT / PINDIR_OUTPUT).
enum class PinDirection { Input, Output };

// Major types of media types and of interface look-ups.
enum class MajorType { None, Video, Audio, Interleaved, Other };

// Format block kinds of a media type.
enum class FormatType { None, VideoInfo, WaveFormatEx };

constexpr std::uint32_t MakeFourCC(char a, char b, char c, char d)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24);
}

inline constexpr std::uint32_t BI_RGB = 0;
inline constexpr std::uint32_t FOURCC_I420 = MakeFourCC('I', '4', '2', '0'); // 0x30323449
inline constexpr std::uint32_t FOURCC_IYUV = MakeFourCC('I', 'Y', 'U', 'V'); // 0x56555949
inline constexpr std::uint32_t FOURCC_MJPG = MakeFourCC('M', 'J', 'P', 'G');

// The 40-byte DIB header of a video format. RGB rows are bottom-up for a
// positive height and top-down for a negative one.
struct BITMAPINFOHEADER {
    std::uint32_t biSize = 40;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 1;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = BI_RGB;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

// The 18-byte wave format header.
#pragma pack(push, 2)
struct WAVEFORMATEX {
    std::uint16_t wFormatTag = 0;
    std::uint16_t nChannels = 0;
    std::uint32_t nSamplesPerSec = 0;
    std::uint32_t nAvgBytesPerSec = 0;
    std::uint16_t nBlockAlign = 0;
    std::uint16_t wBitsPerSample = 0;
    std::uint16_t cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

// Suggested allocator values for a capture pin (ALLOCATOR_PROPERTIES).
struct ALLOCATOR_PROPERTIES {
    long cBuffers = -1;
    long cbBuffer = -1;
    long cbAlign = -1;
    long cbPrefix = -1;
};
