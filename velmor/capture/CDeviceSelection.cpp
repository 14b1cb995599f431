#include "CDeviceSelection.h"

#include "CDeviceEnumerator.h"
#include "CLogFile.h"

#include "platform/CodePage.h"
#include "platform/GstInit.h"

namespace {

constexpr const char *kModule = "VelmorDlg";
constexpr const char *kVideoButton = "btn_vp";
constexpr const char *kAudioButton = "btn_ap";

// Walks one device category and appends its devices to `list`; the log lines
// of the two lists differ only in the property-bag line and the per-device
// line of the video list.
int FillList(CDeviceList &list, DeviceCategory category, const char *enumeratorError, const char *bagLine,
             bool logEachDevice)
{
    if (!platform::EnsureGstInit()) {
        VLOG(kModule, enumeratorError, E_FAIL);
        return 0;
    }
    std::vector<std::shared_ptr<CDeviceMoniker>> monikers;
    const HRESULT hr = CDeviceEnumerator::CreateClassEnumerator(category, monikers);
    if (FAILED(hr)) {
        VLOG(kModule, "CreateClassEnumerator() error (hr=0x%08x).\n", hr);
        return 0;
    }
    if (monikers.empty()) {
        VLOG(kModule, "IEnumMoniker == NULL\n");
        return 0;
    }
    int listed = 0;
    for (const auto &moniker : monikers) {
        if (!moniker->Device()) {
            VLOG(kModule, "%s", bagLine);
            continue;
        }
        char ansi[CDeviceMoniker::kNameBytes];
        if (FAILED(moniker->ReadFriendlyName(ansi))) {
            VLOG(kModule, "FriendlyName == NULL\n");
            continue;
        }
        const std::string name = platform::AnsiToUtf8(ansi);
        const int at = list.AddString(name);
        list.SetItemData(at, moniker);
        ++listed;
        if (logEachDevice)
            VLOG(kModule, "video list : %d. %s\n", at + 1, name.c_str());
    }
    VLOG(kModule, "IMoniker == NULL\n");
    return listed;
}

std::string SelectedText(const CDeviceList &list)
{
    std::string text;
    list.GetLBText(list.GetCurSel(), text);
    return text;
}

} // namespace

CDeviceSelection::CDeviceSelection(CVideo &video, CAudio &audio, IDeviceSelectionHost &host)
    : m_Video(video), m_Audio(audio), m_host(host)
{
}

void CDeviceSelection::InsertVideoList()
{
    m_videoList.InsertString(0, kScreenCapture);
    m_videoList.SetItemData(0, nullptr);
    VLOG(kModule, "video list : 1. %s\n", kScreenCapture);
    FillList(m_videoList, DeviceCategory::VideoInput, "InsertVideoList() error (hr=0x%08x).\n", "pBag == NULL\n",
             true);
    m_videoList.SetCurSel(0);
    UpdateVideoPropertyButton();
}

int CDeviceSelection::InsertAudioList()
{
    const int listed = FillList(m_audioList, DeviceCategory::AudioInput, "InsertAudioList() error (hr=0x%08x).\n",
                                "IPropertyBag == NULL\n", false);
    if (listed > 0) {
        m_audioList.SetCurSel(0);
        UpdateAudioPropertyButton();
    } else {
        m_audioList.InsertString(0, kNoDevice);
        m_audioList.SetItemData(0, nullptr);
        m_audioList.SetCurSel(0);
        m_host.EnableSkinButton(kAudioButton, false);
        VLOG(kModule, "오디오 장치가 없습니다.\n");
    }
    return listed;
}

HRESULT CDeviceSelection::SetVideoDevice()
{
    const std::string text = SelectedText(m_videoList);
    m_Video.SetPreviewWindow(m_host.PreviewTarget());
    m_Video.ReleaseGraph();
    VLOG(kModule, "선택한 비디오장치 : %s\n", text.c_str());
    HRESULT hr = text == kScreenCapture ? m_Video.InitScreenCapture() : m_Video.InitVideoDevice(text.c_str());
    // A build that "succeeds" without a graph (a name the build refuses
    // outright) is no video source: the broadcast must not start on it.
    if (SUCCEEDED(hr) && !m_Video.m_pGraph)
        hr = E_FAIL;
    if (SUCCEEDED(hr)) {
        m_bVideoReady = 1;
        return hr;
    }
    m_Video.ReleaseGraph();
    m_bVideoReady = 0;
    return hr;
}

int CDeviceSelection::SetAudioDevice()
{
    const std::string text = SelectedText(m_audioList);
    m_Audio.ReleaseGraph();
    if (text == kNoDevice) {
        m_host.EnableSkinButton(kAudioButton, false);
        VLOG(kModule, "오디오 장치가 없음\n");
        return 0;
    }
    const HRESULT hr = m_Audio.InitAudioDevice(text.c_str());
    if (SUCCEEDED(hr) && m_Audio.m_pGraph)
        return 1;
    m_host.EnableSkinButton(kAudioButton, false);
    return 0;
}

std::shared_ptr<CTVTuner> CDeviceSelection::FindTVTuner() const
{
    std::shared_ptr<CTVTuner> tuner;
    m_Video.m_pCaptureGraphBuilder->FindTVTuner(m_Video.m_pVideoCapture, tuner);
    return tuner;
}

void CDeviceSelection::UpdateVideoPropertyButton()
{
    const CDeviceList::ItemData moniker = m_videoList.GetItemData(m_videoList.GetCurSel());
    if (!m_Video.m_pCaptureGraphBuilder) {
        VLOG(kModule, "ICaptureGraphBuilder2 == NULL\n");
    } else if (!m_Video.m_pVideoCapture) {
        VLOG(kModule, "m_Video.m_pVideoCapture == NULL\n");
    } else {
        if (FindTVTuner()) {
            m_host.EnableSkinButton(kVideoButton, true);
            VLOG(kModule, "TV 인터페이스가 있음\n");
            return;
        }
        m_host.EnableSkinButton(kVideoButton, false);
        VLOG(kModule, "TV 인터페이스가 존재하지 않음\n");
    }
    if (!moniker) {
        m_host.EnableSkinButton(kVideoButton, false);
        VLOG(kModule, "비디오 속성 인터페이스가 존재하지 않음\n");
        return;
    }
    std::shared_ptr<CCaptureFilter> device;
    if (FAILED(moniker->BindToObject(device)) || !device) {
        VLOG(kModule, "pDevice == NULL\n");
        return;
    }
    if (HasPropertyPages(device)) {
        m_host.EnableSkinButton(kVideoButton, true);
        VLOG(kModule, "속성 페이지가 존재함\n");
    } else {
        m_host.EnableSkinButton(kVideoButton, false);
        VLOG(kModule, "속성 페이지가 존재하지 않음\n");
    }
}

void CDeviceSelection::UpdateAudioPropertyButton()
{
    const CDeviceList::ItemData moniker = m_audioList.GetItemData(m_audioList.GetCurSel());
    if (!moniker) {
        m_host.EnableSkinButton(kAudioButton, false);
        VLOG(kModule, "pMoniker == NULL\n");
        return;
    }
    std::shared_ptr<CCaptureFilter> device;
    if (FAILED(moniker->BindToObject(device)) || !device) {
        VLOG(kModule, "pDevice == NULL\n");
        return;
    }
    if (HasPropertyPages(device)) {
        m_host.EnableSkinButton(kAudioButton, true);
        VLOG(kModule, "오디오 속성페이지가 존재합니다.\n");
    } else {
        m_host.EnableSkinButton(kAudioButton, false);
        VLOG(kModule, "오디오 속성페이지가 존재하지 않습니다.\n");
    }
}

HRESULT CDeviceSelection::OnVideoProperty()
{
    if (m_Video.m_pCaptureGraphBuilder && m_Video.m_pVideoCapture) {
        VLOG(kModule, "Moniker init()\n");
        if (std::shared_ptr<CTVTuner> tuner = FindTVTuner()) {
            VLOG(kModule, "TVTuner init()\n");
            return ShowPropertyPages(tuner, &m_host);
        }
        VLOG(kModule, "TVTuner Failed\n");
    }
    const CDeviceList::ItemData moniker = m_videoList.GetItemData(m_videoList.GetCurSel());
    if (!moniker)
        return S_FALSE;
    std::shared_ptr<CCaptureFilter> device;
    const HRESULT hr = moniker->BindToObject(device);
    if (FAILED(hr))
        return hr;
    return ShowPropertyPages(device, &m_host);
}

HRESULT CDeviceSelection::OnAudioProperty()
{
    // The "no device" entry has no moniker to bind.
    const CDeviceList::ItemData moniker = m_audioList.GetItemData(m_audioList.GetCurSel());
    if (!moniker)
        return E_POINTER;
    std::shared_ptr<CCaptureFilter> device;
    const HRESULT hr = moniker->BindToObject(device);
    if (FAILED(hr))
        return hr;
    return ShowPropertyPages(device, &m_host);
}

void CDeviceSelection::OnVideoSelChange()
{
    SetVideoDevice();
    m_Video.RunGraph();
    UpdateVideoPropertyButton();
}

void CDeviceSelection::OnAudioSelChange()
{
    UpdateAudioPropertyButton();
}

HRESULT CDeviceSelection::ShowPropertyPages(const std::shared_ptr<CCaptureFilter> &filter,
                                            IDeviceSelectionHost *owner)
{
    if (!filter)
        return E_NOINTERFACE;
    std::unique_ptr<CDeviceControls> controls;
    const HRESULT hr = CDeviceControls::Open(filter, CDeviceControls::Kind::Device, controls);
    if (FAILED(hr))
        return hr;
    return owner ? owner->ShowPropertyFrame(*controls) : E_POINTER;
}

HRESULT CDeviceSelection::ShowPropertyPages(const std::shared_ptr<CTVTuner> &tuner, IDeviceSelectionHost *owner)
{
    if (!tuner || !tuner->Filter())
        return E_NOINTERFACE;
    std::unique_ptr<CDeviceControls> controls;
    const HRESULT hr = CDeviceControls::Open(tuner->Filter(), CDeviceControls::Kind::TVTuner, controls);
    if (FAILED(hr))
        return hr;
    return owner ? owner->ShowPropertyFrame(*controls) : E_POINTER;
}

int CDeviceSelection::HasPropertyPages(const std::shared_ptr<CCaptureFilter> &filter)
{
    return filter && CDeviceControls::HasControls(*filter) ? 1 : 0;
}
