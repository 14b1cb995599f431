#pragma once
// What the main window lends the device selection: its skin buttons, its
// preview control and its property-page dialog. Called on the window's
// thread only.
#include "IPreviewTarget.h"
#include "platform/Win32Types.h"

class CDeviceControls;

class IDeviceSelectionHost {
public:
    virtual ~IDeviceSelectionHost() = default;

    // Enables or disables the skin button of that name ("btn_vp", "btn_ap").
    virtual void EnableSkinButton(const char *name, bool enabled) = 0;
    // The preview control (1018) the video renderer paints into; may be null.
    virtual IPreviewTarget *PreviewTarget() = 0;
    // Shows a device's property pages modally over the main window and
    // returns when they close.
    virtual HRESULT ShowPropertyFrame(CDeviceControls &controls) = 0;
};
