#pragma once
// The system device enumerator (ICreateDevEnum) over GstDeviceMonitor: one
// class enumerator per category, listing the devices of class Video/Source or
// Audio/Source in the monitor's order. Real devices and the in-process test
// devices come through the same path.
#include "CDeviceMoniker.h"

#include <vector>

class CDeviceEnumerator {
public:
    // E_FAIL when the enumerator cannot be made (GStreamer does not start);
    // S_FALSE with an empty list when the category has no devices, as
    // CreateClassEnumerator reports an empty category; S_OK otherwise.
    static HRESULT CreateClassEnumerator(DeviceCategory category,
                                         std::vector<std::shared_ptr<CDeviceMoniker>> &monikers);
};
