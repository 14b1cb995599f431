#pragma once
// One sample buffer handed out by the writer (INSSBuffer): the caller fills
// it, sets its length and writes it.
#include "platform/Win32Types.h"

#include <gst/gst.h>

class CWMSample {
public:
    explicit CWMSample(DWORD maxLength);
    ~CWMSample();
    CWMSample(const CWMSample &) = delete;
    CWMSample &operator=(const CWMSample &) = delete;

    bool IsValid() const { return m_buffer != nullptr && m_mapped; }
    HRESULT GetBufferAndLength(unsigned char **buffer, DWORD *length);
    HRESULT SetLength(DWORD length);
    DWORD GetLength() const { return m_length; }
    DWORD GetMaxLength() const { return m_maxLength; }

    // Hands the filled bytes over as a GStreamer buffer (the sample is empty
    // afterwards).
    GstBuffer *TakeBuffer();

private:
    GstBuffer *m_buffer = nullptr;
    GstMapInfo m_map{};
    bool m_mapped = false;
    DWORD m_maxLength = 0;
    DWORD m_length = 0;
};
