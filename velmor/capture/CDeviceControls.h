#pragma once
// The user-adjustable controls of a capture device, which its property pages
// show: the colour balance of a camera (brightness, contrast, hue,
// saturation... as V4L2 or the element reports them) and the volume and mute
// of a microphone. A device "has property pages" when its element offers
// either interface. The pages themselves are a dialog of the main window; it
// gets this object, lists the controls and sets values.
#include "CCaptureFilter.h"

#include <string>
#include <vector>

struct DeviceControl {
    std::string name;
    int minimum = 0;
    int maximum = 0;
    int value = 0;
};

class CDeviceControls {
public:
    enum class Kind { Device, TVTuner };

    // Reads the controls of the filter's element. An element that is not in
    // use is opened (READY) for as long as this object lives, since devices
    // report their controls only when open. E_NOINTERFACE when it has none.
    static HRESULT Open(const std::shared_ptr<CCaptureFilter> &filter, Kind kind,
                        std::unique_ptr<CDeviceControls> &controls);
    ~CDeviceControls();
    CDeviceControls(const CDeviceControls &) = delete;
    CDeviceControls &operator=(const CDeviceControls &) = delete;

    // Whether the filter's element offers adjustable controls at all.
    static bool HasControls(const CCaptureFilter &filter);

    Kind GetKind() const { return m_kind; }
    const std::string &Caption() const { return m_caption; }
    const std::vector<DeviceControl> &Controls() const { return m_controls; }
    // Sets a control (clamped to its range) and reads it back.
    HRESULT Set(std::size_t index, int value);

private:
    CDeviceControls(std::shared_ptr<CCaptureFilter> filter, Kind kind);
    void Read();

    std::shared_ptr<CCaptureFilter> m_filter;
    Kind m_kind;
    std::string m_caption;
    bool m_opened = false;
    platform::GstPtr<GstElement> m_balance;
    platform::GstPtr<GstElement> m_volume;
    std::vector<DeviceControl> m_controls;
};
