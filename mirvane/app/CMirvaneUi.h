#pragma once
// The update decision's windows as the updater shows them: the skinned
// forms of mirvane/forms with the configuration's skin and KorName, and
// pages in the desktop's browser (xdg-open). Window thread only.
#include "IUpdateUi.h"

#include <QString>

#include <memory>

class CShowMsgForm;

class CMirvaneUi final : public IUpdateUi {
public:
    CMirvaneUi(const std::string &skinPath, const std::string &korName);
    ~CMirvaneUi() override;
    CMirvaneUi(const CMirvaneUi &) = delete;
    CMirvaneUi &operator=(const CMirvaneUi &) = delete;

    void ShowStatus(const std::string &text, const std::string &imageName) override;
    void CloseStatus() override;
    int MessageBox(const std::string &text, unsigned type) override;
    int RunDownloadForm(const installengine::CInstallWorkerOptions &options, const std::string &imageName) override;
    int RunUpdateList(const std::string &information, const std::string &imageName) override;
    bool OpenUrl(const std::string &url) override;

private:
    QString m_skinPath;
    QString m_korName;
    std::unique_ptr<CShowMsgForm> m_status;
};
