#include "CVideo.h"

#include "CaptureGraph.h"
#include "CLogFile.h"

#include "platform/CodePage.h"
#include "platform/GstInit.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr const char *kModule = "Video";
} // namespace

CVideo::CVideo() : m_formatTemplate(DefaultFormatTemplate()) {}

CVideo::~CVideo()
{
    ReleaseGraph();
}

BITMAPINFOHEADER CVideo::DefaultFormatTemplate()
{
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = 320;
    h.biHeight = 240;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = BI_RGB;
    h.biSizeImage = 320 * 240 * 3;
    return h;
}

HRESULT CVideo::InitVideoDevice(const char *name)
{
    if (!name || platform::Utf8ToAnsi(name).size() > kMaxDeviceNameBytes)
        return S_FALSE;
    platform::EnsureGstInit();

    std::uint16_t index = kDeviceNotFound;
    HRESULT hr = FindCaptureDevice(DeviceCategory::VideoInput, name, m_pVideoCapture, index);
    if (FAILED(hr) || !m_pVideoCapture) {
        if (SUCCEEDED(hr))
            hr = E_FAIL;
        VLOG(kModule, "Couldn't create CLSID_VideoInputDeviceCategory (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = GetFormatList();
    if (FAILED(hr)) {
        VLOG(kModule, "GetFormatList() error (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = ConnectDirectShow();
    if (FAILED(hr)) {
        VLOG(kModule, "ConnectDirectShow() error (hr=0x%08x).\n", hr);
        m_pVideoCapture.reset();
        return hr;
    }
    return hr;
}

HRESULT CVideo::GetFormatList()
{
    // Only the camera being built is described: a list left from an earlier
    // build would let the searches pick a format this camera does not have.
    m_formatList.clear();
    platform::GstPtr<GstPad> pin;
    if (FAILED(GetPin(m_pVideoCapture.get(), PinDirection::Output, 0, &pin)))
        return S_OK;
    for (CMediaType &mt : m_pVideoCapture->EnumMediaTypes())
        if (mt.majortype == MajorType::Video)
            m_formatList.push_back(std::move(mt));
    return S_OK;
}

HRESULT CVideo::ConnectDirectShow()
{
    HRESULT hr = CreateVideoCaptureGraphBuilder();
    if (FAILED(hr)) {
        VLOG(kModule, "CreateVideoCaptureGraphBuilder() error (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = CreateVideoRender();
    if (FAILED(hr)) {
        VLOG(kModule, "CreateVideoRender() error (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = CreateSampleGrabberAndFilterConnect();
    if (FAILED(hr)) {
        VLOG(kModule, "CreateSampleGrabberAndFilterConnect() error (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = CreatePrevviewWnd();
    if (FAILED(hr)) {
        VLOG(kModule, "CreatePrevviewWnd() error (hr=0x%08x).\n", hr);
        return hr;
    }
    return hr;
}

// Builder, graph and their binding; the camera graph adds the camera and the
// grabber here, the screen graph adds them as separate steps.
HRESULT CVideo::CreateGraphObjects(bool screen)
{
    m_pCaptureGraphBuilder = std::make_shared<CCaptureGraphBuilder>();
    m_pGraph = std::make_shared<CGraph>(kModule);
    if (!m_pGraph->Pipeline()) {
        VLOG(kModule, screen ? "FilterGraph error (hr=0x%08x).\n" : "Could not create CLSID_FilterGraph (hr=0x%08x).\n",
             E_FAIL);
        return E_FAIL;
    }
    const HRESULT hr = m_pCaptureGraphBuilder->SetFiltergraph(m_pGraph);
    if (FAILED(hr)) {
        VLOG(kModule, screen ? "SetFiltergraph error (hr=0x%08x).\n" : "SetFiltergraph() error (hr=0x%08x).\n", hr);
        return hr;
    }
    return S_OK;
}

HRESULT CVideo::CreateVideoCaptureGraphBuilder()
{
    HRESULT hr = CreateGraphObjects(false);
    if (FAILED(hr))
        return hr;
    hr = m_pGraph->AddFilter(m_pVideoCapture, "Video Capture");
    if (FAILED(hr)) {
        VLOG(kModule, "IGraphBuilder::AddFilter error (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = CSampleGrabber::Create(m_pGrabber);
    if (FAILED(hr)) {
        VLOG(kModule, "Could not  CLSID_SampleGrabber (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = m_pGraph->AddFilter(m_pGrabber, "Sample Grabber");
    if (FAILED(hr)) {
        VLOG(kModule, "IGraphBuilder::AddFilter error (hr=0x%08x).\n", hr);
        return hr;
    }
    return S_OK;
}

HRESULT CVideo::CreateRenderer(bool screen)
{
    HRESULT hr;
    if (m_hPreviewWnd) {
        std::shared_ptr<CVideoRenderer> renderer;
        hr = CVideoRenderer::Create(renderer);
        m_pRenderer = renderer;
    } else {
        // No preview control to paint into: the frames end in a fakesink.
        hr = CFilter::CreateNullRenderer(m_pRenderer);
    }
    if (FAILED(hr)) {
        VLOG(kModule, screen ? "Could not create  CLSID_VideoRenderer (hr=0x%08x).\n"
                             : "Could not CLSID_VideoRenderer (hr=0x%08x).\n",
             hr);
        return hr;
    }
    hr = m_pGraph->AddFilter(m_pRenderer, "Video Renderer");
    if (FAILED(hr)) {
        VLOG(kModule, "IGraphBuilder::AddFilter error (hr=0x%08x).\n", hr);
        return hr;
    }
    return S_OK;
}

HRESULT CVideo::CreateVideoRender()
{
    const HRESULT hr = CreateRenderer(false);
    if (FAILED(hr))
        return hr;
    NegotiateCaptureFormat(m_pVideoCapture, true);
    return S_OK;
}

HRESULT CVideo::CreateScreenVideoRender()
{
    const HRESULT hr = CreateRenderer(true);
    if (FAILED(hr))
        return hr;
    NegotiateCaptureFormat(m_pScreenSource, false);
    return S_OK;
}

// Asks the source for 320x240 before it is connected. Never fails the build:
// a source that cannot be set keeps its own format.
void CVideo::NegotiateCaptureFormat(const std::shared_ptr<CCaptureFilter> &source, bool camera)
{
    HRESULT hr = m_pCaptureGraphBuilder->FindStreamConfig(MajorType::Interleaved, source, m_pStreamConfig);
    if (FAILED(hr) || !m_pStreamConfig) {
        hr = m_pCaptureGraphBuilder->FindStreamConfig(MajorType::Video, source, m_pStreamConfig);
        if (FAILED(hr) || !m_pStreamConfig)
            VLOG(kModule, "비디오캡쳐 필터에서 IAMStreamConfig 인터페이스를 지원하지 않음\n");
    }
    if (camera) {
        m_bVfwCaptureDialogs = SUCCEEDED(m_pCaptureGraphBuilder->FindVfwCaptureDialogs(source));
        if (!m_bVfwCaptureDialogs)
            VLOG(kModule, "비디오캡쳐 필터에서 IAMVfwCaptureDialogs 인터페이스를 지원하지 않음\n");
    }
    if (!m_pStreamConfig) {
        VLOG(kModule, "자동으로 포멧셋팅을 할 수 없는 환경이므로 스케일러 필터를 통해 강제로 리사이즈하도록 셋팅\n");
        return;
    }

    CMediaType current;
    if (FAILED(m_pStreamConfig->GetFormat(current)))
        return;
    if (current.formattype != FormatType::VideoInfo)
        return;

    // The broadcast relay takes the largest picture the camera gives (up to
    // its limit); the local stream's frames are fitted to 320x240 anyway.
    if (camera && m_largestWidth > 0 && m_largestHeight > 0) {
        const int index = FindLargestFormat(m_largestWidth, m_largestHeight);
        const BITMAPINFOHEADER *largest =
            index >= 0 ? &m_formatList[static_cast<std::size_t>(index)].bmiHeader : nullptr;
        // Nothing larger than the local stream's own size: the usual attempts.
        if (largest && static_cast<long long>(largest->biWidth) * std::abs(largest->biHeight) > 320 * 240 &&
            SUCCEEDED(SetFormatByIndex(index))) {
            VLOG(kModule, "릴레이 송출을 위해 카메라를 %dx%d 형식으로 설정합니다.\n", largest->biWidth,
                 std::abs(largest->biHeight));
            return;
        }
    }
    if (!m_formatList.empty()) {
        int index = FindFormat(BI_RGB, 320, 240);                                         // attempt 1
        if (index < 0)
            index = FindFormat(current.bmiHeader.biCompression, 320, 240);                // attempt 2
        if (index < 0)
            index = FindNearestFormat(BI_RGB, 320, 240);                                  // attempt 3
        if (index >= 0 && SUCCEEDED(SetFormatByIndex(index)))
            return;
    }

    // Attempts 4 to 6: the template over the current header; only the
    // compression changes between them.
    current.bmiHeader = m_formatTemplate;
    if (SUCCEEDED(m_pStreamConfig->SetFormat(current)))
        return;
    VLOG(kModule, "★★ 경고 ★★ 4차 연결시도 실패 (1차 수동연결 실패 : RGB)\n");
    current.bmiHeader.biCompression = FOURCC_I420;
    if (SUCCEEDED(m_pStreamConfig->SetFormat(current)))
        return;
    VLOG(kModule, "★★ 경고 ★★ 5차 연결시도 실패 (2차 수동연결 실패 : I420)\n");
    current.bmiHeader.biCompression = FOURCC_IYUV;
    if (SUCCEEDED(m_pStreamConfig->SetFormat(current)))
        return;
    VLOG(kModule, "★★ 경고 ★★ 6차 연결시도 실패 (3차 수동연결 실패 : IYUV)\n");
}

HRESULT CVideo::SetFormatByIndex(int index)
{
    if (!m_pStreamConfig || index < 0 || static_cast<std::size_t>(index) >= m_formatList.size())
        return E_INVALIDARG;
    return m_pStreamConfig->SetFormat(m_formatList[static_cast<std::size_t>(index)]);
}

int CVideo::FindFormat(std::uint32_t compression, int width, int height) const
{
    for (std::size_t i = 0; i < m_formatList.size(); ++i) {
        const BITMAPINFOHEADER &h = m_formatList[i].bmiHeader;
        if (h.biCompression == compression && h.biWidth == width && std::abs(h.biHeight) == std::abs(height))
            return static_cast<int>(i);
    }
    return -1;
}

int CVideo::FindNearestFormat(std::uint32_t compression, int width, int height) const
{
    const int exact = FindFormat(compression, width, height);
    if (exact >= 0)
        return exact;
    struct Best {
        std::uint32_t dw = 0xFFFFFFFFu;
        std::uint32_t dh = 0xFFFFFFFFu;
        int index = -1;
    } same, other;
    for (std::size_t i = 0; i < m_formatList.size(); ++i) {
        const BITMAPINFOHEADER &h = m_formatList[i].bmiHeader;
        const auto dw = static_cast<std::uint32_t>(std::abs(h.biWidth - width));
        const auto dh = static_cast<std::uint32_t>(std::abs(std::abs(h.biHeight) - std::abs(height)));
        Best &best = h.biCompression == compression ? same : other;
        if (!(best.dw <= dw && best.dh <= dh))
            best = Best{dw, dh, static_cast<int>(i)};
    }
    return same.index >= 0 ? same.index : other.index;
}

int CVideo::FindLargestFormat(int width, int height) const
{
    int best = -1;
    long long bestPixels = 0;
    for (std::size_t i = 0; i < m_formatList.size(); ++i) {
        const BITMAPINFOHEADER &h = m_formatList[i].bmiHeader;
        const long long pixels = static_cast<long long>(h.biWidth) * std::abs(h.biHeight);
        if (h.biWidth > 0 && h.biWidth <= width && std::abs(h.biHeight) <= height && pixels > bestPixels) {
            best = static_cast<int>(i);
            bestPixels = pixels;
        }
    }
    return best;
}

HRESULT CVideo::ConnectGrabber(const std::shared_ptr<CCaptureFilter> &source, bool screen)
{
    m_pGrabber->SetMediaType(CMediaType::Rgb24Video());
    m_pGrabber->SetBufferSamples(true);
    // The writer takes 320x240 pictures only: a source that settled on
    // another size (a camera without that mode, the screen) is scaled for
    // the sink, its whole picture kept between black borders. The preview
    // shows the source's own frames.
    m_pGrabber->SetCallbackFrameSize(kFrameWidth, kFrameHeight);
    m_pGrabber->SetSourceFrameSink(m_sourceSink);
    HRESULT hr = ConnectFilters(*m_pGraph, *source, *m_pGrabber, 3);
    if (FAILED(hr)) {
        VLOG(kModule, screen ? "화면캡쳐 필터와 샘플 그래퍼 필터 연결실패 (hr=0x%08x).\n"
                             : "비디오캡쳐 필터와 샘플 그래퍼 필터 연결실패 (hr=0x%08x).\n",
             hr);
        return hr;
    }
    hr = ConnectFilters(*m_pGraph, *m_pGrabber, *m_pRenderer, 3);
    if (FAILED(hr)) {
        VLOG(kModule, "샘플 그래퍼 필터와 비디오 렌더필터 연결실패 (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = m_pGrabber->SetCallback(&m_callback, 0);
    if (FAILED(hr))
        return hr;
    m_callback.SetSink(m_videoSink);
    return S_OK;
}

HRESULT CVideo::CreateSampleGrabberAndFilterConnect()
{
    return ConnectGrabber(m_pVideoCapture, false);
}

HRESULT CVideo::CreateScreenSampleGrabberAndFilterConnect()
{
    return ConnectGrabber(m_pScreenSource, true);
}

HRESULT CVideo::CreatePrevviewWnd()
{
    CVideoRenderer *window = m_pGraph ? m_pGraph->QueryVideoWindow() : nullptr;
    if (!window || !m_hPreviewWnd)
        return S_FALSE;
    window->put_Owner(m_hPreviewWnd);
    window->put_WindowStyle(WS_CHILD);
    const PreviewRect rc = m_hPreviewWnd->GetClientRect();
    window->SetWindowPosition(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
    return S_OK;
}

HRESULT CVideo::InitScreenCapture()
{
    platform::EnsureGstInit();
    HRESULT hr = CreateGraphObjects(true);
    if (FAILED(hr))
        return hr;
    hr = CCaptureFilter::CreateScreenSource(m_pScreenSource, kModule);
    if (FAILED(hr)) {
        VLOG(kModule, "Could not create CLSID_VMScreenPusher (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = m_pGraph->AddFilter(m_pScreenSource, "Video Capture");
    if (FAILED(hr)) {
        VLOG(kModule, "IGraphBuilder::AddFilter error (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = CSampleGrabber::Create(m_pGrabber);
    if (FAILED(hr)) {
        VLOG(kModule, "Could not create CLSID_SampleGrabber (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = m_pGraph->AddFilter(m_pGrabber, "Sample Grabber");
    if (FAILED(hr)) {
        VLOG(kModule, "IGraphBuilder::AddFilter error (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = CreateScreenVideoRender();
    if (FAILED(hr)) {
        VLOG(kModule, "CreateScreenVideoRender() error (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = CreateScreenSampleGrabberAndFilterConnect();
    if (FAILED(hr)) {
        VLOG(kModule, "CreateScreenSampleGrabberAndFilterConnect() error (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = CreatePrevviewWnd();
    if (FAILED(hr)) {
        VLOG(kModule, "CreatePrevviewWnd() error (hr=0x%08x).\n", hr);
        return hr;
    }
    hr = RunGraph();
    if (FAILED(hr)) {
        VLOG(kModule, "RunGraph() error (hr=0x%08x).\n", hr);
        return hr;
    }
    return hr;
}

HRESULT CVideo::RunGraph()
{
    if (!m_pGraph)
        return E_FAIL;
    return m_pGraph->Run();
}

HRESULT CVideo::ReleaseGraph()
{
    if (m_pGraph) {
        if (CVideoRenderer *window = m_pGraph->QueryVideoWindow())
            window->put_Owner(nullptr);
        m_pGraph->Pause();
        m_pGraph->Stop();
    }
    m_pGrabber.reset();
    m_pVideoCapture.reset();
    m_pStreamConfig.reset();
    m_bVfwCaptureDialogs = false;
    m_pRenderer.reset();
    m_pScreenSource.reset();
    m_pCaptureGraphBuilder.reset();
    m_pGraph.reset();
    m_callback.SetSink(nullptr);
    m_formatList.clear();
    return 0;
}
