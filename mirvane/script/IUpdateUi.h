#pragma once
// What the update decision shows and asks, in the terms of the updater's
// windows: the status window, the skinned message box, the download form
// running the install worker, the update list, and pages opened in the
// desktop's browser. The program implements it with the skinned forms; the
// decision itself knows no widgets. Called on one thread, the window thread.
#include "CInstallWorkerOptions.h"

#include <string>

class IUpdateUi {
public:
    virtual ~IUpdateUi() = default;

    // The status window "ShowMsg_Form" with `text` in "Message_Txt" and the
    // script's "MsgImg", made when needed; CloseStatus() closes it (also when
    // none is shown).
    virtual void ShowStatus(const std::string &text, const std::string &imageName) = 0;
    virtual void CloseStatus() = 0;

    // The skinned message box (caption "Mirvane"), or a plain one when the
    // skin cannot be used. `type` is MB_OK, MB_OKCANCEL, MB_YESNO or
    // MB_RETRYCANCEL; returns IDOK, IDCANCEL, IDYES, IDNO or IDRETRY.
    virtual int MessageBox(const std::string &text, unsigned type) = 0;

    // The download form running the install worker made from `options`,
    // with the script's "TitleImg": 1 done, 2 cancelled, 3 failed, 5 restart.
    virtual int RunDownloadForm(const installengine::CInstallWorkerOptions &options,
                                const std::string &imageName) = 0;

    // The update list with the script's "Information": IDYES or IDNO.
    virtual int RunUpdateList(const std::string &information, const std::string &imageName) = 0;

    // Opens a page in the desktop's browser; false when that could not start.
    virtual bool OpenUrl(const std::string &url) = 0;
};
