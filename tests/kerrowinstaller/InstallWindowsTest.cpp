// The launcher's windows as real widgets on Qt's offscreen platform: the
// confirm dialog, the progress window with a worker on its own thread, the
// small notice, the keyboard hook.
#include "CConfirmDlg.h"
#include "CInstallNotice.h"
#include "CInstallWindows.h"
#include "CKeyboardHook.h"
#include "CProgressDlg.h"

#include "QtTestApp.h"

#include "platform/GuiMessageBox.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// A worker of the test's own: reports a download and some steps from its
// thread, waits until the test lets it finish, and ends with `result`.
class CStepWorker final : public IInstallWorker {
public:
    explicit CStepWorker(int result) : m_result(result) {}

    int Run(platform::HANDLE, IInstallProgress &progress) override
    {
        threadId = std::this_thread::get_id();
        progress.SetStatusText("설치대상 파일 다운로드 중...");
        progress.SetFileNameText("Velmor.cab");
        progress.SetSpeedText("12MB");
        progress.SetDownloadProgress(512, 1024);
        progress.SetInstallProgress(3, 4);
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [this] { return m_go; });
        }
        return m_result;
    }
    void Finish()
    {
        std::lock_guard lock(m_lock);
        m_go = true;
        m_wake.notify_all();
    }

    std::thread::id threadId;

private:
    int m_result;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_go = false;
};

class InstallWindows : public testing::Test {
protected:
    InstallWindows() { App<QApplication>(); }
};

} // namespace

TEST_F(InstallWindows, ConfirmDialogShowsTheFolderAndTheChosenBase)
{
    CConfirmDlg dialog(QStringLiteral("벨모개인방송"), QStringLiteral("/opt"),
                       QStringLiteral("Quenta/Velmor"));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("펠룬"));
    EXPECT_EQ(dialog.Line()->text(), QStringLiteral("벨모개인방송(을)를 설치합니다."));
    EXPECT_EQ(dialog.StartButton()->text(), QStringLiteral("설치 시작 "));
    EXPECT_EQ(dialog.BrowseButton()->text(), QStringLiteral("..."));
    EXPECT_EQ(dialog.FolderText()->text(), QStringLiteral("/opt/Quenta/Velmor"));
    EXPECT_EQ(dialog.font().pointSize(), 9);
    EXPECT_EQ(dialog.font().family(), QStringLiteral("굴림"));
    EXPECT_TRUE(QFontMetrics(dialog.font()).inFont(QChar(u'설')))
        << "굴림 maps to an installed font that draws Korean: "
        << QFontInfo(dialog.font()).family().toStdString();

    QString title;
    QString start;
    dialog.SetFolderChooser([&](QWidget *, const QString &t, const QString &s) {
        title = t;
        start = s;
        return QStringLiteral("/home/u/Apps");
    });
    dialog.BrowseButton()->click();
    EXPECT_EQ(title, QStringLiteral("벨모개인방송(을)를 설치할 폴더를 지정하세요."));
    EXPECT_EQ(start, QStringLiteral("/opt"));
    EXPECT_EQ(dialog.FolderText()->text(), QStringLiteral("/home/u/Apps/Quenta/Velmor"));
    // Cancelling the chooser keeps the folder.
    dialog.SetFolderChooser([](QWidget *, const QString &, const QString &) { return QString(); });
    dialog.OnBrowse();
    EXPECT_EQ(dialog.InstallFolder(), QStringLiteral("/home/u/Apps/Quenta/Velmor"));

    QTimer::singleShot(0, &dialog, [&] { dialog.StartButton()->click(); });
    EXPECT_EQ(dialog.DoModal(), CConfirmDlg::kInstall);
    QTimer::singleShot(0, &dialog, [&] { dialog.reject(); });
    EXPECT_EQ(dialog.DoModal(), CConfirmDlg::kClosed);
}

TEST_F(InstallWindows, ProgressWindowRelaysTheWorkersFourEnds)
{
    const struct {
        int workerResult;
        int message;
        int windowResult;
    } ends[] = {{INSTALL_WORKER_SUCCESS, CProgressDlg::WM_USER + 1, 1},
                {INSTALL_WORKER_ERROR, CProgressDlg::WM_USER + 2, 3},
                {INSTALL_WORKER_CANCELLED, CProgressDlg::WM_USER + 3, 2},
                {INSTALL_WORKER_RESTART, CProgressDlg::WM_USER + 4, 5}};
    for (const auto &end : ends) {
        EXPECT_EQ(CProgressDlg::MessageFor(end.workerResult), end.message);
        EXPECT_EQ(CProgressDlg::ResultFor(end.message), end.windowResult);

        CStepWorker worker(end.workerResult);
        CProgressDlg dialog(worker, QStringLiteral("벨모개인방송"), true);
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("인스톨러"));
        EXPECT_EQ(dialog.Line()->text(), QStringLiteral("프로그램을 설치중입니다. 잠시만 기다려 주세요."));
        bool sawProgress = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
            if (dialog.FileLine()->text() == QStringLiteral("파일 : Velmor.cab  ( 12MB/sec )") &&
                dialog.DownloadBar()->value() == 50 && dialog.InstallBar()->value() == 75) {
                sawProgress = true;
                // Closing keys and reject do nothing while the worker runs.
                QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QCoreApplication::sendEvent(&dialog, &esc);
                dialog.reject();
                EXPECT_TRUE(dialog.isVisible());
                EXPECT_TRUE(dialog.IsWorkerRunning());
                worker.Finish();
                poll.stop();
            }
        });
        poll.start(10);
        EXPECT_EQ(dialog.DoModal(), end.windowResult);
        EXPECT_TRUE(sawProgress);
        EXPECT_NE(worker.threadId, std::this_thread::get_id()) << "the worker has a thread of its own";
        EXPECT_GE(dialog.Hook()->Swallowed(), 1);
    }
}

TEST_F(InstallWindows, WithoutProgressTheWindowHidesAndTheNoticeShows)
{
    CStepWorker worker(INSTALL_WORKER_SUCCESS);
    CProgressDlg dialog(worker, QStringLiteral("벨모개인방송"), false);
    ASSERT_NE(dialog.Notice(), nullptr);
    EXPECT_EQ(dialog.Notice()->Text(),
              QStringLiteral("벨모개인방송을(를) 설치 중입니다. 잠시만 기다려주세요."));
    EXPECT_TRUE(dialog.Notice()->windowFlags() & Qt::WindowStaysOnTopHint);
    bool checked = false;
    QTimer::singleShot(50, &dialog, [&] {
        EXPECT_EQ(dialog.pos(), QPoint(-10000, -10000));
        EXPECT_TRUE(dialog.Notice()->isVisible());
        checked = true;
        worker.Finish();
    });
    EXPECT_EQ(dialog.DoModal(), 1);
    EXPECT_TRUE(checked);
    EXPECT_FALSE(dialog.Notice()->isVisible());
}

TEST_F(InstallWindows, AWindowThatGoesWhileTheWorkerRunsCancelsAndJoinsItFirst)
{
    // A worker that ends only when its cancel event is set.
    struct CCancelWorker final : IInstallWorker {
        int Run(platform::HANDLE cancel, IInstallProgress &) override
        {
            started = true;
            platform::WaitForSingleObject(cancel, platform::INFINITE);
            ended = true;
            return INSTALL_WORKER_CANCELLED;
        }
        std::atomic<bool> started{false};
        std::atomic<bool> ended{false};
    } worker;
    CProgressDlg dialog(worker, QStringLiteral("x"), true);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
        if (worker.started)
            dialog.done(0);
    });
    poll.start(10);
    EXPECT_EQ(dialog.DoModal(), 0);
    EXPECT_TRUE(worker.ended);
    EXPECT_FALSE(dialog.IsWorkerRunning());
}

TEST_F(InstallWindows, KeyboardHookSwallowsOnlyTheClosingKeys)
{
    QWidget target;
    int seen = 0;
    struct CCounter : QObject {
        int *count;
        explicit CCounter(int *c) : count(c) {}
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::KeyPress)
                ++*count;
            return false;
        }
    } counter(&seen);
    target.installEventFilter(&counter);
    {
        CKeyboardHook hook;
        for (const auto &[key, modifiers] :
             {std::pair{Qt::Key_Escape, Qt::NoModifier}, std::pair{Qt::Key_F4, Qt::AltModifier},
              std::pair{Qt::Key_W, Qt::ControlModifier}, std::pair{Qt::Key_A, Qt::NoModifier}}) {
            QKeyEvent press(QEvent::KeyPress, key, modifiers);
            QCoreApplication::sendEvent(&target, &press);
        }
        EXPECT_EQ(hook.Swallowed(), 3);
        EXPECT_EQ(seen, 1);
    }
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &esc);
    EXPECT_EQ(seen, 2) << "the hook goes with its window";
}

TEST_F(InstallWindows, TextsFromPagesAndScriptsAreShownAsPlainText)
{
    const std::string markup = "<h1>Your PC is infected</h1>";
    CStepWorker worker(IInstallWindows::kInstallSucceeded);
    CProgressDlg progress(worker, QString::fromStdString(markup), true);
    CConfirmDlg confirm(QString::fromStdString(markup), QStringLiteral("/opt"), QStringLiteral("x"));
    CInstallNotice notice(QString::fromStdString(markup));
    const std::unique_ptr<QMessageBox> box = platform::MakeQtMessageBox({markup, "펠룬", platform::MB_OK});
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    for (const QLabel *label : {confirm.Line(), notice.findChild<QLabel *>(), progress.FileLine()})
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
}
