#pragma once
// The web install flow's windows (IInstallWindows) on Qt widgets: the
// confirm dialog and the progress window of the control.
//
// Where nobody can click (Qt's offscreen platform) the confirm dialog asks
// its question as a message box (OK installs, Cancel closes; the answer
// comes from $VELMOR_MESSAGEBOX_ANSWERS) and the progress window prints its
// progress on standard error. In a host without a widget application the
// worker runs on a thread of its own while this thread waits, printing the
// same progress lines.
#include "IInstallWindows.h"

class CInstallWindows final : public IInstallWindows {
public:
    int Confirm(const std::string &korName, const std::string &programFilesDir, const std::string &subFolder,
                std::string &installDir) override;
    int RunInstallation(IInstallWorker &worker, const std::string &korName, bool viewProgress) override;

    // Whether windows can be shown and clicked.
    static bool CanShowWindows();
    // Whether a widget application exists at all.
    static bool HasWidgetApplication();
};
