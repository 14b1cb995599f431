#include "CStreamConfig.h"

CStreamConfig::CStreamConfig(GstElement *captureFormat, const GstCaps *formatCaps)
    : m_captureFormat(captureFormat), m_formatCaps(formatCaps)
{
}

HRESULT CStreamConfig::GetFormat(CMediaType &mt) const
{
    GstCaps *set = nullptr;
    g_object_get(m_captureFormat, "caps", &set, nullptr);
    platform::GstCapsPtr current(set);
    if (!current || gst_caps_is_any(current.get()) || gst_caps_is_empty(current.get()))
        current.reset(gst_caps_copy(m_formatCaps));
    // A source that offers ranges reports the value it would pick first.
    current.reset(gst_caps_normalize(current.release()));
    current.reset(gst_caps_fixate(current.release()));
    if (gst_caps_is_empty(current.get()))
        return E_FAIL;
    std::optional<CMediaType> type = CMediaType::FromStructure(gst_caps_get_structure(current.get(), 0));
    if (!type)
        return E_FAIL;
    mt = *type;
    return S_OK;
}

HRESULT CStreamConfig::SetFormat(const CMediaType &mt)
{
    platform::GstCapsPtr wanted = mt.ToCaps();
    if (!wanted)
        return VFW_E_INVALIDMEDIATYPE;
    if (!gst_caps_can_intersect(wanted.get(), m_formatCaps))
        return VFW_E_INVALIDMEDIATYPE;
    g_object_set(m_captureFormat, "caps", wanted.get(), nullptr);
    return S_OK;
}

HRESULT CStreamConfig::SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES &props)
{
    m_allocator = props;
    return S_OK;
}
