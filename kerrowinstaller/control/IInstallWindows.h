#pragma once
// The web install flow's windows as the flow sees them: the confirm dialog
// that asks for the install folder, and the progress window that runs the
// install worker on its own thread until it ends. The flow itself holds no
// widgets; kerrowinstaller/ui implements this on Qt widgets (and without a
// widget application on standard error).
#include "IInstallWorker.h"

#include <string>

class IInstallWindows {
public:
    // Confirm-dialog results.
    static constexpr int kConfirmInstall = 6; // "설치 시작 " (IDYES)
    static constexpr int kConfirmClosed = 2;  // closed or cancelled (IDCANCEL)

    // Progress-window results (the worker's four ends).
    static constexpr int kInstallSucceeded = 1;
    static constexpr int kInstallCancelled = 2;
    static constexpr int kInstallFailed = 3;
    static constexpr int kInstallRestart = 5;

    virtual ~IInstallWindows() = default;

    // Shows the confirm dialog for `korName`; the install folder starts as
    // `programFilesDir` joined with `subFolder`, and a folder the user picks
    // becomes the base folder instead. On kConfirmInstall `installDir` is
    // the folder to install into. Any other result means no installation.
    virtual int Confirm(const std::string &korName, const std::string &programFilesDir,
                        const std::string &subFolder, std::string &installDir) = 0;

    // Runs `worker` on a thread of its own while the progress window (or,
    // without `viewProgress`, the small notice) is shown, and returns one of
    // the kInstall... results when the worker has ended. kInstallFailed when
    // the thread cannot be started.
    virtual int RunInstallation(IInstallWorker &worker, const std::string &korName, bool viewProgress) = 0;
};
