#include "CProgressDlg.h"

#include "CInstallNotice.h"
#include "CKeyboardHook.h"
#include "LauncherMessages.h"
#include "SkinFonts.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <system_error>

namespace {

bool Headless()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QStringLiteral("offscreen") || platform == QStringLiteral("minimal");
}

QString Text(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

CProgressDlg::CProgressDlg(IInstallWorker &worker, const QString &korName, bool viewProgress, QWidget *parent)
    : QDialog(parent), m_worker(worker), m_korName(korName), m_viewProgress(viewProgress),
      m_headless(Headless()), m_hook(std::make_unique<CKeyboardHook>())
{
    setWindowTitle(QString::fromUtf8(launcher::kProgressCaption));
    setModal(true);
    InstallKoreanFontSubstitutes();
    QFont font(QStringLiteral("굴림"));
    font.setPointSize(9);
    setFont(font);

    m_line = new QLabel(QString::fromUtf8(launcher::kProgressLine));
    m_fileLine = new QLabel;
    m_fileLine->setTextFormat(Qt::PlainText); // file names come from the script
    m_downloadBar = new QProgressBar;
    m_downloadBar->setTextVisible(false);
    m_downloadBar->setRange(0, 100);
    m_downloadBar->setValue(0);
    m_installBar = new QProgressBar;
    m_installBar->setTextVisible(false);
    m_installBar->setRange(0, 100);
    m_installBar->setValue(0);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_line);
    layout->addWidget(m_fileLine);
    layout->addWidget(m_downloadBar);
    layout->addWidget(m_installBar);
    setMinimumWidth(360);
    ShowFile();
    m_clock.start();

    if (m_viewProgress) {
        adjustSize();
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    } else {
        setMinimumSize(0, 0);
        setGeometry(-10000, -10000, 0, 0);
        m_notice = std::make_unique<CInstallNotice>(korName);
    }
}

CProgressDlg::~CProgressDlg()
{
    StopWorker();
}

int CProgressDlg::MessageFor(int workerResult)
{
    switch (workerResult) {
    case INSTALL_WORKER_SUCCESS:
        return WM_INSTALL_SUCCEEDED;
    case INSTALL_WORKER_CANCELLED:
        return WM_INSTALL_CANCELLED;
    case INSTALL_WORKER_RESTART:
        return WM_INSTALL_RESTART;
    default:
        return WM_INSTALL_FAILED;
    }
}

int CProgressDlg::ResultFor(int message)
{
    switch (message) {
    case WM_INSTALL_SUCCEEDED:
        return 1;
    case WM_INSTALL_CANCELLED:
        return 2;
    case WM_INSTALL_RESTART:
        return 5;
    default:
        return 3;
    }
}

int CProgressDlg::DoModal()
{
    if (m_headless)
        Print(QString::fromUtf8(m_viewProgress ? launcher::kProgressLine : "") +
              (m_notice ? m_notice->Text() : QString()));
    if (m_notice)
        m_notice->show();
    QTimer::singleShot(0, this, &CProgressDlg::StartWorker);
    const int result = exec();
    if (m_notice)
        m_notice->hide();
    StopWorker();
    return result;
}

void CProgressDlg::StartWorker()
{
    try {
        m_thread = std::thread([this] {
            int result = INSTALL_WORKER_ERROR;
            try {
                result = m_worker.Run(m_cancel.Get(), *this);
            } catch (...) {
                result = INSTALL_WORKER_ERROR;
            }
            const int message = MessageFor(result);
            QMetaObject::invokeMethod(
                this, [this, message] { OnWorkerMessage(message); }, Qt::QueuedConnection);
        });
    } catch (const std::system_error &) {
        m_ended = true;
        done(3);
    }
}

void CProgressDlg::StopWorker()
{
    if (!m_thread.joinable())
        return;
    if (!m_ended)
        platform::SetEvent(m_cancel.Get());
    m_thread.join();
}

void CProgressDlg::OnWorkerMessage(int message)
{
    m_ended = true;
    if (m_headless)
        if (const std::optional<QString> line = m_progressLine.Flush())
            Print(*line);
    done(ResultFor(message));
}

void CProgressDlg::reject()
{
    // No cancel here: the window closes only with the worker's end.
}

void CProgressDlg::Print(const QString &line) const
{
    if (line.isEmpty())
        return;
    const QByteArray text =
        (QString::fromUtf8(launcher::kProgressCaption) + QStringLiteral(": ") + line).toUtf8();
    std::fprintf(stderr, "%s\n", text.constData());
    std::fflush(stderr);
}

void CProgressDlg::NoteProgress()
{
    if (!m_headless)
        return;
    if (const std::optional<QString> line = m_progressLine.Take(m_clock.elapsed()))
        Print(*line);
}

void CProgressDlg::ShowFile()
{
    m_fileLine->setText(QString::fromStdString(launcher::FormatMessageText(
        launcher::kProgressFile,
        {m_fileName.toStdString(), m_speed.isEmpty() ? "0KB" : m_speed.toStdString()})));
}

void CProgressDlg::SetStatusText(std::string_view text)
{
    QMetaObject::invokeMethod(
        this,
        [this, status = Text(text)] {
            m_progressLine.SetStatus(status);
            NoteProgress();
        },
        Qt::QueuedConnection);
}

void CProgressDlg::SetFileNameText(std::string_view text)
{
    QMetaObject::invokeMethod(
        this,
        [this, name = Text(text)] {
            m_fileName = name;
            m_progressLine.SetFileName(name);
            ShowFile();
            NoteProgress();
        },
        Qt::QueuedConnection);
}

void CProgressDlg::SetSpeedText(std::string_view text)
{
    QMetaObject::invokeMethod(
        this,
        [this, speed = Text(text)] {
            m_speed = speed;
            m_progressLine.SetSpeed(speed + QStringLiteral("/sec"));
            ShowFile();
            NoteProgress();
        },
        Qt::QueuedConnection);
}

void CProgressDlg::SetDownloadProgress(std::int64_t done, std::int64_t total)
{
    QMetaObject::invokeMethod(
        this,
        [this, done, total] {
            const int percent = total < 0 ? 100 : total == 0 ? 0 : static_cast<int>(done * 100 / total);
            m_downloadBar->setValue(percent);
            m_progressLine.SetPercent(percent);
            NoteProgress();
        },
        Qt::QueuedConnection);
}

void CProgressDlg::SetInstallProgress(int done, int total)
{
    QMetaObject::invokeMethod(
        this,
        [this, done, total] {
            m_installBar->setValue(total <= 0 ? 0 : done * 100 / total);
            NoteProgress();
        },
        Qt::QueuedConnection);
}

void CProgressDlg::SetCancelEnabled(bool)
{
    // The window offers no cancel.
}
