#pragma once
// The profile manager (IWMProfileManager / IWMProfileManager2): hands out the
// built-in system profiles by version and number.
#include "CWMProfile.h"

#include <memory>

inline constexpr DWORD WMT_VER_7_0 = 0x70000;

// The system profile the broadcaster uses: one audio stream (stream index 0)
// of 32 000 Hz stereo at 32 kbit/s and one video stream (stream index 1) of
// 320x240 at 15 frames per second and 256 kbit/s.
inline constexpr DWORD kBroadcastSystemProfile = 10;

class CWMProfileManager {
public:
    HRESULT SetSystemProfileVersion(DWORD version);
    // Loads system profile `number` of the chosen version into `profile`.
    HRESULT LoadSystemProfile(DWORD number, std::unique_ptr<CWMProfile> &profile) const;

private:
    DWORD m_version = 0;
};
