#pragma once
// The format control of a capture pin (IAMStreamConfig together with
// IAMBufferNegotiation). The formats a source can be asked for are its caps;
// SetFormat constrains the pin to one of them with a caps filter right after
// the source, and refuses a type the source cannot give.
#include "CMediaType.h"

class CStreamConfig {
public:
    // captureFormat: the caps filter on the source's output (kept by its bin);
    // formatCaps: what the source can be asked for.
    CStreamConfig(GstElement *captureFormat, const GstCaps *formatCaps);

    // The current format: the one last set, else the source's first.
    HRESULT GetFormat(CMediaType &mt) const;
    // Asks the pin for mt; VFW_E_INVALIDMEDIATYPE when the source cannot give it.
    HRESULT SetFormat(const CMediaType &mt);

    HRESULT SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES &props);
    ALLOCATOR_PROPERTIES SuggestedAllocator() const { return m_allocator; }

private:
    GstElement *m_captureFormat;
    const GstCaps *m_formatCaps;
    ALLOCATOR_PROPERTIES m_allocator{};
};
