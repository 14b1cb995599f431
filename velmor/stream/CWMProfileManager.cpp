#include "CWMProfileManager.h"

HRESULT CWMProfileManager::SetSystemProfileVersion(DWORD version)
{
    if (version != WMT_VER_7_0)
        return E_INVALIDARG;
    m_version = version;
    return S_OK;
}

HRESULT CWMProfileManager::LoadSystemProfile(DWORD number, std::unique_ptr<CWMProfile> &profile) const
{
    profile.reset();
    if (m_version != WMT_VER_7_0 || number != kBroadcastSystemProfile)
        return E_INVALIDARG;
    auto p = std::make_unique<CWMProfile>();
    CWMStreamConfig audio;
    audio.type = WMMediaType::Audio;
    audio.streamNumber = 1;
    // WMA v2 at 32 kHz stereo needs at least 24 kbit/s.
    audio.bitrate = 32000;
    audio.sampleRate = 32000;
    audio.channels = 2;
    CWMStreamConfig video;
    video.type = WMMediaType::Video;
    video.streamNumber = 2;
    video.bitrate = 256000;
    video.width = 320;
    video.height = 240;
    video.framesPerSecond = 15;
    HRESULT hr = p->AddStream(audio);
    if (SUCCEEDED(hr))
        hr = p->AddStream(video);
    if (FAILED(hr))
        return hr;
    profile = std::move(p);
    return S_OK;
}
