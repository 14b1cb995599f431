#include "CVelmorApp.h"

#include "platform/Display.h"
#include "platform/GuiMessageBox.h"
#include "platform/MessageBox.h"
#include "platform/Process.h"

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

CVelmorApp *g_theApp = nullptr;

constexpr const char kAppCaption[] = "Velmor";

void ShowExclamation(const char *text)
{
    platform::ShowMessageBox(text, kAppCaption, platform::MB_OK | platform::MB_ICONEXCLAMATION);
}

// Sockets are ready once a write to a closed peer can no longer kill the
// process; every socket error is then reported to its caller instead.
bool InitSockets()
{
    return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}

} // namespace

CVelmorApp::CVelmorApp() = default;

CVelmorApp::~CVelmorApp()
{
    if (g_theApp == this) {
        g_theApp = nullptr;
        SetAppLog(nullptr);
    }
}

CVelmorApp *CVelmorApp::Current()
{
    return g_theApp;
}

int CVelmorApp::FindUpdaterMarker(const std::string &line)
{
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    if (i + 1 >= line.size() || line[i] != '/' || (line[i + 1] != 'u' && line[i + 1] != 'U'))
        return -1;
    i += 2;
    if (i == line.size())
        return static_cast<int>(i);
    if (line[i] != ' ')
        return -1;
    return static_cast<int>(i + 1);
}

int CVelmorApp::Run(int argc, char **argv)
{
    m_argc = argc;
    m_argv = argv;
    m_commandLine = platform::JoinArguments(argc, argv);
    InitInstance();
    return 0;
}

bool CVelmorApp::InitInstance()
{
    // Steps 1 to 3 and 5: common controls, rich edit and control hosting are
    // all part of creating the Qt application.
    m_headless = platform::ChooseHeadlessPlatform();
    if (!m_qtApp && QApplication::instance() == nullptr) {
        static int qtArgc = 1;
        static char qtName[] = "Velmor";
        static char *qtArgv[] = {qtName, nullptr};
        m_qtApp = std::make_unique<QApplication>(qtArgc, qtArgv);
    }
    platform::InstallGuiMessageBox();

    if (!InitSockets()) {
        ShowExclamation("Windows 소켓을 초기화하지 못했습니다.");
        return false;
    }

    g_theApp = this;
    SetAppLog(&m_log);

    const std::string logPath = platform::GetCurrentDirectory() + "/velmor.log";
    m_log.Open(logPath.c_str());
    if (m_headless)
        VLOG("Velmor", "화면 장치가 없어 오프스크린 화면으로 실행합니다 (QT_QPA_PLATFORM=offscreen).\n");

    const int optionsAt = FindUpdaterMarker(m_commandLine);
    if (optionsAt < 0) {
        if (!platform::FileExists("Mirvane.exe")) {
            VLOG("Velmor", "오토업데이터가 설치되어 있지 않아 종료\n");
            return false;
        }
        VLOG("Velmor", "업데이터를 실행 후 종료\n");
        platform::ShellExecuteOpen("Mirvane.exe", m_commandLine, std::string(), platform::ShowState::Hidden);
        return false;
    }

    VLOG("Velmor", "/u옵션 확인\n");
    // The relay's address keeps its case; the line keeps no stream key.
    std::string options = m_commandLine.substr(static_cast<std::size_t>(optionsAt));
    m_args.TakeRelay(options);
    std::vector<char> rest(options.begin(), options.end());
    rest.push_back('\0');
    m_args.Store(rest.data());
    VLOG("Velmor", "프로그램 시작 인자: %s\n", m_args.line);

    if (!m_args.Parse()) {
        ShowExclamation("프로그램 실행인자가 올바르지 않습니다.\n안전하게 프로그램을 종료합니다.");
        return false;
    }
    SetAppArgs(m_args);

    // Test hook: show what was parsed and end before the main window opens.
    if (std::getenv("VELMOR_EXIT_AFTER_PARSE") != nullptr) {
        PrintArgs();
        return false;
    }

    if (m_runMainWindow)
        m_runMainWindow(*this);
    return false;
}

void CVelmorApp::PrintArgs() const
{
    std::printf("line=%s\ntag=%s\nstart=%u\nlport=%u\nelport=%u\ncurl=%s\ncport=%u\n"
                "ceurl=%s\nceport=%u\nonairrul=%s\noffairurl=%s\nrelay=%s\n",
                m_args.line, m_args.tag, m_args.start, m_args.lport, m_args.elport, m_args.curl,
                m_args.cport, m_args.ceurl, m_args.ceport, m_args.onairrul, m_args.offairurl, m_args.relay.c_str());
    std::fflush(stdout);
}
