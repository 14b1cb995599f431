// The Qt message box on the offscreen platform: nobody can click it, so it
// answers from $VELMOR_MESSAGEBOX_ANSWERS, on the window thread and on a
// worker thread alike; and the call on the window thread it relies on.
#include "platform/GuiMessageBox.h"
#include "platform/MessageBox.h"
#include "platform/WindowThread.h"

#include "QtTestApp.h"

#include <QApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <thread>

using namespace platform;

TEST(GuiMessageBox, OffscreenBoxesTakeTheScriptedAnswers)
{
    App<QApplication>();
    InstallGuiMessageBox();
    setenv("VELMOR_MESSAGEBOX_ANSWERS", "7,2", 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ShowMessageBox("설치를 완료하려면 시스템을 재시작해야 합니다.", "Mirvane", MB_YESNO), IDNO);
    int fromWorker = 0;
    std::thread worker([&] { fromWorker = ShowMessageBox("다시 시도?", "Mirvane", MB_RETRYCANCEL); });
    worker.join();
    EXPECT_EQ(fromWorker, IDCANCEL);
    EXPECT_EQ(ShowMessageBox("끝", "Mirvane", MB_RETRYCANCEL), IDRETRY);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("[Mirvane] 설치를 완료하려면 시스템을 재시작해야 합니다.\n"), std::string::npos);
    EXPECT_NE(err.find("[Mirvane] 다시 시도?\n"), std::string::npos);
    unsetenv("VELMOR_MESSAGEBOX_ANSWERS");
    SetMessageBoxHandler({});
}

// Each test runs in its own process: this one before any application exists.
TEST(WindowThread, WithoutAnApplicationNothingIsCalled)
{
    bool called = false;
    EXPECT_FALSE(CallOnWindowThread([&] {
                     called = true;
                     return 1;
                 }).has_value());
    EXPECT_FALSE(called);
}

TEST(WindowThread, AWorkersCallRunsOnTheWindowThreadAndItsAnswerComesBack)
{
    QCoreApplication &app = App<QCoreApplication>();
    EXPECT_EQ(CallOnWindowThread([] { return 7; }), 7) << "on the window thread: called at once";

    std::atomic<bool> done{false};
    std::optional<int> answer;
    bool onWindowThread = false;
    std::thread worker([&] {
        answer = CallOnWindowThread([&] {
            onWindowThread = QThread::currentThread() == app.thread();
            return 42;
        });
        done = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 5000));
    worker.join();
    EXPECT_EQ(answer, 42);
    EXPECT_TRUE(onWindowThread);
}
