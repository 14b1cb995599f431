#include "CDeviceControls.h"

#include <gst/audio/streamvolume.h>
#include <gst/video/colorbalance.h>

#include <algorithm>
#include <cmath>

namespace {

platform::GstPtr<GstElement> FindByInterface(GstElement *element, GType iface)
{
    if (G_TYPE_CHECK_INSTANCE_TYPE(element, iface))
        return platform::NewRef(element);
    if (GST_IS_BIN(element))
        return platform::GstPtr<GstElement>(gst_bin_get_by_interface(GST_BIN(element), iface));
    return nullptr;
}

constexpr const char *kVolume = "Volume";
constexpr const char *kMute = "Mute";

} // namespace

bool CDeviceControls::HasControls(const CCaptureFilter &filter)
{
    GstElement *element = filter.Element();
    return element && (FindByInterface(element, GST_TYPE_COLOR_BALANCE) ||
                       FindByInterface(element, GST_TYPE_STREAM_VOLUME));
}

CDeviceControls::CDeviceControls(std::shared_ptr<CCaptureFilter> filter, Kind kind)
    : m_filter(std::move(filter)), m_kind(kind)
{
    m_caption = m_filter->DisplayName();
    if (m_kind == Kind::TVTuner)
        m_caption += " TV Tuner";
}

CDeviceControls::~CDeviceControls()
{
    if (m_opened)
        gst_element_set_state(m_filter->Element(), GST_STATE_NULL);
}

HRESULT CDeviceControls::Open(const std::shared_ptr<CCaptureFilter> &filter, Kind kind,
                              std::unique_ptr<CDeviceControls> &controls)
{
    controls.reset();
    if (!filter || !filter->Element())
        return E_POINTER;
    // A tuner has its pages even when the device reports no picture controls.
    if (kind == Kind::Device && !HasControls(*filter))
        return E_NOINTERFACE;
    std::unique_ptr<CDeviceControls> made(new CDeviceControls(filter, kind));
    GstElement *element = filter->Element();
    GstState state = GST_STATE_NULL;
    gst_element_get_state(element, &state, nullptr, 0);
    if (state == GST_STATE_NULL && !GST_OBJECT_PARENT(element)) {
        if (gst_element_set_state(element, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
            gst_element_set_state(element, GST_STATE_NULL);
            return E_FAIL;
        }
        made->m_opened = true;
    }
    made->m_balance = FindByInterface(element, GST_TYPE_COLOR_BALANCE);
    made->m_volume = FindByInterface(element, GST_TYPE_STREAM_VOLUME);
    made->Read();
    controls = std::move(made);
    return S_OK;
}

void CDeviceControls::Read()
{
    m_controls.clear();
    if (m_balance) {
        GstColorBalance *balance = GST_COLOR_BALANCE(m_balance.get());
        for (const GList *at = gst_color_balance_list_channels(balance); at; at = at->next) {
            auto *channel = static_cast<GstColorBalanceChannel *>(at->data);
            m_controls.push_back(DeviceControl{channel->label ? channel->label : "", channel->min_value,
                                               channel->max_value, gst_color_balance_get_value(balance, channel)});
        }
    }
    if (m_volume) {
        GstStreamVolume *volume = GST_STREAM_VOLUME(m_volume.get());
        const double linear = gst_stream_volume_get_volume(volume, GST_STREAM_VOLUME_FORMAT_LINEAR);
        m_controls.push_back(DeviceControl{kVolume, 0, 100, static_cast<int>(std::lround(linear * 100.0))});
        m_controls.push_back(DeviceControl{kMute, 0, 1, gst_stream_volume_get_mute(volume) ? 1 : 0});
    }
}

HRESULT CDeviceControls::Set(std::size_t index, int value)
{
    if (index >= m_controls.size())
        return E_INVALIDARG;
    DeviceControl &control = m_controls[index];
    value = std::clamp(value, control.minimum, control.maximum);
    if (m_balance && control.name != kVolume && control.name != kMute) {
        GstColorBalance *balance = GST_COLOR_BALANCE(m_balance.get());
        for (const GList *at = gst_color_balance_list_channels(balance); at; at = at->next) {
            auto *channel = static_cast<GstColorBalanceChannel *>(at->data);
            if (control.name == (channel->label ? channel->label : "")) {
                gst_color_balance_set_value(balance, channel, value);
                control.value = gst_color_balance_get_value(balance, channel);
                return S_OK;
            }
        }
        return E_FAIL;
    }
    if (m_volume) {
        GstStreamVolume *volume = GST_STREAM_VOLUME(m_volume.get());
        if (control.name == kVolume) {
            gst_stream_volume_set_volume(volume, GST_STREAM_VOLUME_FORMAT_LINEAR, value / 100.0);
            control.value = static_cast<int>(
                std::lround(gst_stream_volume_get_volume(volume, GST_STREAM_VOLUME_FORMAT_LINEAR) * 100.0));
            return S_OK;
        }
        if (control.name == kMute) {
            gst_stream_volume_set_mute(volume, value != 0);
            control.value = gst_stream_volume_get_mute(volume) ? 1 : 0;
            return S_OK;
        }
    }
    return E_FAIL;
}
