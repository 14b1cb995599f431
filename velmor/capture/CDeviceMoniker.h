#pragma once
// One entry of the system device enumerator (IMoniker): a device the device
// monitor reported. Its friendly name is the device's display name; binding
// it makes the device's capture filter.
#include "CCaptureFilter.h"

#include <cstddef>

class CDeviceMoniker {
public:
    explicit CDeviceMoniker(platform::GstPtr<GstDevice> device) : m_device(std::move(device)) {}

    static constexpr std::size_t kNameBytes = 256;

    // Reads "FriendlyName" and converts it to CP949 into a zeroed 256-byte
    // buffer (cut at a whole character, at most 255 bytes). E_FAIL when the
    // device has no name.
    HRESULT ReadFriendlyName(char (&ansi)[kNameBytes]) const;

    // BindToObject(IID_IBaseFilter): a new capture filter for the device;
    // E_FAIL when the device cannot make its element.
    HRESULT BindToObject(std::shared_ptr<CCaptureFilter> &filter) const;

    GstDevice *Device() const { return m_device.get(); }

private:
    platform::GstPtr<GstDevice> m_device;
};
