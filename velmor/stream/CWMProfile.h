#pragma once
// An encoding profile: the streams the writer produces, with their codec
// settings and the input format each stream's input takes.
#include "platform/Win32Types.h"

#include <vector>

enum class WMMediaType { Unknown, Video, Audio };
inline constexpr WMMediaType WMMEDIATYPE_Video = WMMediaType::Video;
inline constexpr WMMediaType WMMEDIATYPE_Audio = WMMediaType::Audio;

// One stream of a profile (IWMStreamConfig).
struct CWMStreamConfig {
    WMMediaType type = WMMediaType::Unknown;
    int streamNumber = 0;     // ASF stream number, 1..127
    DWORD bitrate = 0;        // bits per second
    DWORD bufferWindowMs = 0; // what a player buffers before it starts
    // Video streams: the input frames (bottom-up 24-bit RGB) and the stream rate.
    int width = 0;
    int height = 0;
    int framesPerSecond = 0;
    // Audio streams: the input PCM (16-bit).
    int sampleRate = 0;
    int channels = 0;

    WMMediaType GetStreamType() const { return type; }
    HRESULT SetBufferWindow(DWORD ms)
    {
        bufferWindowMs = ms;
        return S_OK;
    }
    // Bytes of one input frame (video) or of one second of input (audio).
    DWORD InputFrameBytes() const { return static_cast<DWORD>(width * height * 3); }
    DWORD InputBytesPerSecond() const { return static_cast<DWORD>(sampleRate * channels * 2); }
};

// IWMProfile: an ordered list of streams.
class CWMProfile {
public:
    DWORD GetStreamCount() const { return static_cast<DWORD>(m_streams.size()); }
    // A copy of stream `index`; change it and hand it back with ReconfigStream.
    HRESULT GetStream(DWORD index, CWMStreamConfig &config) const;
    // Replaces the stream with the same stream number.
    HRESULT ReconfigStream(const CWMStreamConfig &config);
    HRESULT AddStream(const CWMStreamConfig &config);
    const std::vector<CWMStreamConfig> &Streams() const { return m_streams; }

private:
    std::vector<CWMStreamConfig> m_streams;
};
