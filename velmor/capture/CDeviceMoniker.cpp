#include "CDeviceMoniker.h"

#include "platform/CodePage.h"

#include <cstring>

HRESULT CDeviceMoniker::ReadFriendlyName(char (&ansi)[kNameBytes]) const
{
    std::memset(ansi, 0, sizeof ansi);
    if (!m_device)
        return E_POINTER;
    platform::GCharPtr name(gst_device_get_display_name(m_device.get()));
    if (!name || !*name)
        return E_FAIL;
    platform::Utf8ToAnsiBuffer(name.get(), ansi, sizeof ansi);
    return S_OK;
}

HRESULT CDeviceMoniker::BindToObject(std::shared_ptr<CCaptureFilter> &filter) const
{
    filter = CCaptureFilter::FromDevice(m_device.get());
    return filter ? S_OK : E_FAIL;
}
