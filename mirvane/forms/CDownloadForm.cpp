#include "CDownloadForm.h"

#include "CSkinProgressBar.h"
#include "SkinText.h"

#include "CLogFile.h"

#include <QMetaObject>
#include <QTimer>

#include <system_error>

CDownloadForm::CDownloadForm(const QString &skinPath, const QString &korName, const QString &imageName,
                             IInstallWorker &worker, QWidget *parent)
    : CSkinDialog(IDD, skinPath, QStringLiteral("Download_Form"), parent), m_korName(korName),
      m_imageName(imageName), m_worker(worker)
{
}

CDownloadForm::~CDownloadForm()
{
    StopWorker();
}

int CDownloadForm::MapWorkerResult(int workerResult)
{
    return InstallWorkerFormResult(workerResult);
}

CSkinProgressBar *CDownloadForm::MakeBar(const QString &element)
{
    auto *bar = new CSkinProgressBar(SkinControl(), this);
    QRect r;
    if (FindElement(element, &r))
        bar->setGeometry(r);
    else
        bar->hide();
    bar->raise();
    return bar;
}

bool CDownloadForm::OnInitDialog()
{
    if (!CSkinDialog::OnInitDialog())
        return false;
    m_headless = IsHeadless();
    const QString caption = FormatSkinText(ElementText(QStringLiteral("Caption")), m_korName);
    SetElementText(QStringLiteral("Caption"), caption);
    if (!caption.isEmpty())
        setWindowTitle(caption);
    m_speedTemplate = ElementText(QStringLiteral("Speed_Txt"));
    m_fileTemplate = ElementText(QStringLiteral("Filename_Txt"));
    m_statusTemplate = ElementText(QStringLiteral("Status_Txt"));
    SetElementText(QStringLiteral("Speed_Txt"), FormatSkinText(m_speedTemplate, QString()));
    SetElementText(QStringLiteral("Filename_Txt"), FormatSkinText(m_fileTemplate, QString()));
    SetElementText(QStringLiteral("Status_Txt"), FormatSkinText(m_statusTemplate, QString()));
    m_downloadBar = MakeBar(QStringLiteral("Download_Prg"));
    m_installBar = MakeBar(QStringLiteral("Install_Prg"));
    CentreOnScreen();

    if (!m_cancel.IsValid()) {
        VLOG("DownloadForm", "취소 이벤트를 만들지 못했습니다 (errno %u).\n", platform::GetLastError());
        return false;
    }
    // The worker starts with the form. A thread that cannot be made ends
    // the form with result 3.
    try {
        m_thread = std::thread([this] {
            int result = INSTALL_WORKER_ERROR;
            try {
                result = m_worker.Run(m_cancel.Get(), *this);
            } catch (...) {
                result = INSTALL_WORKER_ERROR;
            }
            m_workerResult.store(result);
            m_workerDone.store(true);
        });
    } catch (const std::system_error &e) {
        VLOG("DownloadForm", "설치 작업 스레드를 시작하지 못했습니다: %s\n", e.what());
        return false;
    }
    m_clock.start();
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &CDownloadForm::OnTimer);
    m_timer->start(kPollMs);
    return true;
}

int CDownloadForm::RunHeadless()
{
    WriteHeadless(windowTitle(), QString());
    return exec();
}

void CDownloadForm::OnTimer()
{
    if (m_headless)
        PrintProgress(false);
    if (!m_workerDone.load())
        return;
    m_timer->stop();
    StopWorker();
    // The worker's last queued updates are shown before the form ends.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_headless)
                PrintProgress(true);
            done(MapWorkerResult(m_workerResult.load()));
        },
        Qt::QueuedConnection);
}

void CDownloadForm::StopWorker()
{
    if (!m_thread.joinable())
        return;
    if (!m_workerDone.load())
        m_cancel.Set();
    m_thread.join();
}

void CDownloadForm::OnCancel()
{
    if (m_cancelEnabled)
        m_cancel.Set();
}

void CDownloadForm::reject()
{
    if (!IsCreated() || !m_thread.joinable()) {
        done(MapWorkerResult(m_workerResult.load()));
        return;
    }
    OnCancel();
}

void CDownloadForm::OnSkinClick(ISkinObject *object)
{
    if (object->GetName().compare(u"Cancel_Btn", Qt::CaseInsensitive) == 0)
        OnCancel();
}

// --- IInstallProgress, on the worker's thread: hand everything on.

void CDownloadForm::SetStatusText(std::string_view text)
{
    QMetaObject::invokeMethod(
        this,
        [this, t = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))] { ShowStatus(t); },
        Qt::QueuedConnection);
}

void CDownloadForm::SetFileNameText(std::string_view text)
{
    QMetaObject::invokeMethod(
        this,
        [this, t = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))] { ShowFileName(t); },
        Qt::QueuedConnection);
}

void CDownloadForm::SetSpeedText(std::string_view text)
{
    QMetaObject::invokeMethod(
        this,
        [this, t = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))] { ShowSpeed(t); },
        Qt::QueuedConnection);
}

void CDownloadForm::SetDownloadProgress(std::int64_t done, std::int64_t total)
{
    QMetaObject::invokeMethod(
        this, [this, done, total] { ShowDownload(done, total); }, Qt::QueuedConnection);
}

void CDownloadForm::SetInstallProgress(int done, int total)
{
    QMetaObject::invokeMethod(
        this, [this, done, total] { ShowInstall(done, total); }, Qt::QueuedConnection);
}

void CDownloadForm::SetCancelEnabled(bool enabled)
{
    QMetaObject::invokeMethod(
        this, [this, enabled] { EnableCancel(enabled); }, Qt::QueuedConnection);
}

// --- on the window thread

void CDownloadForm::ShowStatus(const QString &text)
{
    SetElementText(QStringLiteral("Status_Txt"), FormatSkinText(m_statusTemplate, text));
    m_line.SetStatus(text);
}

void CDownloadForm::ShowFileName(const QString &text)
{
    SetElementText(QStringLiteral("Filename_Txt"), FormatSkinText(m_fileTemplate, text));
    m_line.SetFileName(text);
}

void CDownloadForm::ShowSpeed(const QString &text)
{
    SetElementText(QStringLiteral("Speed_Txt"), FormatSkinText(m_speedTemplate, text));
    m_line.SetSpeed(text);
}

void CDownloadForm::ShowDownload(std::int64_t done, std::int64_t total)
{
    if (m_downloadBar)
        m_downloadBar->SetPos(done, total);
    m_line.SetPercent(CSkinProgressBar::PercentOf(done, total));
}

void CDownloadForm::ShowInstall(int done, int total)
{
    if (m_installBar)
        m_installBar->SetPos(done, total);
}

void CDownloadForm::EnableCancel(bool enabled)
{
    m_cancelEnabled = enabled;
    if (ISkinObject *button = FindElement(QStringLiteral("Cancel_Btn")))
        button->SetEnabled(enabled);
}

void CDownloadForm::PrintProgress(bool last)
{
    const std::optional<QString> line = last ? m_line.Flush() : m_line.Take(m_clock.elapsed());
    if (line)
        WriteHeadless(windowTitle(), *line);
}
