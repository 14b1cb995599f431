#pragma once
// The grabber's callback object (ISampleGrabberCB). It is embedded in its
// owner and not reference counted: AddRef always answers 2 and Release 1.
// SampleCB and BufferCB run on the graph's streaming thread and hand the
// bytes to the sink, which copies what it keeps before it returns.
#include "CaptureTypes.h"
#include "SampleSink.h"

#include <atomic>

// One media sample as the grabber hands it over (IMediaSample): the graph's
// own bytes, valid only during the call.
class CMediaSample {
public:
    CMediaSample(const unsigned char *data, long length) : m_data(data), m_length(length) {}
    long GetActualDataLength() const { return m_length; }
    HRESULT GetPointer(const unsigned char **data) const
    {
        if (!data)
            return E_POINTER;
        *data = m_data;
        return S_OK;
    }

private:
    const unsigned char *m_data;
    long m_length;
};

enum class InterfaceId { IUnknown, ISampleGrabberCB, Other };

class CSampleGrabberCallback {
public:
    virtual ~CSampleGrabberCallback() = default;

    virtual HRESULT QueryInterface(InterfaceId iid, void **object);
    virtual unsigned long AddRef() { return 2; }
    virtual unsigned long Release() { return 1; }
    virtual HRESULT SampleCB(double sampleTime, CMediaSample *sample);
    virtual HRESULT BufferCB(double sampleTime, const unsigned char *buffer, long length);

    void SetSink(SampleSink sink) { m_sink.store(sink, std::memory_order_release); }
    SampleSink Sink() const { return m_sink.load(std::memory_order_acquire); }

private:
    // Written on the window thread, read on the streaming thread.
    std::atomic<SampleSink> m_sink{nullptr};
};
