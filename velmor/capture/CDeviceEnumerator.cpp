#include "CDeviceEnumerator.h"

#include "platform/GstInit.h"

HRESULT CDeviceEnumerator::CreateClassEnumerator(DeviceCategory category,
                                                 std::vector<std::shared_ptr<CDeviceMoniker>> &monikers)
{
    monikers.clear();
    if (!platform::EnsureGstInit())
        return E_FAIL;
    platform::GstPtr<GstDeviceMonitor> monitor(gst_device_monitor_new());
    if (!monitor)
        return E_FAIL;
    gst_device_monitor_add_filter(monitor.get(),
                                  category == DeviceCategory::VideoInput ? "Video/Source" : "Audio/Source",
                                  nullptr);
    GList *devices = gst_device_monitor_get_devices(monitor.get());
    for (GList *at = devices; at; at = at->next)
        monikers.push_back(
            std::make_shared<CDeviceMoniker>(platform::GstPtr<GstDevice>(GST_DEVICE(at->data))));
    g_list_free(devices);
    return monikers.empty() ? S_FALSE : S_OK;
}
