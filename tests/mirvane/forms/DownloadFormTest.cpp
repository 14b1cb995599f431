// The download form with a real worker thread (a small test worker that
// reports like the install worker and honours the cancel event): results,
// texts and bars through queued calls, the cancel button while it is
// active, the worker stopped before the form goes, and repaints of the bars
// only when their whole percentage changes.
#include "CDownloadForm.h"
#include "CSkinProgressBar.h"
#include "FormsTestSupport.h"
#include "TestWorker.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <thread>

using namespace platform;

namespace {

const QString kKorName = QStringLiteral("벨모어");

class DownloadFormTest : public FormsTest {
protected:
    std::unique_ptr<CDownloadForm> MakeForm(CTestWorker &worker)
    {
        auto form =
            std::make_unique<CDownloadForm>(MirvaneSkinPath(), kKorName, QStringLiteral("TitleImg"), worker);
        return form;
    }
    static void ClickCancel(CDownloadForm &form)
    {
        QRect r;
        ASSERT_NE(form.FindElement(QStringLiteral("Cancel_Btn"), &r), nullptr);
        QTest::mouseClick(form.SkinControl()->GetWidget(), Qt::LeftButton, {}, r.center());
    }
};

} // namespace

TEST_F(DownloadFormTest, RunsTheWorkerOnItsOwnThreadAndShowsWhatItReports)
{
    CTestWorker worker;
    worker.files = 3;
    worker.bytesPerFile = 40 * 1024;
    auto form = MakeForm(worker);
    // Offscreen, DoModal runs the form's own loop until the worker ends.
    EXPECT_EQ(form->DoModal(), 1);
    EXPECT_TRUE(worker.ended);
    EXPECT_NE(worker.threadId, std::this_thread::get_id());
    EXPECT_FALSE(form->IsWorkerRunning());
    EXPECT_EQ(form->ElementText(QStringLiteral("Caption")), QStringLiteral("벨모어 업데이트"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("벨모어 업데이트"));
    // Every queued update was shown before the form ended.
    EXPECT_EQ(form->ElementText(QStringLiteral("Status_Txt")), QStringLiteral("상태 : 설치 완료"));
    EXPECT_EQ(form->ElementText(QStringLiteral("Filename_Txt")), QStringLiteral("파일 : 파일 다운로드 완료"));
    EXPECT_EQ(form->DownloadBar()->Percent(), 100);
    EXPECT_EQ(form->InstallBar()->Percent(), 100);
    EXPECT_FALSE(form->IsCancelEnabled());
}

TEST_F(DownloadFormTest, TheTemplatesStartEmptyAndAnUnknownLengthShowsAFullBar)
{
    CTestWorker worker;
    worker.holdBeforeDownload = true;
    worker.reportedLength = -1;
    auto form = MakeForm(worker);
    ASSERT_TRUE(form->Create());
    EXPECT_EQ(form->ElementText(QStringLiteral("Speed_Txt")), QStringLiteral("속도 : "));
    EXPECT_EQ(form->ElementText(QStringLiteral("Filename_Txt")), QStringLiteral("파일 : "));
    EXPECT_EQ(form->ElementText(QStringLiteral("Status_Txt")), QStringLiteral("상태 : "));
    EXPECT_EQ(form->DownloadBar()->Percent(), 0);
    QRect element;
    form->FindElement(QStringLiteral("Download_Prg"), &element);
    EXPECT_EQ(form->DownloadBar()->geometry(), element);
    ASSERT_TRUE(PumpUntil([&] { return worker.holding.load(); }, 5000));
    worker.Release();
    QSignalSpy finished(form.get(), &QDialog::finished);
    ASSERT_TRUE(PumpUntil([&] { return finished.count() == 1; }, 10000));
    EXPECT_EQ(finished[0][0].toInt(), 1);
    EXPECT_EQ(form->DownloadBar()->Percent(), 100);
}

TEST_F(DownloadFormTest, EachWorkerResultEndsTheFormWithItsMappedResult)
{
    const std::pair<int, int> cases[] = {
        {INSTALL_WORKER_CANCELLED, 2}, {INSTALL_WORKER_RESTART, 5}, {INSTALL_WORKER_ERROR, 3}, {42, 3}};
    for (const auto &[workerResult, formResult] : cases) {
        CTestWorker worker;
        worker.files = 1;
        worker.bytesPerFile = 2048;
        worker.result = workerResult;
        EXPECT_EQ(MakeForm(worker)->DoModal(), formResult) << workerResult;
    }
    // A worker that throws ends as an error; nothing escapes its thread.
    CTestWorker throwing;
    throwing.throwInstead = true;
    EXPECT_EQ(MakeForm(throwing)->DoModal(), 3);
}

TEST_F(DownloadFormTest, CancelWhileDownloadingEndsWith2)
{
    CTestWorker worker;
    worker.holdBeforeDownload = true;
    auto form = MakeForm(worker);
    ASSERT_TRUE(form->Create());
    form->show();
    QSignalSpy finished(form.get(), &QDialog::finished);
    ASSERT_TRUE(PumpUntil([&] { return worker.holding.load(); }, 5000));
    EXPECT_TRUE(form->IsWorkerRunning());
    ClickCancel(*form);
    EXPECT_EQ(WaitForSingleObject(form->CancelEvent(), 0), WAIT_OBJECT_0);
    ASSERT_TRUE(PumpUntil([&] { return finished.count() == 1; }, 5000));
    EXPECT_EQ(finished[0][0].toInt(), 2);
    EXPECT_TRUE(worker.sawCancel);
    EXPECT_FALSE(form->isVisible());
}

TEST_F(DownloadFormTest, EscapeAsksTheWorkerToCancelAndTheFormWaitsForIt)
{
    CTestWorker worker;
    worker.files = 1;
    worker.bytesPerFile = 100 * 1024 * 1024; // far more than the test waits for
    worker.readDelay = std::chrono::microseconds(50);
    auto form = MakeForm(worker);
    ASSERT_TRUE(form->Create());
    form->show();
    QSignalSpy finished(form.get(), &QDialog::finished);
    ASSERT_TRUE(
        PumpUntil([&] { return form->DownloadBar()->Percent() >= 0 && worker.started.load(); }, 5000));
    QTest::keyClick(form.get(), Qt::Key_Escape);
    // The form does not end before the worker has.
    EXPECT_EQ(finished.count(), 0);
    ASSERT_TRUE(PumpUntil([&] { return finished.count() == 1; }, 5000));
    EXPECT_EQ(finished[0][0].toInt(), 2);
    EXPECT_TRUE(worker.ended);
}

TEST_F(DownloadFormTest, OnceTheWorkerSwitchesCancelOffNothingCancels)
{
    CTestWorker worker;
    worker.files = 1;
    worker.bytesPerFile = 4096;
    worker.holdAfterDownload = true;
    auto form = MakeForm(worker);
    ASSERT_TRUE(form->Create());
    form->show();
    ASSERT_TRUE(PumpUntil([&] { return worker.holding.load() && !form->IsCancelEnabled(); }, 5000));
    ClickCancel(*form);
    QTest::keyClick(form.get(), Qt::Key_Escape);
    form->OnCancel();
    EXPECT_EQ(WaitForSingleObject(form->CancelEvent(), 0), WAIT_TIMEOUT);
    EXPECT_TRUE(form->isVisible());
    QSignalSpy finished(form.get(), &QDialog::finished);
    worker.Release();
    ASSERT_TRUE(PumpUntil([&] { return finished.count() == 1; }, 5000));
    EXPECT_EQ(finished[0][0].toInt(), 1);
    EXPECT_FALSE(worker.sawCancel);
}

TEST_F(DownloadFormTest, ClosingTheFormStopsTheWorkerBeforeTheFormGoes)
{
    for (bool held : {true, false}) {
        CTestWorker worker;
        worker.holdBeforeDownload = held;
        worker.files = 1;
        worker.bytesPerFile = 100 * 1024 * 1024;
        worker.readDelay = std::chrono::microseconds(20);
        auto form = MakeForm(worker);
        ASSERT_TRUE(form->Create());
        ASSERT_TRUE(PumpUntil([&] { return held ? worker.holding.load() : worker.started.load(); }, 5000));
        Pump(50); // updates are on their way to the form
        form.reset();
        EXPECT_TRUE(worker.ended) << held;
        EXPECT_TRUE(worker.sawCancel) << held;
        Pump(50); // nothing queued for the form is left to run
    }
}

TEST_F(DownloadFormTest, BarsRepaintOnlyWhenTheWholePercentageChanges)
{
    CTestWorker worker;
    worker.holdBeforeDownload = true; // quiet: only this test reports
    auto form = MakeForm(worker);
    ASSERT_TRUE(form->Create());
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    ASSERT_TRUE(PumpUntil([&] { return worker.holding.load(); }, 5000));
    Pump(200);
    CSkinProgressBar *download = form->DownloadBar();
    CSkinProgressBar *install = form->InstallBar();
    const int installPaints = install->PaintCount();
    int paints = download->PaintCount();
    ASSERT_GT(paints, 0);

    // Reports from another thread, as the worker sends them.
    auto report = [&](std::int64_t from, std::int64_t to, std::int64_t total) {
        std::thread sender([&] {
            for (std::int64_t done = from; done <= to; ++done)
                form->SetDownloadProgress(done, total);
        });
        sender.join();
        Pump(150);
    };
    report(0, 99, 10000); // still 0%
    EXPECT_EQ(download->PaintCount(), paints);
    report(100, 100, 10000); // 1%
    EXPECT_EQ(download->Percent(), 1);
    EXPECT_EQ(download->PaintCount(), paints + 1);
    report(101, 199, 10000); // still 1%
    EXPECT_EQ(download->PaintCount(), paints + 1);
    report(5000, 5000, 10000);
    EXPECT_EQ(download->Percent(), 50);
    EXPECT_EQ(download->PaintCount(), paints + 2);
    EXPECT_EQ(install->PaintCount(), installPaints);

    // The bar draws the skin's images and the percentage.
    const QImage bar = download->grab().toImage();
    EXPECT_NE(bar.pixelColor(bar.width() / 4, bar.height() / 2),
              bar.pixelColor(bar.width() * 3 / 4, bar.height() / 2));
    worker.Release();
}
