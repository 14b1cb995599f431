#include "CMirvaneUi.h"

#include "CDownloadForm.h"
#include "CInstallWorker.h"
#include "CShowMsgForm.h"
#include "CUpdateDecision.h"
#include "CUpdateListForm.h"

#include "platform/MessageBox.h"
#include "platform/Process.h"

CMirvaneUi::CMirvaneUi(const std::string &skinPath, const std::string &korName)
    : m_skinPath(QString::fromStdString(skinPath)), m_korName(QString::fromStdString(korName))
{
}

CMirvaneUi::~CMirvaneUi() = default;

void CMirvaneUi::ShowStatus(const std::string &text, const std::string &imageName)
{
    if (!m_status)
        m_status = std::make_unique<CShowMsgForm>(m_skinPath, QString::fromStdString(imageName));
    m_status->ShowText(QString::fromStdString(text));
}

void CMirvaneUi::CloseStatus()
{
    if (!m_status)
        return;
    m_status->Close();
    m_status.reset();
}

int CMirvaneUi::MessageBox(const std::string &text, unsigned type)
{
    // The process's message box is the skinned one (CSkinnedMessageBoxHandler).
    return platform::ShowMessageBox(text, CUpdateDecision::kCaption, type);
}

int CMirvaneUi::RunDownloadForm(const installengine::CInstallWorkerOptions &options, const std::string &imageName)
{
    installengine::CInstallWorker worker(options);
    CDownloadForm form(m_skinPath, m_korName, QString::fromStdString(imageName), worker);
    return form.DoModal();
}

int CMirvaneUi::RunUpdateList(const std::string &information, const std::string &imageName)
{
    CUpdateListForm list(m_skinPath, m_korName, QString::fromStdString(imageName), QString::fromStdString(information));
    return list.DoModal();
}

bool CMirvaneUi::OpenUrl(const std::string &url)
{
    return platform::OpenWithSystemHandler(url);
}
