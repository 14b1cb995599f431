#include "CInstallWindows.h"

#include "CConfirmDlg.h"
#include "CProgressDlg.h"
#include "LauncherMessages.h"

#include "CProgressLine.h"
#include "ScriptPath.h"

#include "platform/MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// The progress of a worker that runs without any window: one line at most
// twice a second on standard error, written from the worker's thread.
class CStderrProgress final : public IInstallProgress {
public:
    CStderrProgress() { m_clock.start(); }

    void SetStatusText(std::string_view text) override
    {
        Note([&] { m_line.SetStatus(Text(text)); });
    }
    void SetFileNameText(std::string_view text) override
    {
        Note([&] { m_line.SetFileName(Text(text)); });
    }
    void SetSpeedText(std::string_view text) override
    {
        Note([&] { m_line.SetSpeed(Text(text) + QStringLiteral("/sec")); });
    }
    void SetDownloadProgress(std::int64_t done, std::int64_t total) override
    {
        Note([&] {
            m_line.SetPercent(total < 0 ? 100 : total == 0 ? 0 : static_cast<int>(done * 100 / total));
        });
    }
    void SetInstallProgress(int, int) override {}
    void SetCancelEnabled(bool) override {}

    void Flush()
    {
        std::lock_guard guard(m_lock);
        if (const std::optional<QString> line = m_line.Flush())
            Print(*line);
    }

private:
    static QString Text(std::string_view text)
    {
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    template <typename F> void Note(F &&change)
    {
        std::lock_guard guard(m_lock);
        change();
        if (const std::optional<QString> line = m_line.Take(m_clock.elapsed()))
            Print(*line);
    }
    static void Print(const QString &line)
    {
        const QByteArray text =
            (QString::fromUtf8(launcher::kProgressCaption) + QStringLiteral(": ") + line).toUtf8();
        std::fprintf(stderr, "%s\n", text.constData());
    }

    std::mutex m_lock;
    CProgressLine m_line;
    QElapsedTimer m_clock;
};

} // namespace

bool CInstallWindows::HasWidgetApplication()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

bool CInstallWindows::CanShowWindows()
{
    if (!HasWidgetApplication())
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QStringLiteral("offscreen") && platform != QStringLiteral("minimal");
}

int CInstallWindows::Confirm(const std::string &korName, const std::string &programFilesDir,
                             const std::string &subFolder, std::string &installDir)
{
    if (CanShowWindows()) {
        CConfirmDlg dialog(QString::fromStdString(korName), QString::fromStdString(programFilesDir),
                           QString::fromStdString(subFolder));
        const int result = dialog.DoModal();
        if (result == kConfirmInstall)
            installDir = dialog.InstallFolder().toStdString();
        return result;
    }
    // Nobody can click the dialog: its question as a message box.
    const std::string folder = installengine::JoinPath(programFilesDir, subFolder);
    const std::string text = launcher::FormatMessageText(launcher::kConfirmLine, {korName}) + "\n\n" +
                             launcher::kConfirmFrame + ": " + folder;
    if (platform::ShowMessageBox(text, launcher::kCaption, platform::MB_OKCANCEL) != platform::IDOK)
        return kConfirmClosed;
    installDir = folder;
    return kConfirmInstall;
}

int CInstallWindows::RunInstallation(IInstallWorker &worker, const std::string &korName, bool viewProgress)
{
    if (HasWidgetApplication()) {
        CProgressDlg dialog(worker, QString::fromStdString(korName), viewProgress);
        return dialog.DoModal();
    }
    CStderrProgress progress;
    platform::Event cancel(true, false);
    std::atomic<int> result{INSTALL_WORKER_ERROR};
    try {
        std::thread thread([&] {
            try {
                result = worker.Run(cancel.Get(), progress);
            } catch (...) {
                result = INSTALL_WORKER_ERROR;
            }
        });
        thread.join();
    } catch (const std::system_error &) {
        return kInstallFailed;
    }
    progress.Flush();
    return CProgressDlg::ResultFor(CProgressDlg::MessageFor(result));
}
