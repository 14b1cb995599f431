#include "CSampleGrabberCallback.h"

HRESULT CSampleGrabberCallback::QueryInterface(InterfaceId iid, void **object)
{
    if (!object)
        return E_POINTER;
    if (iid == InterfaceId::ISampleGrabberCB || iid == InterfaceId::IUnknown) {
        *object = this;
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT CSampleGrabberCallback::SampleCB(double sampleTime, CMediaSample *sample)
{
    if (!sample)
        return S_OK;
    const long length = sample->GetActualDataLength();
    const unsigned char *data = nullptr;
    sample->GetPointer(&data);
    if (SampleSink sink = Sink())
        sink(sampleTime, data, length);
    return S_OK;
}

HRESULT CSampleGrabberCallback::BufferCB(double sampleTime, const unsigned char *buffer, long length)
{
    if (SampleSink sink = Sink())
        sink(sampleTime, buffer, length);
    return S_OK;
}
