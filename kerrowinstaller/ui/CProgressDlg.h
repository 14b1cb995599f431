#pragma once
// The progress window of a web installation (dialog 105, caption "인스톨러"):
// the line "프로그램을 설치중입니다. 잠시만 기다려 주세요.", the file line
// "파일 : %s  ( %s/sec )" and two bars (bytes of the current file, steps of
// the installation). It starts the install worker on a thread of its own
// and closes with the worker's end, which the worker posts to it as one of
// four messages:
//
//   WM_USER+1 success      → 1      WM_USER+3 cancelled → 2
//   WM_USER+2 failure      → 3      WM_USER+4 restart   → 5
//
// and 3 at once when the thread cannot be started. With `viewProgress` off
// the window sits off screen (-10000, -10000, no size) and the small
// topmost notice shows instead. While it lives, a keyboard hook keeps the
// keys that close windows from breaking the installation off.
//
// Threads: the worker calls the IInstallProgress side on its own thread;
// every call reaches the widgets as a queued call on the window's thread,
// and so does the end message. The two threads share only those calls and
// the cancel event, which the window sets (and joins the worker) if it goes
// while the worker still runs.
//
// Without a display (Qt's offscreen platform) the window also writes its
// caption and then a progress line at most twice a second to standard error.
#include "CProgressLine.h"
#include "IInstallProgress.h"
#include "IInstallWorker.h"

#include "platform/Win32Event.h"

#include <QDialog>
#include <QElapsedTimer>

#include <memory>
#include <thread>

class CInstallNotice;
class CKeyboardHook;
class QLabel;
class QProgressBar;

class CProgressDlg : public QDialog, public IInstallProgress {
    Q_OBJECT
public:
    static constexpr int IDD = 105;
    static constexpr int WM_USER = 0x0400;
    static constexpr int WM_INSTALL_SUCCEEDED = WM_USER + 1;
    static constexpr int WM_INSTALL_FAILED = WM_USER + 2;
    static constexpr int WM_INSTALL_CANCELLED = WM_USER + 3;
    static constexpr int WM_INSTALL_RESTART = WM_USER + 4;

    // The worker must outlive the window.
    CProgressDlg(IInstallWorker &worker, const QString &korName, bool viewProgress,
                 QWidget *parent = nullptr);
    ~CProgressDlg() override;

    // Starts the worker and runs the window until the worker's end: 1, 2, 3
    // or 5 (see above).
    int DoModal();

    // The message the worker posts for its result, and the window's result
    // for that message.
    static int MessageFor(int workerResult);
    static int ResultFor(int message);

    // The posted end (window thread): closes the window with its result.
    void OnWorkerMessage(int message);

    // The window cannot be closed while the worker runs.
    void reject() override;

    // IInstallProgress: called on the worker's thread.
    void SetStatusText(std::string_view text) override;
    void SetFileNameText(std::string_view text) override;
    void SetSpeedText(std::string_view text) override;
    void SetDownloadProgress(std::int64_t done, std::int64_t total) override;
    void SetInstallProgress(int done, int total) override;
    void SetCancelEnabled(bool enabled) override;

    QLabel *Line() const { return m_line; }
    QLabel *FileLine() const { return m_fileLine; }
    QProgressBar *DownloadBar() const { return m_downloadBar; }
    QProgressBar *InstallBar() const { return m_installBar; }
    CInstallNotice *Notice() const { return m_notice.get(); }
    CKeyboardHook *Hook() const { return m_hook.get(); }
    bool IsWorkerRunning() const { return m_thread.joinable() && !m_ended; }

private:
    void StartWorker();
    void StopWorker();
    void ShowFile();
    void Print(const QString &line) const;
    void NoteProgress();

    IInstallWorker &m_worker;
    QString m_korName;
    bool m_viewProgress;
    bool m_headless;
    platform::Event m_cancel{true, false};
    std::thread m_thread;
    bool m_ended = false;

    QLabel *m_line = nullptr;
    QLabel *m_fileLine = nullptr;
    QProgressBar *m_downloadBar = nullptr;
    QProgressBar *m_installBar = nullptr;
    std::unique_ptr<CInstallNotice> m_notice;
    std::unique_ptr<CKeyboardHook> m_hook;

    QString m_fileName;
    QString m_speed;
    CProgressLine m_progressLine;
    QElapsedTimer m_clock;
};
