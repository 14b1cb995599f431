#pragma once
// Velmor's main window, in one of two roles for its whole life: the
// broadcaster (captures, serves the stream, hosts the chat room, tells the
// service when it goes on and off air) or the viewer (plays the host's
// stream after an optional advertisement and joins the chat room). It is
// drawn by the skin "Main" of Skin/Main.skn; its own controls (device lists,
// preview, banner) sit on the rectangles of named skin objects. Without its
// skin it is an ordinary framed window with the controls at their default
// places. Its system menu ends with the about item.
//
// Threads: everything here runs on the window thread. The capture and write
// threads share the sample queue (CSamplePath) and read the live and closing
// flags; the renderer hands pictures over with queued calls; the start-up
// worker posts the address notice.
#include "CDeviceSelection.h"
#include "CNetWrite.h"
#include "CRelayPublisher.h"
#include "CSamplePath.h"
#include "CSnapDialog.h"
#include "CommandLineArgs.h"
#include "IChatMainWindow.h"
#include "IDeviceSelectionHost.h"
#include "IPreviewTarget.h"
#include "WMPTypes.h"

#include <QLabel>
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class CAnimatedPicture;
class CControlDlg;
class CExploread;
class CLogWriteThread;
class CMediaPlayer;
class CSelectionCombo;
class CSkinObject;
class CSkinWidget;
class CVideoWindow;
class CVelmorDlg;

// Process-wide: the main window, and the advertisement flag (1 while an
// advertisement clip plays before the broadcast).
extern CVelmorDlg *g_pMainDlg;
extern std::atomic<std::int32_t> g_nAdvertisement;

// Routes the player's events to the main window's handlers.
class CWMPEventDispatch : public IWMPEvents {
public:
    explicit CWMPEventDispatch(CVelmorDlg &dlg) : m_dlg(dlg) {}
    void PlayStateChange(long newState) override;
    void Buffering(bool start) override;
    void OpenStateChange(long newState) override;
    void NewStream() override;
    void Disconnect(long result) override;
    void Warning(long type, long param, const std::string &description) override;
    void EndOfStream(long result) override;

    const std::string &Status() const { return m_status; }

private:
    CVelmorDlg &m_dlg;
    std::string m_status;
};

class CVelmorDlg : public CSnapDialog,
                   public IChatMainWindow,
                   public IDeviceSelectionHost,
                   public IPreviewTarget {
    Q_OBJECT
public:
    // Command identifiers the skin buttons carry.
    static constexpr int IDC_CMD = 1012;
    static constexpr int IDC_AUDIO_PROPERTY = 1016;
    static constexpr int IDC_VIDEO_PROPERTY = 1017;
    static constexpr const char *kPositionKey = "Software\\Quenta\\MainWindowArea\\Position";

    explicit CVelmorDlg(const CommandLineArgs &args, QWidget *parent = nullptr);
    ~CVelmorDlg() override;

    // The window's initialisation in its role. Returns false when the
    // program cannot run (the dialog has then already ended).
    bool OnInitDialog();

    // Skin helpers; all do nothing without a skin.
    CSkinObject *FindSkinObject(CSkinObject *parent, const QString &name) const;
    void SetSkinObjectVisible(const char *name, bool visible);
    void EnableSkinButton(const char *name, bool enabled) override;
    QRect GetSkinObjectRect(const char *name) const;
    QString GetSkinObjectCaption(const char *name) const;
    void SetSkinObjectCaption(const char *name, const QString &text);
    bool IsSkinButtonChecked(const char *name) const;

    // IChatMainWindow: each ends the program after its message.
    void OnChatConnectResult(int ok) override;
    void OnChatRoomClosed() override;
    void OnChatRoomFull() override;

    // IDeviceSelectionHost
    IPreviewTarget *PreviewTarget() override { return this; }
    HRESULT ShowPropertyFrame(CDeviceControls &controls) override;

    // IPreviewTarget: the video renderer paints into the preview control.
    PreviewRect GetClientRect() const override;
    void PresentFrame(const unsigned char *bottomUpBgr, int width, int height, int stride) override;

    // Skin events: 22 mouse down, 23 mouse up, 30 slider moved, 31 slider hover.
    void OnSkinMouseDown(CSkinObject *object, int button, int x, int y);
    void OnSkinMouseUp(CSkinObject *object, int button, int x, int y);
    void OnSkinSliderChanged(CSkinObject *object, int value);
    void OnSkinSliderHover(CSkinObject *object, int value);
    void OnSkinClick(CSkinObject *object, int button);
    // BN_CLICKED of the command button (1012).
    void OnCommandButton();
    // WM_USER+2: the port-forwarding notice (broadcaster only).
    void OnAddressNotice();
    // WM_USER+1 and the end of the viewer start-up: open the broadcast.
    void StartWatching();

    // Viewer: the player and its events.
    HRESULT CreatePlayer();
    void SetPlayerURL(const std::string &url);
    void SetupVolumeSlider();
    void OnMute();
    void OnPlayStateChange(long state);
    void OnBuffering(bool start);

    // The window rectangle in the registry.
    void RestoreWindowRect();
    void SaveWindowRect();

    // What tests look at.
    const CommandLineArgs &Args() const { return m_args; }
    CControlDlg *ControlDlg() const { return m_pControlDlg; }
    CNetWrite &NetWrite() { return m_NetWrite; }
    CSamplePath &SamplePath() { return m_SamplePath; }
    CRelayPublisher &Relay() { return m_Relay; }
    QLabel *RelayStatus() const { return m_relayStatus; }
    CDeviceSelection *Devices() const { return m_devices.get(); }
    CMediaPlayer *Player() const { return m_spWMPPlayer.get(); }
    CSkinWidget *Skin() const { return m_pSkin; }
    CSkinObject *SkinLayout() const { return m_pSkinLayout; }
    CSelectionCombo *VideoCombo() const { return m_videoCombo; }
    CSelectionCombo *AudioCombo() const { return m_audioCombo; }
    CAnimatedPicture *Preview() const { return m_preview; }
    CVideoWindow *VideoWindow() const { return m_videoWindow; }
    CExploread *Banner() const { return m_banner; }
    bool StreamReady() const { return m_streamReady; }

protected:
    void done(int result) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void ShowRoleControls(bool host);
    void PlaceOnSkin(QWidget *control, const char *name);
    void PlaceControlsOnSkin();
    void MeasureLayout();
    void ApplyLayout();
    void Relayout();
    void BindCombo(CSelectionCombo *combo, CDeviceList &list, bool video);
    void SetLive(bool live);
    void EndWithMessage(const char *text);
    void DestroyWindow();
    void PrepareBanner();
    // The broadcast relay: its address (the -relay option, else "RelayURL"
    // under the program's own registry key), and its state in the window.
    std::string RelayUrl() const;
    void StartRelay(const std::string &url);
    void ShowRelayState(RelayState state);
    void PlaceRelayStatus();

    CommandLineArgs m_args;

    // Declared in the order of the window's members: destroyed in reverse,
    // after the destructor has stopped the writer and released the graphs.
    CControlDlg *m_pControlDlg = nullptr;
    std::unique_ptr<CLogWriteThread> m_pLogWriteThread;
    CVideo m_Video;
    CAudio m_Audio;
    CNetWrite m_NetWrite;
    CSamplePath m_SamplePath{m_NetWrite};
    CRelayPublisher m_Relay;
    std::unique_ptr<CDeviceSelection> m_devices;

    CSkinWidget *m_pSkin = nullptr;
    CSkinObject *m_pSkinLayout = nullptr;
    CSelectionCombo *m_videoCombo = nullptr;
    CSelectionCombo *m_audioCombo = nullptr;
    CAnimatedPicture *m_preview = nullptr;
    CVideoWindow *m_videoWindow = nullptr;
    CExploread *m_banner = nullptr;
    QLabel *m_relayStatus = nullptr;

    std::unique_ptr<CMediaPlayer> m_spWMPPlayer;
    std::unique_ptr<CWMPEventDispatch> m_pEventDispatch;
    unsigned long m_dwCookie = 0;

    int m_nPressState = 0;
    int m_nPressButton = 0;
    std::vector<CSkinObject *> m_pressedObjects;

    struct Distances {
        QWidget *control;
        bool stretch;
        int left, top, right, bottom;
    };
    std::vector<Distances> m_layout;

    // VELMOR_STATUS_FILE: the viewer writes its player's state there twice a
    // second, for tests and diagnostics of a program running on its own.
    void WriteStatusFile();
    QTimer *m_statusTimer = nullptr;

    bool m_streamReady = false;
    bool m_destroyed = false;
};
