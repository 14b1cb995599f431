#include "CAudio.h"

#include "CaptureGraph.h"
#include "CLogFile.h"

#include "platform/CodePage.h"
#include "platform/GstInit.h"

namespace {
constexpr const char *kModule = "Audio";
} // namespace

CAudio::CAudio() = default;

CAudio::~CAudio()
{
    // The graph goes before the embedded callback: destroying it brings it to
    // the NULL state and joins its streaming thread, so a graph left running
    // never calls into a destroyed callback.
    m_pCaptureGraphBuilder.reset();
    m_pGraph.reset();
    m_pCapture.reset();
    m_pGrabber.reset();
    m_pNullRenderer.reset();
}

HRESULT CAudio::InitAudioDevice(const char *name)
{
    if (!name)
        return S_FALSE;
    if (platform::Utf8ToAnsi(name).size() > kMaxDeviceNameBytes)
        return E_INVALIDARG;
    platform::EnsureGstInit();

    std::uint16_t index = kDeviceNotFound;
    HRESULT hr = FindCaptureDevice(DeviceCategory::AudioInput, name, m_pCapture, index);
    if (FAILED(hr) || !m_pCapture) {
        if (SUCCEEDED(hr))
            hr = E_FAIL;
        VLOG(kModule, "Could not create  CLSID_AudioInputDeviceCategory (hr=0x%08x).\n", hr);
        return hr;
    }
    m_pCaptureGraphBuilder = std::make_shared<CCaptureGraphBuilder>();
    m_pGraph = std::make_shared<CGraph>(kModule);
    if (!m_pGraph->Pipeline()) {
        VLOG(kModule, "Could not create  CLSID_FilterGraph (hr=0x%08x).\n", E_FAIL);
        return E_FAIL;
    }
    hr = m_pCaptureGraphBuilder->SetFiltergraph(m_pGraph);
    if (FAILED(hr)) {
        VLOG(kModule, "ICaptureGraphBuilder2::SetFiltergraph error (hr=0x%08x).\n", hr);
        return hr;
    }
    // The capture filter is named after its device.
    hr = m_pGraph->AddFilter(m_pCapture, m_pCapture->DisplayName().c_str());
    if (FAILED(hr)) {
        VLOG(kModule, "IGraphBuilder::AddFilter error (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = SetAudioProperties();
    if (FAILED(hr)) {
        VLOG(kModule, "SetAudioProperties() error (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = CSampleGrabber::Create(m_pGrabber);
    if (FAILED(hr)) {
        VLOG(kModule, "Could not create  CLSID_SampleGrabber (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = m_pGraph->AddFilter(m_pGrabber, "Sample Grabber");
    if (FAILED(hr)) {
        VLOG(kModule, "IGraphBuilder::AddFilter error (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = ConnectFilters(*m_pGraph, *m_pCapture, *m_pGrabber, 3);
    if (FAILED(hr)) {
        VLOG(kModule, "오디오 필터와 샘플그래퍼 필터 연결실패. (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = CFilter::CreateNullRenderer(m_pNullRenderer);
    if (FAILED(hr)) {
        VLOG(kModule, "Could not create CLSID_NullRenderer (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = m_pGraph->AddFilter(m_pNullRenderer, "Null Renderer");
    if (FAILED(hr)) {
        VLOG(kModule, "IGraphBuilder::AddFilter error (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = ConnectFilters(*m_pGraph, *m_pGrabber, *m_pNullRenderer, 3);
    if (FAILED(hr)) {
        VLOG(kModule, "샘플그래퍼와 널렌더 연결실패 (hr=0x%08x).\n", hr);
        return hr;
    }
    CMediaType connected;
    hr = m_pGrabber->GetConnectedMediaType(connected);
    if (FAILED(hr))
        return hr;
    hr = m_pGrabber->SetBufferSamples(false);
    if (FAILED(hr))
        return hr;
    hr = m_pGrabber->SetCallback(&m_callback, 1);
    if (FAILED(hr))
        return hr;
    // The suggested allocator is a ceiling on what one call hands over.
    std::shared_ptr<CStreamConfig> config = m_pCapture->StreamConfig();
    const long ceiling = config ? config->SuggestedAllocator().cbBuffer : kBufferBytes;
    m_pGrabber->SetBufferCeiling(ceiling, kBlockAlign, kAvgBytesPerSec);
    m_callback.SetSink(m_audioSink);
    hr = RunGraph();
    if (FAILED(hr)) {
        VLOG(kModule, "RunGraph() (hr=0x%08x).\n", hr);
        return hr;
    }
    return hr;
}

HRESULT CAudio::SetAudioProperties()
{
    HRESULT hr = E_FAIL; // no output pin at all
    for (int n = 0;; ++n) {
        platform::GstPtr<GstPad> pin;
        if (FAILED(m_pCapture->GetPin(PinDirection::Output, n, pin)))
            break;
        // The buffer negotiation and the stream configuration of the capture
        // pin are one object; a source that describes no formats has neither.
        std::shared_ptr<CStreamConfig> config = m_pCapture->StreamConfig();
        if (!config) {
            hr = E_NOINTERFACE;
            continue;
        }
        ALLOCATOR_PROPERTIES props;
        props.cBuffers = 2;
        props.cbBuffer = kBufferBytes;
        props.cbAlign = -1;
        props.cbPrefix = -1;
        hr = config->SuggestAllocatorProperties(props);
        if (FAILED(hr))
            continue;
        CMediaType mt;
        hr = config->GetFormat(mt);
        if (FAILED(hr))
            continue;
        if (mt.formattype == FormatType::WaveFormatEx)
            m_waveFormat = mt.wfx;
        else
            m_waveFormat.wFormatTag = WAVE_FORMAT_PCM;
        m_waveFormat.nChannels = kChannels;
        m_waveFormat.nSamplesPerSec = kSamplesPerSec;
        m_waveFormat.wBitsPerSample = kBitsPerSample;
        m_waveFormat.nBlockAlign = kBlockAlign;
        m_waveFormat.nAvgBytesPerSec = kAvgBytesPerSec;
        mt.majortype = MajorType::Audio;
        mt.wfx = m_waveFormat;
        mt.formattype = FormatType::WaveFormatEx;
        mt.lSampleSize = m_waveFormat.nBlockAlign;
        hr = config->SetFormat(mt);
    }
    return hr;
}

HRESULT CAudio::RunGraph()
{
    if (!m_pGraph)
        return E_FAIL;
    return m_pGraph->Run();
}

HRESULT CAudio::ReleaseGraph()
{
    if (m_pGraph) {
        const HRESULT hr = m_pGraph->Stop();
        if (FAILED(hr))
            return hr;
    }
    m_pCaptureGraphBuilder.reset();
    m_pGraph.reset();
    m_pCapture.reset();
    m_pGrabber.reset();
    m_pNullRenderer.reset();
    return 0;
}
