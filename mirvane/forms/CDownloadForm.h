#pragma once
// The download form (dialog 102, skin form "Download_Form"): runs the
// install worker on a thread of its own while it shows the worker's status,
// file name and speed in "Status_Txt", "Filename_Txt" and "Speed_Txt" (their
// skin captions are templates with one "%s"), the bytes of the current file
// in "Download_Prg" and the finished steps in "Install_Prg". "Caption" shows
// its template formatted with KorName.
//
// Threads: the worker calls the IInstallProgress side of the form on its
// own thread; every call is handed to the window thread with a queued call
// and only there touches the skin. The two threads share nothing else than
// the manual-reset cancel event (set by "Cancel_Btn" while the button is
// active) and the worker's result, which a 100 ms timer polls. The worker
// is stopped (cancel event set, thread joined) before the form goes.
//
// DoModal() returns the worker's result mapped for the update decision:
// 1 → 1 (done), 3 → 2 (cancelled), 4 → 5 (restart), anything else → 3;
// 3 as well when the skin or the thread cannot be made.
//
// Without a display the form writes its caption and then a progress line
// (status, file, percentage, speed) at most twice a second to standard error.
#include "CProgressLine.h"
#include "CSkinDialog.h"
#include "IInstallProgress.h"
#include "IInstallWorker.h"

#include "platform/Win32Event.h"

#include <QElapsedTimer>

#include <atomic>
#include <thread>

class CSkinProgressBar;
class QTimer;

class CDownloadForm : public CSkinDialog, public IInstallProgress {
    Q_OBJECT
public:
    static constexpr int IDD = 102;
    static constexpr int kPollMs = 100;

    // `imageName` is the script's "updater"/"TitleImg". The worker must
    // outlive the form.
    CDownloadForm(const QString &skinPath, const QString &korName, const QString &imageName,
                  IInstallWorker &worker, QWidget *parent = nullptr);
    ~CDownloadForm() override;

    // Worker result → the form's result.
    static int MapWorkerResult(int workerResult);

    // What "Cancel_Btn" does while it is active: sets the cancel event.
    void OnCancel();
    // Esc or closing the window asks the worker to cancel, like the button;
    // the form ends when the worker has ended.
    void reject() override;

    bool IsWorkerRunning() const { return m_thread.joinable() && !m_workerDone.load(); }
    bool IsCancelEnabled() const { return m_cancelEnabled; }
    platform::HANDLE CancelEvent() const { return m_cancel.Get(); }
    CSkinProgressBar *DownloadBar() const { return m_downloadBar; }
    CSkinProgressBar *InstallBar() const { return m_installBar; }
    const QString &ImageName() const { return m_imageName; }

    // IInstallProgress: called on the worker's thread.
    void SetStatusText(std::string_view text) override;
    void SetFileNameText(std::string_view text) override;
    void SetSpeedText(std::string_view text) override;
    void SetDownloadProgress(std::int64_t done, std::int64_t total) override;
    void SetInstallProgress(int done, int total) override;
    void SetCancelEnabled(bool enabled) override;

protected:
    bool OnInitDialog() override;
    int RunHeadless() override;
    void OnSkinClick(ISkinObject *object) override;

private:
    // On the window thread.
    void ShowStatus(const QString &text);
    void ShowFileName(const QString &text);
    void ShowSpeed(const QString &text);
    void ShowDownload(std::int64_t done, std::int64_t total);
    void ShowInstall(int done, int total);
    void EnableCancel(bool enabled);
    void OnTimer();
    void PrintProgress(bool last);
    void StopWorker();
    CSkinProgressBar *MakeBar(const QString &element);

    QString m_korName;
    QString m_imageName;
    IInstallWorker &m_worker;
    QString m_speedTemplate;
    QString m_fileTemplate;
    QString m_statusTemplate;
    platform::Event m_cancel{true, false};
    bool m_cancelEnabled = true;
    std::thread m_thread;
    std::atomic<bool> m_workerDone{false};
    std::atomic<int> m_workerResult{INSTALL_WORKER_ERROR};
    QTimer *m_timer = nullptr;
    CSkinProgressBar *m_downloadBar = nullptr;
    CSkinProgressBar *m_installBar = nullptr;
    bool m_headless = false;
    CProgressLine m_line;
    QElapsedTimer m_clock;
};
