#include "CWMSample.h"

CWMSample::CWMSample(DWORD maxLength) : m_maxLength(maxLength), m_length(maxLength)
{
    m_buffer = gst_buffer_new_allocate(nullptr, maxLength, nullptr);
    if (m_buffer)
        m_mapped = gst_buffer_map(m_buffer, &m_map, GST_MAP_WRITE);
}

CWMSample::~CWMSample()
{
    if (m_mapped)
        gst_buffer_unmap(m_buffer, &m_map);
    if (m_buffer)
        gst_buffer_unref(m_buffer);
}

HRESULT CWMSample::GetBufferAndLength(unsigned char **buffer, DWORD *length)
{
    if (!buffer || !length)
        return E_POINTER;
    if (!IsValid())
        return E_UNEXPECTED;
    *buffer = m_map.data;
    *length = m_length;
    return S_OK;
}

HRESULT CWMSample::SetLength(DWORD length)
{
    if (!IsValid())
        return E_UNEXPECTED;
    if (length > m_maxLength)
        return E_INVALIDARG;
    m_length = length;
    return S_OK;
}

GstBuffer *CWMSample::TakeBuffer()
{
    if (!IsValid())
        return nullptr;
    gst_buffer_unmap(m_buffer, &m_map);
    m_mapped = false;
    gst_buffer_set_size(m_buffer, m_length);
    GstBuffer *out = m_buffer;
    m_buffer = nullptr;
    return out;
}
