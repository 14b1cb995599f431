#include "CMirvaneApp.h"

#include "CMirvaneUi.h"
#include "CSkinnedMessageBoxHandler.h"
#include "SkinControlCheck.h"

#include "platform/Display.h"
#include "platform/GuiMessageBox.h"
#include "platform/MessageBox.h"
#include "platform/Process.h"
#include "platform/QuitSignals.h"

#include <QApplication>
#include <QDialog>

#include <cstdlib>
#include <cstring>

CMirvaneApp::CMirvaneApp(std::string updaterVersion) : m_updaterVersion(std::move(updaterVersion)) {}

CMirvaneApp::~CMirvaneApp()
{
    if (GetAppLog() == &m_log)
        SetAppLog(nullptr);
}

CUpdateDecision::Result CMirvaneApp::Run(int argc, char **argv)
{
    const bool headless = platform::ChooseHeadlessPlatform();
    static int qtArgc = 1;
    static char qtName[] = "Mirvane";
    static char *qtArgv[] = {qtName, nullptr};
    m_qtApp = std::make_unique<QApplication>(qtArgc, qtArgv);
    platform::InstallGuiMessageBox();
    m_commandLine = CMirvaneCommandLine(platform::JoinArguments(argc, argv));

    if (!CheckConfiguration())
        return CUpdateDecision::Result::Failed;
    if (headless)
        VLOG("Mirvane", "화면 장치가 없어 오프스크린 화면으로 실행합니다 (QT_QPA_PLATFORM=offscreen).\n");

    // Ctrl-C or SIGTERM is the window's close button: the open window is
    // closed as its user would, so a running download is cancelled (and the
    // decision goes on with "cancel") instead of dying in the middle.
    platform::QuitSignalWatcher quit([](int) {
        VLOG("Mirvane", "종료 신호를 받아 열린 창을 닫습니다.\n");
        for (QWidget *window : QApplication::topLevelWidgets())
            if (auto *dialog = qobject_cast<QDialog *>(window); dialog && dialog->isVisible())
                dialog->reject();
    });
    CMirvaneUi ui(m_config.Skin, m_config.KorName);
    CUpdateDecision decision(m_config, m_commandLine, ui, m_updaterVersion);
    return decision.Run();
}

bool CMirvaneApp::CheckConfiguration()
{
    // 1.
    const std::string directory = platform::GetCurrentDirectory();
    if (!m_config.Read(directory)) {
        platform::ShowMessageBox(CMirvaneConfig::kMissingText, CUpdateDecision::kCaption, platform::MB_OK);
        return false;
    }
    SetAppLog(&m_log);
    const std::string logPath = directory + "/" + kLogName;
    m_log.Open(logPath.c_str());
    VLOG("Mirvane", "Mirvane %s 시작, 인자: %s\n", m_updaterVersion.c_str(), m_commandLine.Line().c_str());

    // 2. and 3. From here on every box is the skinned one.
    CSkinnedMessageBoxHandler::Install(QString::fromStdString(m_config.Skin));
    if (!m_config.IsValid()) {
        VLOG("Mirvane", "환경설정이 올바르지 않습니다: %s\n", m_config.Path().c_str());
        platform::ShowMessageBox(CMirvaneConfig::kInvalidText, CUpdateDecision::kCaption, platform::MB_OK);
        return false;
    }

    // 4.
    std::string controlPath;
    const SkinControlState state = CheckSkinControl(&controlPath);
    if (state != SkinControlState::Ok) {
        VLOG("Mirvane", "스킨 컨트롤을 쓸 수 없습니다: '%s'\n", controlPath.c_str());
        CSkinnedMessageBoxHandler::Plain({SkinControlMessage(state, m_config.KorName), m_config.KorName,
                                          platform::MB_OK | platform::MB_ICONERROR});
        return false;
    }
    return true;
}
