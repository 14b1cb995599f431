#pragma once
// The install worker as the window that runs it sees it: one call that
// downloads and installs everything on the window's worker thread, reports
// through IInstallProgress and ends with a worker result. The updater's
// download form and the web launcher's progress window run it; tests run
// small workers of their own.
#include "IInstallProgress.h"

#include "platform/Win32Event.h"

// Worker results (the thread's exit code).
enum InstallWorkerResult : int {
    INSTALL_WORKER_SUCCESS = 1,
    INSTALL_WORKER_ERROR = 2,
    INSTALL_WORKER_CANCELLED = 3,
    INSTALL_WORKER_RESTART = 4,
};

// The result of the window that ran the worker: 1 done, 2 cancelled,
// 5 restart needed, 3 anything else (the updater's download form and the
// web launcher's progress window end with it).
inline int InstallWorkerFormResult(int workerResult)
{
    switch (workerResult) {
    case INSTALL_WORKER_SUCCESS:
        return 1;
    case INSTALL_WORKER_CANCELLED:
        return 2;
    case INSTALL_WORKER_RESTART:
        return 5;
    default:
        return 3;
    }
}

class IInstallWorker {
public:
    virtual ~IInstallWorker() = default;

    // Runs on the worker thread until the work is done. `cancelEvent` is the
    // window's manual-reset cancel event: the worker tests it (without
    // waiting) between reads while it downloads and ends with
    // INSTALL_WORKER_CANCELLED once it is set. Every update goes to
    // `progress`; the window hands it on to its own thread. Returns one of
    // the results above. Must not throw: the caller counts an escaping
    // exception as INSTALL_WORKER_ERROR.
    virtual int Run(platform::HANDLE cancelEvent, IInstallProgress &progress) = 0;
};
