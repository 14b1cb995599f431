#include "CVelmorDlg.h"

#include "CAnimatedPicture.h"
#include "CControlDlg.h"
#include "CChatRichEd.h"
#include "CExploread.h"
#include "CLogFile.h"
#include "CLogWriteThread.h"
#include "CMediaPlayer.h"
#include "CPropertyFrame.h"
#include "CSelectionCombo.h"
#include "CSkinObject.h"
#include "CSkinWidget.h"
#include "CVideoWindow.h"
#include "FakeDeviceHook.h"
#include "WebQueries.h"
#include "WindowPosition.h"

#include "platform/MessageBox.h"
#include "platform/Process.h"
#include "platform/Registry.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

#include <cstdio>
#include <cstdlib>

CVelmorDlg *g_pMainDlg = nullptr;
std::atomic<std::int32_t> g_nAdvertisement{0};

namespace {

constexpr const char kModule[] = "VelmorDlg";
constexpr const char kCaptionStart[] = "방송시작";   // string 105
constexpr const char kCaptionStop[] = "방송중지";    // string 106
constexpr const char kCaptionLeave[] = "시청중지";   // string 107
constexpr const char kNoVideo[] = "비디오 장치를 프로그램에서 사용할수 없습니다.";
// The program's own registry key and the value that names a broadcast relay.
constexpr const char kProgramKey[] = "Software\\Quenta\\Velmor";
constexpr const char kRelayValue[] = "RelayURL";

QString Q(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

bool NameIs(const CSkinObject *object, const char *name)
{
    return object != nullptr && object->GetName().compare(Q(name), Qt::CaseInsensitive) == 0;
}

void DebugOutput(const char *format, long value)
{
    // The player's events go to the debugger output channel only.
    std::fprintf(stderr, format, value);
    std::fputc('\n', stderr);
}

} // namespace

// ---------------------------------------------------------------------------
// Player events

void CWMPEventDispatch::PlayStateChange(long newState)
{
    DebugOutput("PlayStateChange State: %ld", newState);
    m_dlg.OnPlayStateChange(newState);
}

void CWMPEventDispatch::Buffering(bool start)
{
    m_status = start ? "버퍼링중..." : "버퍼링 완료";
    m_dlg.OnBuffering(start);
}

void CWMPEventDispatch::OpenStateChange(long newState)
{
    DebugOutput("OpenStateChange State: %ld", newState);
}

void CWMPEventDispatch::NewStream()
{
    std::fputs("NewStream\n", stderr);
}

void CWMPEventDispatch::Disconnect(long)
{
    std::fputs("Disconnect\n", stderr);
}

void CWMPEventDispatch::Warning(long type, long param, const std::string &)
{
    std::fprintf(stderr, "Warning type: %ld param : %ld \n", type, param);
}

void CWMPEventDispatch::EndOfStream(long result)
{
    DebugOutput("EndOfStream result: %ld", result);
}

// ---------------------------------------------------------------------------

CVelmorDlg::CVelmorDlg(const CommandLineArgs &args, QWidget *parent) : CSnapDialog(parent), m_args(args)
{
    g_pMainDlg = this;
    setWindowTitle(QStringLiteral("Velmor 개인 방송"));
    setWindowIcon(QIcon(QStringLiteral(":/velmor/ui/velmor.png")));
    resize(560, 452);
}

CVelmorDlg::~CVelmorDlg()
{
    if (!m_destroyed)
        DestroyWindow();
    // The writer goes first (its thread writes what is still queued), then
    // the audio graph, then the video graph; the relay, asked to end its
    // stream when the window closed, has been doing so meanwhile.
    m_NetWrite.ReleaseWriter();
    m_Audio.ReleaseGraph();
    m_Video.ReleaseGraph();
    m_Relay.Stop();
    if (g_pMainDlg == this)
        g_pMainDlg = nullptr;
}

// ---------------------------------------------------------------------------
// Skin helpers

CSkinObject *CVelmorDlg::FindSkinObject(CSkinObject *parent, const QString &name) const
{
    if (parent == nullptr)
        return nullptr;
    for (int i = 0; i < parent->GetChildCount(); ++i) {
        CSkinObject *child = parent->GetChild(i);
        if (child && child->GetName().compare(name, Qt::CaseInsensitive) == 0)
            return child;
        if (CSkinObject *found = FindSkinObject(child, name))
            return found;
    }
    return nullptr;
}

void CVelmorDlg::SetSkinObjectVisible(const char *name, bool visible)
{
    if (CSkinObject *o = FindSkinObject(m_pSkinLayout, Q(name)))
        o->SetVisible(visible);
}

void CVelmorDlg::EnableSkinButton(const char *name, bool enabled)
{
    if (CSkinObject *o = FindSkinObject(m_pSkinLayout, Q(name)))
        o->SetEnabled(enabled);
}

QRect CVelmorDlg::GetSkinObjectRect(const char *name) const
{
    if (CSkinObject *o = FindSkinObject(m_pSkinLayout, Q(name)))
        return o->GetFormRect();
    return QRect();
}

QString CVelmorDlg::GetSkinObjectCaption(const char *name) const
{
    if (CSkinObject *o = FindSkinObject(m_pSkinLayout, Q(name)))
        return o->GetCaption();
    return QString();
}

void CVelmorDlg::SetSkinObjectCaption(const char *name, const QString &text)
{
    if (CSkinObject *o = FindSkinObject(m_pSkinLayout, Q(name))) {
        o->SetCaption(text);
        o->Refresh();
    }
}

bool CVelmorDlg::IsSkinButtonChecked(const char *name) const
{
    CSkinObject *o = FindSkinObject(m_pSkinLayout, Q(name));
    return o != nullptr && o->GetChecked();
}

// ---------------------------------------------------------------------------
// Initialisation

bool CVelmorDlg::OnInitDialog()
{
    // 1-2. The skin covers the window; "Main" from Skin/Main.skn.
    m_pSkin = new CSkinWidget(this);
    const QString skinPath = QString::fromStdString(platform::GetCurrentDirectory()) + QStringLiteral("/Skin/Main.skn");
    if (SUCCEEDED(m_pSkin->LoadSkinFile(skinPath)) && SUCCEEDED(m_pSkin->ApplySkin(QStringLiteral("Main")))) {
        m_pSkin->Refresh(-1);
        m_pSkinLayout = m_pSkin->GetRoot();
    }
    // The skin draws the caption; without it the window keeps the window
    // system's frame and title bar, so it can still be moved and closed.
    SetSkinned(m_pSkinLayout != nullptr);
    connect(m_pSkin, &CSkinWidget::SkinMouseDown, this, &CVelmorDlg::OnSkinMouseDown);
    connect(m_pSkin, &CSkinWidget::SkinMouseUp, this, &CVelmorDlg::OnSkinMouseUp);
    connect(m_pSkin, &CSkinWidget::SkinSliderChanged, this, &CVelmorDlg::OnSkinSliderChanged);
    connect(m_pSkin, &CSkinWidget::SkinSliderHover, this, &CVelmorDlg::OnSkinSliderHover);
    connect(m_pSkin, &CSkinWidget::SkinCommand, this, [this](int id) {
        if (id == IDC_CMD)
            OnCommandButton();
        else if (id == IDC_AUDIO_PROPERTY && m_devices)
            m_devices->OnAudioProperty();
        else if (id == IDC_VIDEO_PROPERTY && m_devices)
            m_devices->OnVideoProperty();
    });
    connect(m_pSkin, &CSkinWidget::SkinSystemCommand, this, [this](int command) {
        if (command == SKIN_SC_CLOSE)
            reject();
        else if (command == SKIN_SC_MINIMIZE)
            showMinimized();
    });
    ConnectSkinDrag(m_pSkin);

    // 4. The about item at the end of the system menu.
    AppendAboutItem(ServiceSiteUrl("/"));

    // The dialog's controls: device lists, preview, banner.
    m_videoCombo = new CSelectionCombo(this);
    m_audioCombo = new CSelectionCombo(this);
    m_preview = new CAnimatedPicture(this);
    m_videoWindow = new CVideoWindow(m_preview);
    m_banner = new CExploread(this);
    m_videoCombo->setGeometry(376, 90, 164, 24);
    m_audioCombo->setGeometry(376, 170, 164, 24);
    m_preview->setGeometry(14, 68, 340, 260);
    m_videoWindow->setGeometry(m_preview->rect());
    m_banner->setGeometry(12, 342, 536, 80);

    // 6. The chat window, hidden until the window is placed; gluing on.
    g_nClosing.store(0);
    if (m_pControlDlg == nullptr) {
        m_pControlDlg = new CControlDlg(this, this);
        if (!m_pControlDlg->Create(m_args)) {
            platform::ShowMessageBox("텍스트 윈도우 생성실패", "Velmor", platform::MB_OK);
            delete m_pControlDlg;
            m_pControlDlg = nullptr;
        } else {
            m_pControlDlg->AppendAboutItem(ServiceSiteUrl("/"));
            m_pControlDlg->hide();
        }
    }
    SetGluing(true);

    // 7. The start-up notice and the public-address check.
    m_pLogWriteThread = std::make_unique<CLogWriteThread>([this] {
        QMetaObject::invokeMethod(this, &CVelmorDlg::OnAddressNotice, Qt::QueuedConnection);
    });
    m_pLogWriteThread->CreateThread(m_args.start, m_args.curl);

    m_devices = std::make_unique<CDeviceSelection>(m_Video, m_Audio, *this);

    if (m_args.start == 1) {
        ShowRoleControls(true);
        VLOG(kModule, "방송을 시작하기전, 일시 정지 했을 경우 보여줄 이미지를 미리 로드해놓는다.\n");
        m_SamplePath.LoadPauseImage();

        m_Video.SetVideoSink(&VideoSampleSink);
        m_Audio.SetAudioSink(&AudioSampleSink);
        const std::string relayUrl = RelayUrl();
        if (!relayUrl.empty()) {
            // The relay takes the camera's own pictures, as large as it gives
            // them up to the relay's size, and the same sound.
            m_Video.SetSourceFrameSink(&RelayVideoSink);
            m_Video.SetLargestFormatWithin(CRelayPublisher::kMaxWidth, CRelayPublisher::kMaxHeight);
            m_Audio.SetAudioSink(&StreamAndRelayAudioSink);
        }
        BindCombo(m_videoCombo, m_devices->VideoList(), true);
        BindCombo(m_audioCombo, m_devices->AudioList(), false);
        VLOG(kModule, "시스템에 있는 비디오 리스트를 콤보박스에 로드한다.\n");
        m_devices->InsertVideoList();
        SelectFakeVideoDevice(m_devices->VideoList());
        VLOG(kModule, "시스템에있는 오디오 리스트를 콤보박스에 로드한다.\n");
        m_devices->InsertAudioList();
        VLOG(kModule, "선택한 비디오 장치로 셋팅한다.\n");
        m_devices->SetVideoDevice();
        VLOG(kModule, "선택한 오디오 장치로 셋팅한다.\n");
        m_devices->SetAudioDevice();

        SetSkinObjectVisible("btn_start", true);
        SetSkinObjectVisible("btn_end", false);
        SetSkinObjectVisible("btn_exit", false);

        VLOG(kModule, "방송 스트림을 준비한다.\n");
        if (FAILED(m_NetWrite.InitWriter(&m_SamplePath)) || FAILED(m_NetWrite.StartNetworkStream(m_args.elport))) {
            VLOG(kModule, "방송 스트림을 준비 실패.\n");
            return true; // the window stays open without a stream
        }
        m_streamReady = true;
        if (!relayUrl.empty())
            StartRelay(relayUrl);
        m_Video.RunGraph();
        SendOnAirNotice();
    } else if (m_args.start == 2) {
        SetSkinObjectVisible("btn_start", false);
        SetSkinObjectVisible("btn_end", false);
        SetSkinObjectVisible("btn_exit", true);
        ShowRoleControls(false);

        VLOG(kModule, "뷰어를 초기화 함.\n");
        const HRESULT hr = CreatePlayer();
        VLOG(kModule, "볼륨 설정.\n");
        SetupVolumeSlider();
        if (FAILED(hr)) {
            const std::string log = platform::GetCurrentDirectory() + "/velmor.log";
            const std::string text = "프로그램이 올바르게 실행할수 있는 환경이 아닙니다.\n안전하게 프로그램을 종료합니다.\n\"" +
                                     log + "\" 로그 파일을 확인하세요";
            platform::ShowMessageBox(text, "Velmor", platform::MB_OK | platform::MB_ICONEXCLAMATION);
            done(QDialog::Rejected);
            return false;
        }
        if (std::getenv("VELMOR_STATUS_FILE") != nullptr) {
            m_statusTimer = new QTimer(this);
            connect(m_statusTimer, &QTimer::timeout, this, &CVelmorDlg::WriteStatusFile);
            m_statusTimer->start(500);
        }
        VLOG(kModule, "광고를 조회함.\n");
        std::string clip;
        if (QueryAdvertisement(&clip)) {
            g_nAdvertisement.store(1);
            SetPlayerURL(clip);
        } else {
            VLOG(kModule, "광고가 없다면 바로 시청하러 들어간다.\n");
            StartWatching();
        }
    } else {
        ShowRoleControls(false);
        SetSkinObjectVisible("btn_start", false);
        SetSkinObjectVisible("btn_end", false);
        SetSkinObjectVisible("btn_exit", false);
        SetSkinObjectVisible("StcSlider", false);
    }

    // 10-13. Layout, placement, the chat window, the banner.
    MeasureLayout();
    ApplyLayout();
    RestoreWindowRect();
    if (m_pControlDlg)
        m_pControlDlg->show();
    PrepareBanner();
    return true;
}

void CVelmorDlg::PrepareBanner()
{
    // The browser's own border is cut off: 2 pixels grown on every side and
    // clipped back by the same.
    const QRect r = m_banner->geometry().adjusted(-2, -2, 2, 2);
    m_banner->setGeometry(r);
    m_banner->setMask(QRegion(QRect(2, 2, r.width() - 4, r.height() - 4)));
    m_banner->Navigate(ServiceSiteUrl("/ad/ad1.jsp"));
}

void CVelmorDlg::BindCombo(CSelectionCombo *combo, CDeviceList &list, bool video)
{
    // The widget mirrors the list model; a user's choice goes back to the
    // model and then to the selection-change handling.
    list.SetChangeListener([combo, &list] {
        const QSignalBlocker block(combo);
        combo->clear();
        for (int i = 0; i < list.GetCount(); ++i) {
            std::string text;
            list.GetLBText(i, text);
            combo->addItem(QString::fromStdString(text));
        }
        combo->setCurrentIndex(list.GetCurSel());
        combo->setEnabled(list.IsWindowEnabled());
    });
    connect(combo, &QComboBox::activated, this, [this, &list, video](int index) {
        if (index == list.GetCurSel())
            return;
        list.SetCurSel(index);
        if (video)
            m_devices->OnVideoSelChange();
        else
            m_devices->OnAudioSelChange();
    });
}

void CVelmorDlg::ShowRoleControls(bool host)
{
    m_videoCombo->setVisible(host);
    m_audioCombo->setVisible(host);
    if (m_pSkinLayout == nullptr)
        return;
    PlaceControlsOnSkin();
    SetSkinObjectVisible("device_panel", host);
    SetSkinObjectVisible("video_combo", host);
    SetSkinObjectVisible("audio_combo", host);
    SetSkinObjectVisible("btn_vp", host);
    SetSkinObjectVisible("btn_ap", host);
    SetSkinObjectVisible("StcSlider", !host);
}

void CVelmorDlg::PlaceOnSkin(QWidget *control, const char *name)
{
    const QRect r = GetSkinObjectRect(name);
    if (control != nullptr && r.isValid())
        control->setGeometry(r);
}

void CVelmorDlg::PlaceControlsOnSkin()
{
    if (m_pSkinLayout == nullptr)
        return;
    PlaceOnSkin(m_videoCombo, "video_combo");
    PlaceOnSkin(m_audioCombo, "audio_combo");
    PlaceOnSkin(m_preview, "view");
    PlaceOnSkin(m_banner, "banner");
    if (m_preview && m_videoWindow)
        m_videoWindow->setGeometry(m_preview->rect());
    if (m_banner && m_banner->mask().isEmpty() == false) {
        const QRect r = m_banner->geometry().adjusted(-2, -2, 2, 2);
        m_banner->setGeometry(r);
        m_banner->setMask(QRegion(QRect(2, 2, r.width() - 4, r.height() - 4)));
    }
}

void CVelmorDlg::MeasureLayout()
{
    // The distances of the controls to the client edges, recorded once.
    if (!m_layout.empty())
        return;
    const QRect client = rect();
    for (QWidget *w : {static_cast<QWidget *>(m_preview), static_cast<QWidget *>(m_videoCombo),
                       static_cast<QWidget *>(m_audioCombo), static_cast<QWidget *>(m_banner)}) {
        if (w == nullptr)
            continue;
        const QRect g = w->geometry();
        const bool stretch = w == m_preview || w == m_banner;
        m_layout.push_back({w, stretch, g.left(), g.top(), client.right() - g.right(), client.bottom() - g.bottom()});
    }
}

void CVelmorDlg::ApplyLayout()
{
    const QRect client = rect();
    for (const Distances &d : m_layout) {
        const QRect g = d.control->geometry();
        // The picture and the banner keep their distances to all four edges
        // and so grow with the window; the lists keep their size.
        QRect r(d.left, d.top, g.width(), g.height());
        if (d.stretch)
            r.setSize(QSize(std::max(1, client.width() - d.left - d.right),
                            std::max(1, client.height() - d.top - d.bottom)));
        d.control->setGeometry(r);
    }
}

void CVelmorDlg::Relayout()
{
    if (!m_layout.empty())
        ApplyLayout();
    PlaceControlsOnSkin();
    PlaceRelayStatus();
    if (m_videoWindow && m_preview)
        m_videoWindow->resize(m_preview->size());
}

void CVelmorDlg::resizeEvent(QResizeEvent *event)
{
    CSnapDialog::resizeEvent(event);
    Relayout();
}

void CVelmorDlg::changeEvent(QEvent *event)
{
    CSnapDialog::changeEvent(event);
    // Activated: the chat window goes right behind the main window.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_pControlDlg &&
        m_pControlDlg->isVisible() && QGuiApplication::platformName() != QStringLiteral("offscreen")) {
        m_pControlDlg->raise();
        raise();
    }
}

void CVelmorDlg::keyPressEvent(QKeyEvent *event)
{
    // Enter never closes the window.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    CSnapDialog::keyPressEvent(event);
}

void CVelmorDlg::closeEvent(QCloseEvent *event)
{
    event->accept();
    CSnapDialog::closeEvent(event);
}

// ---------------------------------------------------------------------------
// Skin events and commands

void CVelmorDlg::OnSkinMouseDown(CSkinObject *object, int button, int, int)
{
    if (!m_nPressState || m_nPressButton != button)
        m_pressedObjects.clear();
    m_nPressState = 1;
    m_nPressButton = button;
    m_pressedObjects.push_back(object);
}

void CVelmorDlg::OnSkinMouseUp(CSkinObject *, int button, int x, int y)
{
    if (m_nPressState && m_nPressButton == button) {
        CSkinObject *hit = nullptr;
        // Button-like objects first, then any other pressed object.
        for (int pass = 0; pass < 2 && hit == nullptr; ++pass) {
            for (CSkinObject *o : m_pressedObjects) {
                const bool buttonLike = o->GetKind() == SkinKind::Button || o->GetKind() == SkinKind::Check;
                if ((pass == 0) == buttonLike && o->HitTest(QPoint(x, y))) {
                    hit = o;
                    break;
                }
            }
        }
        m_nPressState = 0;
        m_pressedObjects.clear();
        if (hit != nullptr)
            OnSkinClick(hit, button);
        return;
    }
    m_nPressState = 0;
    m_pressedObjects.clear();
}

void CVelmorDlg::OnSkinClick(CSkinObject *object, int button)
{
    if (button != SKIN_LBUTTON || object == nullptr || !object->IsEnabled())
        return;
    if (NameIs(object, "btn_start")) {
        if (!m_devices || m_devices->VideoReady() == 0) {
            platform::ShowMessageBox(kNoVideo, "Velmor", platform::MB_OK | platform::MB_ICONEXCLAMATION);
            return;
        }
        SetLive(true);
        SetSkinObjectVisible("btn_start", false);
        SetSkinObjectVisible("btn_end", true);
        SetSkinObjectVisible("btn_exit", false);
    } else if (NameIs(object, "btn_end")) {
        SetLive(false);
        SetSkinObjectVisible("btn_start", true);
        SetSkinObjectVisible("btn_end", false);
        SetSkinObjectVisible("btn_exit", false);
    } else if (NameIs(object, "btn_exit")) {
        accept();
    } else if (NameIs(object, "btn_vp")) {
        if (m_devices)
            m_devices->OnVideoProperty();
    } else if (NameIs(object, "btn_ap")) {
        if (m_devices)
            m_devices->OnAudioProperty();
    } else if (NameIs(object, "bjtitle")) {
        platform::OpenWithSystemHandler(ServiceSiteUrl("/"));
    } else if (NameIs(object, "mute")) {
        OnMute();
    }
}

void CVelmorDlg::SetLive(bool live)
{
    g_nLive.store(live ? 1 : 0);
    m_videoCombo->setEnabled(!live);
    m_audioCombo->setEnabled(!live);
    if (m_devices) {
        m_devices->VideoList().EnableWindow(!live);
        m_devices->AudioList().EnableWindow(!live);
    }
}

void CVelmorDlg::OnCommandButton()
{
    const QString caption = GetSkinObjectCaption("btn_cmd");
    if (caption == Q(kCaptionLeave)) {
        accept();
        return;
    }
    if (!m_devices || m_devices->VideoReady() == 0) {
        platform::ShowMessageBox(kNoVideo, "Velmor", platform::MB_OK | platform::MB_ICONEXCLAMATION);
        return;
    }
    if (caption == Q(kCaptionStart)) {
        SetSkinObjectCaption("btn_cmd", Q(kCaptionStop));
        SetLive(true);
    } else if (caption == Q(kCaptionStop)) {
        SetSkinObjectCaption("btn_cmd", Q(kCaptionStart));
        SetLive(false);
    }
}

void CVelmorDlg::OnAddressNotice()
{
    if (m_args.start != 1 || m_pControlDlg == nullptr || m_pControlDlg->ChatDisplay() == nullptr)
        return;
    char text[512];
    std::snprintf(text, sizeof text,
                  "내부 아이피 환경은 방송하는데 제약이 따릅니다.\n상대방이 방송이 안보인다거나 텍스트 채팅에 로그인이 "
                  "안될경우%d, %d 2개의 포트를 포트포워딩 하시기 바랍니다.\r\n",
                  m_args.lport, m_args.elport);
    m_pControlDlg->ChatDisplay()->AddText(text, qRgb(255, 120, 0), 170, false);
}

// ---------------------------------------------------------------------------
// Chat reports: each ends the program.

void CVelmorDlg::EndWithMessage(const char *text)
{
    platform::ShowMessageBox(text, "Velmor", platform::MB_OK | platform::MB_ICONEXCLAMATION);
    done(QDialog::Rejected);
}

void CVelmorDlg::OnChatConnectResult(int ok)
{
    if (ok == 0)
        EndWithMessage("서버 연결에 실패하였습니다.\n안전하게 프로그램을 종료합니다.");
}

void CVelmorDlg::OnChatRoomClosed()
{
    EndWithMessage("방장이 방을 종료 하였습니다.\n안전하게 프로그램을 종료합니다.");
}

void CVelmorDlg::OnChatRoomFull()
{
    EndWithMessage("접속인원이 초과되었습니다.\n안전하게 프로그램을 종료합니다.");
}

// ---------------------------------------------------------------------------
// Capture host side

HRESULT CVelmorDlg::ShowPropertyFrame(CDeviceControls &controls)
{
    CPropertyFrame frame(controls, this);
    frame.exec();
    return S_OK;
}

PreviewRect CVelmorDlg::GetClientRect() const
{
    PreviewRect r;
    if (m_preview) {
        r.right = m_preview->width();
        r.bottom = m_preview->height();
    }
    return r;
}

void CVelmorDlg::PresentFrame(const unsigned char *bottomUpBgr, int width, int height, int stride)
{
    if (bottomUpBgr == nullptr || width <= 0 || height <= 0)
        return;
    // Bottom-up BGR rows: the first row in memory is the picture's last.
    QImage frame = QImage(bottomUpBgr, width, height, stride, QImage::Format_BGR888).mirrored(false, true);
    QMetaObject::invokeMethod(
        this,
        [this, frame] {
            if (m_videoWindow)
                m_videoWindow->SetFrame(frame);
        },
        Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------
// Viewer

HRESULT CVelmorDlg::CreatePlayer()
{
    auto player = std::make_unique<CMediaPlayer>();
    HRESULT hr = player->Create();
    if (FAILED(hr)) {
        VLOG(kModule, "CreateControl() error (hr=0x%08x).\n", static_cast<unsigned>(hr));
        return hr;
    }
    m_pEventDispatch = std::make_unique<CWMPEventDispatch>(*this);
    hr = player->Advise(m_pEventDispatch.get(), &m_dwCookie);
    if (FAILED(hr)) {
        VLOG(kModule, "m_spConnectionPoint->Advise() error (hr=0x%08x).\n", static_cast<unsigned>(hr));
        return hr;
    }
    player->SetVideoTarget([this](const QImage &frame) {
        if (m_videoWindow)
            m_videoWindow->SetFrame(frame);
    });
    m_spWMPPlayer = std::move(player);
    if (m_videoWindow) {
        m_videoWindow->setGeometry(m_preview->rect());
        m_videoWindow->show();
    }
    return S_OK;
}

void CVelmorDlg::SetPlayerURL(const std::string &url)
{
    if (m_spWMPPlayer)
        m_spWMPPlayer->put_URL(url);
}

void CVelmorDlg::StartWatching()
{
    char url[300];
    std::snprintf(url, sizeof url, "http://%s:%d", m_args.ceurl, m_args.ceport);
    SetPlayerURL(url);
}

void CVelmorDlg::SetupVolumeSlider()
{
    CSkinObject *slider = FindSkinObject(m_pSkinLayout, QStringLiteral("SliderSound"));
    if (slider == nullptr) {
        VLOG(kModule, "pSlider 객체 찾기 실패\n");
        return;
    }
    if (slider->GetKind() != SkinKind::Slider) {
        VLOG(kModule, "ISkinScrollBar 객체 찾기 실패\n");
        return;
    }
    if (!m_spWMPPlayer) {
        VLOG(kModule, "m_spWMPPlayer == NULL\n");
        return;
    }
    long volume = 0;
    if (FAILED(m_spWMPPlayer->get_volume(&volume))) {
        VLOG(kModule, "볼륨을 얻어내는데 실패\n");
        return;
    }
    slider->SetRange(0, 100);
    slider->SetValue(static_cast<int>(volume));
}

void CVelmorDlg::OnSkinSliderChanged(CSkinObject *object, int value)
{
    if (!NameIs(object, "SliderSound"))
        return;
    if (!m_spWMPPlayer) {
        VLOG(kModule, "m_spWMPPlayer == NULL\n");
        return;
    }
    if (FAILED(m_spWMPPlayer->put_volume(value)))
        VLOG(kModule, "볼륨을 설정하는데 실패\n");
}

void CVelmorDlg::OnSkinSliderHover(CSkinObject *object, int value)
{
    if (!NameIs(object, "SliderSound"))
        return;
    object->SetTooltip(QStringLiteral("볼륨 : %1").arg(value));
}

void CVelmorDlg::OnMute()
{
    const bool checked = IsSkinButtonChecked("mute");
    if (!m_spWMPPlayer) {
        VLOG(kModule, "m_spWMPPlayer == NULL\n");
        return;
    }
    if (!checked) {
        if (FAILED(m_spWMPPlayer->put_mute(true)))
            VLOG(kModule, "음소거 하는데 실패\n");
    } else if (FAILED(m_spWMPPlayer->put_mute(false))) {
        VLOG(kModule, "음소서 해제하는데 실패\n");
    }
}

void CVelmorDlg::OnPlayStateChange(long state)
{
    if (state != wmppsStopped)
        return;
    if (m_videoWindow)
        m_videoWindow->show();
    if (g_nAdvertisement.load() != 0) {
        g_nAdvertisement.store(0);
        // WM_USER+1: start watching once this event has been handled.
        QMetaObject::invokeMethod(this, &CVelmorDlg::StartWatching, Qt::QueuedConnection);
    }
}

void CVelmorDlg::OnBuffering(bool start)
{
    if (start) {
        if (m_videoWindow)
            m_videoWindow->hide();
        if (m_preview && m_preview->Load(QStringLiteral(":/gif/158")))
            m_preview->Draw();
    } else {
        if (m_preview)
            m_preview->UnLoad();
        if (m_videoWindow) {
            m_videoWindow->show();
            m_videoWindow->repaint();
        }
    }
}

void CVelmorDlg::WriteStatusFile()
{
    const char *path = std::getenv("VELMOR_STATUS_FILE");
    if (path == nullptr || !m_spWMPPlayer)
        return;
    const std::string tmp = std::string(path) + ".tmp";
    if (FILE *f = std::fopen(tmp.c_str(), "w")) {
        std::fprintf(f,
                     "state=%ld\nframes=%llu\nurls=%zu\nurl=%s\nopened_ns=%lld\nfirst_decoded_ns=%lld\n"
                     "first_picture_ns=%lld\nbuffering_starts=%llu\n",
                     m_spWMPPlayer->playState(), m_spWMPPlayer->FramesDecoded(),
                     m_spWMPPlayer->OpenedURLs().size(), m_spWMPPlayer->URL().c_str(),
                     m_spWMPPlayer->OpenedAtNs(), m_spWMPPlayer->FirstDecodedAtNs(),
                     m_spWMPPlayer->FirstPictureAtNs(), m_spWMPPlayer->BufferingStarts());
        std::fclose(f);
        std::rename(tmp.c_str(), path);
    }
}

// ---------------------------------------------------------------------------
// Broadcast relay

std::string CVelmorDlg::RelayUrl() const
{
    // The command line wins; a web page never sets either.
    if (!m_args.relay.empty())
        return m_args.relay;
    platform::RegistryKey key;
    if (FAILED(platform::RegistryKey::Open(platform::RegRoot::HKCU, kProgramKey, key)))
        return std::string();
    return key.ReadString(kRelayValue).value_or(std::string());
}

void CVelmorDlg::StartRelay(const std::string &url)
{
    m_relayStatus = new QLabel(this);
    m_relayStatus->setObjectName(QStringLiteral("relay_status"));
    m_relayStatus->setWordWrap(true);
    m_relayStatus->setAlignment(Qt::AlignCenter);
    QFont font = m_relayStatus->font();
    font.setPointSize(8);
    m_relayStatus->setFont(font);
    PlaceRelayStatus();
    m_relayStatus->show();
    m_relayStatus->raise();
    if (m_SamplePath.PauseImageSize() == CVideo::kFrameWidth * CVideo::kFrameHeight * 3)
        m_Relay.SetPauseImage(m_SamplePath.PauseImage(), CVideo::kFrameWidth, CVideo::kFrameHeight);
    // Called on the relay's thread: the window shows it on its own.
    m_Relay.SetStateObserver([this](RelayState state) {
        QMetaObject::invokeMethod(
            this, [this, state] { ShowRelayState(state); }, Qt::QueuedConnection);
    });
    m_Relay.Start(url);
    ShowRelayState(m_Relay.State());
}

void CVelmorDlg::ShowRelayState(RelayState state)
{
    if (m_relayStatus == nullptr)
        return;
    const char *colour = state == RelayState::Publishing ? "#1E7B34"
                         : state == RelayState::Connecting ? "#34538A"
                                                            : "#B04E12";
    m_relayStatus->setStyleSheet(QStringLiteral("QLabel { color: %1; background: #FFFFFF; border: 1px solid "
                                                "#8DA2C6; border-radius: 3px; padding: 2px; }")
                                     .arg(QString::fromLatin1(colour)));
    const QString where = state == RelayState::Invalid
                              ? Q(MaskRelayKey(RelayUrl()).c_str())
                              : QString::fromStdString(m_Relay.Address().host + ":" +
                                                       std::to_string(m_Relay.Address().port) + "/" +
                                                       m_Relay.Address().app);
    m_relayStatus->setText(Q(RelayStateText(state)) + QStringLiteral("\n") + where);
    m_relayStatus->setToolTip(where);
}

void CVelmorDlg::PlaceRelayStatus()
{
    if (m_relayStatus == nullptr)
        return;
    // Below the command buttons, a place the skin leaves empty; without a
    // skin, where those buttons would be.
    const QRect buttons = GetSkinObjectRect("btn_start");
    const QRect r = buttons.isValid() ? QRect(buttons.left(), buttons.bottom() + 10, buttons.width(), 40)
                                      : QRect(width() - 194, 290, 184, 40);
    m_relayStatus->setGeometry(r);
}

// ---------------------------------------------------------------------------
// Window rectangle

void CVelmorDlg::RestoreWindowRect()
{
    platform::RegistryKey key;
    if (FAILED(platform::RegistryKey::Create(platform::RegRoot::HKCU, kPositionKey, key)))
        return;
    const QRect current = frameGeometry();
    const int fallback[4] = {current.left(), current.top(), current.left() + current.width(),
                             current.top() + current.height()};
    const char *names[4] = {"Left", "Top", "Right", "Bottom"};
    int v[4];
    bool allMinusOne = true;
    for (int i = 0; i < 4; ++i) {
        const std::optional<DWORD> stored = key.ReadDword(names[i]);
        v[i] = stored ? static_cast<int>(*stored) : fallback[i];
        allMinusOne = allMinusOne && stored && v[i] == -1;
    }
    if (allMinusOne)
        return; // minimised when it was saved: keep the default place
    // A rectangle without area would make the window vanish: keep the size.
    const int width = v[2] - v[0] > 0 ? v[2] - v[0] : current.width();
    const int height = v[3] - v[1] > 0 ? v[3] - v[1] : current.height();
    SetWindowRect(QRect(v[0], v[1], width, height));
    update();
}

void CVelmorDlg::SaveWindowRect()
{
    StoreWindowPosition(*this, kPositionKey);
}

// ---------------------------------------------------------------------------
// Closing

void CVelmorDlg::done(int result)
{
    if (!m_destroyed)
        DestroyWindow();
    CSnapDialog::done(result);
}

void CVelmorDlg::DestroyWindow()
{
    m_destroyed = true;
    if (m_args.start == 1)
        SendOffAirNotice();
    g_nClosing.store(1);
    // The relay's stream ends while the rest of the window closes.
    m_Relay.RequestStop();
    SaveWindowRect();
    // The chat window closes its sockets and joins its threads.
    delete m_pControlDlg;
    m_pControlDlg = nullptr;
    if (m_devices) {
        m_devices->VideoList().SetChangeListener(nullptr);
        m_devices->AudioList().SetChangeListener(nullptr);
    }
    if (m_spWMPPlayer) {
        m_spWMPPlayer->Unadvise(m_dwCookie);
        m_spWMPPlayer->close();
        m_spWMPPlayer.reset();
    }
    if (m_preview)
        m_preview->UnLoad();
    if (m_banner)
        m_banner->Stop();
    if (m_pLogWriteThread)
        m_pLogWriteThread->Stop();
}
