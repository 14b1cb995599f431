// The broadcaster's main window in this process, against the stand-in
// service site, the in-process test devices and real players (ffprobe and
// ffmpeg) reading its stream over loopback.
#include "CAboutDlg.h"
#include "CControlDlg.h"
#include "CExploread.h"
#include "CLinkTicker.h"
#include "CChatRichEd.h"
#include "CLogFile.h"
#include "CSelectionCombo.h"
#include "CSkinObject.h"
#include "CSkinWidget.h"
#include "CVelmorDlg.h"
#include "RunProgram.h"
#include "ServiceSite.h"
#include "TestDevices.h"
#include "TestDir.h"
#include "WebQueries.h"

#include "platform/CodePage.h"
#include "platform/MessageBox.h"
#include "platform/Registry.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <fstream>

#include "WindowTest.h"

#include <gtest/gtest.h>

namespace {




// One decoded picture of the stream, a few frames in, as RGB bytes.
QImage GrabFrame(const std::string &url, const std::filesystem::path &dir)
{
    const std::filesystem::path raw = dir / "frame.rgb";
    std::filesystem::remove(raw);
    ProgramResult r = RunProgram("/usr/bin/ffmpeg",
                                 {"-loglevel", "error", "-i", url, "-vf", "select=gte(n\\,3)", "-frames:v", "1",
                                  "-f", "rawvideo", "-pix_fmt", "rgb24", "-y", raw.string()},
                                 dir, {}, 20000);
    const std::string bytes = TestDir::Read(raw);
    if (bytes.size() != 320u * 240u * 3u)
        return QImage();
    return QImage(reinterpret_cast<const uchar *>(bytes.data()), 320, 240, 320 * 3, QImage::Format_RGB888).copy();
}

bool IsMostlyRed(const QColor &c)
{
    return c.red() > 180 && c.green() < 80 && c.blue() < 80;
}

class MainWindow : public WindowTest {
protected:
    MainWindow() : WindowTest("mainwnd") {}

    void SetUp() override
    {
        WindowTest::SetUp();
        testdevices::SetFakeDevices({Red("Test Camera"), testdevices::Microphone("Test Mic", "audio/x-raw,format=S16LE,rate=32000,channels=2")});
    }
    void TearDown() override
    {
        WindowTest::TearDown();
        g_nLive.store(0);
    }

    static testdevices::FakeDevice Red(const std::string &name)
    {
        testdevices::FakeDevice cam = testdevices::Camera(name, "video/x-raw,format=BGR,width=320,height=240,framerate=15/1");
        cam.pattern = "red";
        return cam;
    }

    void Open(int start)
    {
        WindowTest::Open("-start " + std::to_string(start) + " -lport " + std::to_string(lport) + " -elport " +
                         std::to_string(elport) + " -onairrul " + site.BaseUrl() + "/OnAir.jsp?Room=7 -offairurl " +
                         site.BaseUrl() + "/OffAir.jsp");
    }
    std::string StreamUrl() const { return "http://127.0.0.1:" + std::to_string(elport) + "/"; }

    CSkinObject *Object(const char *name) { return dlg->FindSkinObject(dlg->SkinLayout(), QString::fromUtf8(name)); }

    // Presses and releases a mouse button on a skin object.
    void Click(const char *name, Qt::MouseButton press = Qt::LeftButton, Qt::MouseButton release = Qt::LeftButton)
    {
        CSkinObject *o = Object(name);
        ASSERT_NE(o, nullptr) << name;
        const QPoint at = o->GetFormRect().center();
        QTest::mousePress(dlg->Skin(), press, Qt::NoModifier, at);
        QTest::mouseRelease(dlg->Skin(), release, Qt::NoModifier, at);
        Pump(50);
    }

    void SelectCamera()
    {
        Q_EMIT dlg->VideoCombo()->activated(1);
        Pump(100);
    }

};

} // namespace

TEST_F(MainWindow, BroadcasterServesTheStreamAndGoesOnAir)
{
    Open(1);
    ASSERT_TRUE(opened);
    ASSERT_TRUE(dlg->StreamReady());
    ASSERT_TRUE(site.WaitFor("/onair.jsp"));
    EXPECT_EQ(site.RequestsFor("/onair.jsp")[0].query, "room=7");
    ProgramResult probe = RunProgram("/usr/bin/ffprobe", {"-hide_banner", "-show_streams", StreamUrl()}, dir.path(), {}, 20000);
    EXPECT_NE(probe.out.find("codec_name=wmv2"), std::string::npos) << probe.err;
    EXPECT_NE(probe.out.find("codec_name=wmav2"), std::string::npos);
    EXPECT_NE(probe.out.find("width=320"), std::string::npos);
    // The chat window came up beside it, and the banner asked for its page.
    ASSERT_NE(dlg->ControlDlg(), nullptr);
    EXPECT_TRUE(dlg->ControlDlg()->isVisible());
    EXPECT_TRUE(site.WaitFor("/ad/ad1.jsp"));
    const std::string log = LogText();
    EXPECT_NE(log.find("방송 스트림을 준비한다.\n"), std::string::npos);
    EXPECT_EQ(log.find("방송 스트림을 준비 실패."), std::string::npos);
}

TEST_F(MainWindow, PortForwardingNoticeOnlyWhenAddressesDiffer)
{
    site.Answer("/login/getGlobalIP.jsp", "<start>203.0.113.9<end>\r\n");
    Open(1);
    ASSERT_TRUE(opened);
    CChatRichEd *display = dlg->ControlDlg()->ChatDisplay();
    const QString ports = QStringLiteral("%1, %2 2개의 포트를 포트포워딩").arg(lport).arg(elport);
    ASSERT_TRUE(PumpUntil([&] { return display->toPlainText().contains(ports); }, 10000))
        << display->toPlainText().toStdString();
    // Both lines of the notice: every run RGB(255, 120, 0) at 170 twips
    // (8.5 points), not bold, and no paragraph indent.
    int blocks = 0;
    for (QTextBlock b = display->document()->begin(); b.isValid(); b = b.next()) {
        if (!b.text().contains(QStringLiteral("내부 아이피 환경은")) && !b.text().contains(ports))
            continue;
        ++blocks;
        EXPECT_EQ(b.blockFormat().leftMargin(), 0.0) << b.text().toStdString();
        EXPECT_EQ(b.blockFormat().textIndent(), 0.0);
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            EXPECT_EQ(f.foreground().color(), QColor(255, 120, 0)) << it.fragment().text().toStdString();
            EXPECT_DOUBLE_EQ(f.font().pointSizeF(), 8.5);
            EXPECT_FALSE(f.font().bold());
        }
    }
    EXPECT_EQ(blocks, 2);
    dlg.reset();

    site.Answer("/login/getGlobalIP.jsp", "<start>" + GetLocalAddress() + "<end>\r\n");
    const std::size_t asked = site.RequestsFor("/login/getGlobalIP.jsp").size();
    Open(1);
    ASSERT_TRUE(site.WaitFor("/login/getGlobalIP.jsp", asked + 1));
    Pump(500);
    EXPECT_FALSE(dlg->ControlDlg()->ChatDisplay()->toPlainText().contains(QStringLiteral("포트포워딩")));
}

TEST_F(MainWindow, StartAndEndSwitchBetweenPausePictureAndCamera)
{
    Open(1);
    ASSERT_TRUE(opened);
    SelectCamera();
    ASSERT_EQ(dlg->Devices()->VideoList().GetCurSel(), 1);
    ASSERT_EQ(dlg->Devices()->VideoReady(), 1);

    QImage paused = GrabFrame(StreamUrl(), dir.path());
    ASSERT_FALSE(paused.isNull());
    EXPECT_FALSE(IsMostlyRed(paused.pixelColor(160, 120)));

    Click("btn_start");
    EXPECT_EQ(g_nLive.load(), 1);
    EXPECT_FALSE(Object("btn_start")->IsVisible());
    EXPECT_TRUE(Object("btn_end")->IsVisible());
    EXPECT_FALSE(dlg->VideoCombo()->isEnabled());
    Pump(1200);
    QImage live = GrabFrame(StreamUrl(), dir.path());
    ASSERT_FALSE(live.isNull());
    EXPECT_TRUE(IsMostlyRed(live.pixelColor(160, 120))) << live.pixelColor(160, 120).name().toStdString();

    Click("btn_end");
    EXPECT_EQ(g_nLive.load(), 0);
    EXPECT_TRUE(dlg->VideoCombo()->isEnabled());
    Pump(1200);
    QImage pausedAgain = GrabFrame(StreamUrl(), dir.path());
    ASSERT_FALSE(pausedAgain.isNull());
    EXPECT_FALSE(IsMostlyRed(pausedAgain.pixelColor(160, 120)));
}

TEST_F(MainWindow, ClickNeedsTheSameButtonAndTheLeftOne)
{
    Open(1);
    ASSERT_TRUE(opened);
    Click("btn_start", Qt::LeftButton, Qt::RightButton);
    EXPECT_EQ(g_nLive.load(), 0);
    Click("btn_start", Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(g_nLive.load(), 0);
    EXPECT_TRUE(Object("btn_start")->IsVisible());
    Click("btn_start");
    EXPECT_EQ(g_nLive.load(), 1);
}

TEST_F(MainWindow, StartWithoutVideoGraphShowsMessageAndStaysPaused)
{
    testdevices::FakeDevice broken = Red("Broken Camera");
    broken.bindable = false;
    testdevices::SetFakeDevices({broken});
    Open(1);
    SelectCamera();
    ASSERT_EQ(dlg->Devices()->VideoReady(), 0);
    Click("btn_start");
    EXPECT_EQ(g_nLive.load(), 0);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "비디오 장치를 프로그램에서 사용할수 없습니다.");
    EXPECT_TRUE(Object("btn_start")->IsVisible());
}

TEST_F(MainWindow, StreamPortInUseKeepsTheWindowWithoutStream)
{
    // Hold the stream port.
    int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<uint16_t>(elport));
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    Open(1);
    EXPECT_TRUE(opened);
    EXPECT_FALSE(dlg->StreamReady());
    EXPECT_TRUE(dlg->isVisible());
    Pump(300);
    const std::string log = LogText();
    EXPECT_NE(log.find("IWMWriterNetworkSink::Open error"), std::string::npos);
    EXPECT_NE(log.find("방송 스트림을 준비 실패.\n"), std::string::npos);
    EXPECT_TRUE(site.RequestsFor("/onair.jsp").empty());
    ::close(holder);
}

TEST_F(MainWindow, CloseSendsOffAirAndWritesEveryQueuedSample)
{
    Open(1);
    ASSERT_TRUE(site.WaitFor("/onair.jsp"));
    Pump(800);
    dlg->reject();
    EXPECT_EQ(site.RequestsFor("/offair.jsp").size(), 1u);
    // After the close the writer drains the queue and ends.
    dlg->NetWrite().ReleaseWriter();
    CSamplePath &path = dlg->SamplePath();
    EXPECT_GT(path.BlocksQueued(), 0u);
    EXPECT_EQ(path.BlocksQueued(), path.BlocksWritten() + path.VideoBlocksDropped());
    EXPECT_EQ(path.QueuedBlocks(), 0u);
}

TEST_F(MainWindow, MinimisedAtCloseStoresMinusOneAndKeepsDefaultPlaceNextTime)
{
    Open(1);
    dlg->showMinimized();
    Pump(50);
    dlg->reject();
    dlg.reset();
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::Open(platform::RegRoot::HKCU, CVelmorDlg::kPositionKey, key), S_OK);
    for (const char *name : {"Left", "Top", "Right", "Bottom"})
        EXPECT_EQ(key.ReadDword(name).value_or(0), 0xFFFFFFFFu) << name;
    Open(1);
    EXPECT_GT(dlg->width(), 100);
    EXPECT_GT(dlg->height(), 100);
}

TEST_F(MainWindow, SavedRectangleComesBackAndMissingValuesFallBack)
{
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::Create(platform::RegRoot::HKCU, CVelmorDlg::kPositionKey, key), S_OK);
    key.WriteDword("Left", 40);
    key.WriteDword("Top", 30);
    key.WriteDword("Right", 640);
    key.WriteDword("Bottom", 530);
    Open(0);
    EXPECT_EQ(dlg->frameGeometry().topLeft(), QPoint(40, 30));
    EXPECT_EQ(dlg->frameGeometry().size(), QSize(600, 500));
    dlg.reset();

    // Only Left and Top stored: right and bottom come from the window itself.
    std::filesystem::remove_all(dir.path() / "registry");
    ASSERT_EQ(platform::RegistryKey::Create(platform::RegRoot::HKCU, CVelmorDlg::kPositionKey, key), S_OK);
    key.WriteDword("Left", 10);
    key.WriteDword("Top", 20);
    Open(0);
    EXPECT_EQ(dlg->frameGeometry().topLeft(), QPoint(10, 20));
    EXPECT_GT(dlg->width(), 100);
}

TEST_F(MainWindow, EnterDoesNotCloseAndStartZeroHasNoRole)
{
    Open(0);
    ASSERT_TRUE(opened);
    QTest::keyClick(dlg.get(), Qt::Key_Return);
    QTest::keyClick(dlg.get(), Qt::Key_Enter);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->Player(), nullptr);
    EXPECT_FALSE(dlg->VideoCombo()->isVisible());
    EXPECT_FALSE(Object("device_panel")->IsVisible());
    EXPECT_NE(dlg->ControlDlg(), nullptr);
    EXPECT_FALSE(dlg->StreamReady());
}

namespace {

QAction *MenuItem(const QMenu *menu, int id)
{
    for (QAction *a : menu->actions())
        if (!a->isSeparator() && a->data().toInt() == id)
            return a;
    return nullptr;
}

// Chooses the about item of `window`'s menu and checks the box it opens:
// modal, over that window, its link text already scrolling.
void ExpectAboutBox(CSnapDialog &window)
{
    QAction *about = MenuItem(window.SystemMenu(), CSnapDialog::IDM_ABOUTBOX);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), QStringLiteral("Velmor 정보(&A)..."));
    EXPECT_EQ(window.SystemMenu()->actions().last(), about);
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<CAboutDlg *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen = true;
        EXPECT_EQ(box->parentWidget(), &window);
        EXPECT_TRUE(box->Ticker()->IsRunning());
        box->accept();
    });
    about->trigger();
    EXPECT_TRUE(seen);
}

} // namespace

TEST_F(MainWindow, WithoutTheirSkinsBothWindowsGetAFrameAndTheMenuReachesTheAboutBox)
{
    // Main.skn missing, Control.skn broken.
    std::filesystem::remove(ProgramDir() / "Skin" / "Main.skn");
    {
        std::ofstream broken(ProgramDir() / "Skin" / "Control.skn", std::ios::trunc);
        broken << "}\n";
    }
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::Create(platform::RegRoot::HKCU, CVelmorDlg::kPositionKey, key), S_OK);
    key.WriteDword("Left", 40);
    key.WriteDword("Top", 30);
    key.WriteDword("Right", 640);
    key.WriteDword("Bottom", 530);
    Open(0);
    ASSERT_TRUE(opened);
    ASSERT_EQ(dlg->SkinLayout(), nullptr);
    // The stored rectangle is the whole window, frame included.
    Pump(50);
    EXPECT_EQ(dlg->frameGeometry(), QRect(40, 30, 600, 500));
    ASSERT_NE(dlg->ControlDlg(), nullptr);
    ASSERT_EQ(dlg->ControlDlg()->SkinRoot(), nullptr);
    for (CSnapDialog *w : {static_cast<CSnapDialog *>(dlg.get()), static_cast<CSnapDialog *>(dlg->ControlDlg())}) {
        EXPECT_FALSE(w->windowFlags() & Qt::FramelessWindowHint);
        EXPECT_TRUE(w->windowFlags() & Qt::WindowTitleHint);
        EXPECT_TRUE(w->windowFlags() & Qt::WindowCloseButtonHint);
    }
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Velmor 개인 방송"));

    // Alt+Space opens the menu at the client area's top-left corner.
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    QTest::keyClick(dlg.get(), Qt::Key_Space, Qt::AltModifier);
    ASSERT_TRUE(dlg->SystemMenu()->isVisible());
    EXPECT_EQ(dlg->SystemMenu()->pos(), dlg->mapToGlobal(QPoint(0, 0)));
    dlg->SystemMenu()->hide();
    ExpectAboutBox(*dlg);
    ExpectAboutBox(*dlg->ControlDlg());
    EXPECT_TRUE(dlg->isVisible());
    // "닫기" ends the main window like its close box.
    MenuItem(dlg->SystemMenu(), CSnapDialog::SC_CLOSE)->trigger();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->ControlDlg(), nullptr);
}

TEST_F(MainWindow, ARightClickOnTheSkinsCaptionOpensTheSystemMenu)
{
    Open(0);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(dlg->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(dlg->ControlDlg()->windowFlags() & Qt::FramelessWindowHint);
    QMenu *menu = dlg->SystemMenu();
    // The title bar, not the room title below it.
    Click("bjtitle", Qt::RightButton, Qt::RightButton);
    EXPECT_FALSE(menu->isVisible());
    CSkinObject *caption = Object("caption");
    ASSERT_NE(caption, nullptr);
    const QPoint at = caption->GetFormRect().center();
    QTest::mouseClick(dlg->windowHandle(), Qt::RightButton, {}, at);
    ASSERT_TRUE(menu->isVisible());
    EXPECT_EQ(menu->pos(), dlg->mapToGlobal(at));
    menu->hide();
    ExpectAboutBox(*dlg);
}

TEST_F(MainWindow, BannerLinksOpenOnlyWebAddresses)
{
    site.Answer("/ad/ad1.jsp",
                "<html><body>"
                "<p><a href=\"file:///etc/passwd\">FILELINK</a></p>"
                "<p><a href=\"javascript:alert(1)\">SCRIPTLINK</a></p>"
                "<p><a href=\"/event.jsp?id=3\">RELATIVELINK</a></p>"
                "<p><a href=\"HTTPS://example.invalid/x\">SECURELINK</a></p>"
                "<p><a href=\"x-kerrow://launch\">SCHEMELINK</a></p>"
                "</body></html>");
    Open(0);
    ASSERT_TRUE(opened);
    CExploread *banner = dlg->Banner();
    std::vector<std::string> opened;
    banner->SetLinkOpener([&](const std::string &url) {
        opened.push_back(url);
        return true;
    });
    ASSERT_TRUE(PumpUntil([&] { return banner->IsLoaded(); }, 10000));
    // Big enough to show every link, then a click on each, as the user would.
    banner->setMask(QRegion());
    banner->resize(600, 400);
    for (const char *text : {"FILELINK", "SCRIPTLINK", "RELATIVELINK", "SECURELINK", "SCHEMELINK"}) {
        const QTextCursor found = banner->document()->find(QString::fromLatin1(text));
        ASSERT_FALSE(found.isNull()) << text;
        QTextCursor inside(banner->document());
        inside.setPosition(found.selectionStart() + 2);
        const QPoint at = banner->cursorRect(inside).center();
        QTest::mouseClick(banner->viewport(), Qt::LeftButton, {}, at);
    }
    EXPECT_EQ(opened, (std::vector<std::string>{site.BaseUrl() + "/event.jsp?id=3", "https://example.invalid/x"}));
}

TEST_F(MainWindow, RelayNamedInTheRegistryShowsItsStateBesideTheButtons)
{
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::Create(platform::RegRoot::HKCU, "Software\\Quenta\\Velmor", key), S_OK);
    ASSERT_EQ(key.WriteString("RelayURL", "rtmp://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/live/K"), S_OK);
    Open(1);
    ASSERT_TRUE(opened);
    QLabel *status = dlg->RelayStatus();
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return status->text().startsWith(QStringLiteral("릴레이 연결 대기")); }, 15000))
        << status->text().toStdString();
    EXPECT_TRUE(status->isVisible());
    for (const char *name : {"btn_start", "device_panel", "view", "banner"})
        EXPECT_FALSE(status->geometry().intersects(dlg->GetSkinObjectRect(name))) << name;
    dlg->reject();
    dlg.reset();
    const std::string log = LogText();
    const auto count = [&log](const std::string &what) {
        int n = 0;
        for (std::size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("릴레이 서버에 연결하지 못했습니다"), 1) << log;
    EXPECT_EQ(count("릴레이 송출을 마쳤습니다."), 1) << log;
}
