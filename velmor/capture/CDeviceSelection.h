#pragma once
// The main window's device lists and their selection, kept free of widgets:
// fills the video and audio lists from the device categories, turns a
// selection into a capture graph, keeps the property buttons "btn_vp" and
// "btn_ap" up to date and opens the devices' property pages (a TV tuner's
// first). Log lines go to the main window's module ("VelmorDlg").
//
// The main window owns this object together with m_Video and m_Audio, binds
// its combo boxes (1010, 1011) to VideoList() / AudioList() and calls the
// operations on its own thread.
#include "CAudio.h"
#include "CDeviceControls.h"
#include "CDeviceList.h"
#include "CTVTuner.h"
#include "CVideo.h"
#include "IDeviceSelectionHost.h"

class CDeviceSelection {
public:
    CDeviceSelection(CVideo &video, CAudio &audio, IDeviceSelectionHost &host);

    static constexpr const char *kScreenCapture = "스크린 캡쳐";
    static constexpr const char *kNoDevice = "장치 없음";

    CDeviceList &VideoList() { return m_videoList; }
    CDeviceList &AudioList() { return m_audioList; }
    // 1 after a successful video build, 0 otherwise.
    int VideoReady() const { return m_bVideoReady; }

    void InsertVideoList();
    int InsertAudioList();
    HRESULT SetVideoDevice();
    int SetAudioDevice();
    void UpdateVideoPropertyButton();
    void UpdateAudioPropertyButton();
    HRESULT OnVideoProperty();
    HRESULT OnAudioProperty();

    // Selection changes of the two lists.
    void OnVideoSelChange();
    void OnAudioSelChange();

    // Property pages of a device or of a TV tuner, shown by the host.
    static HRESULT ShowPropertyPages(const std::shared_ptr<CCaptureFilter> &filter, IDeviceSelectionHost *owner);
    static HRESULT ShowPropertyPages(const std::shared_ptr<CTVTuner> &tuner, IDeviceSelectionHost *owner);
    static int HasPropertyPages(const std::shared_ptr<CCaptureFilter> &filter);

private:
    std::shared_ptr<CTVTuner> FindTVTuner() const;

    CVideo &m_Video;
    CAudio &m_Audio;
    IDeviceSelectionHost &m_host;
    CDeviceList m_videoList;
    CDeviceList m_audioList;
    int m_bVideoReady = 0;
};
