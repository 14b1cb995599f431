// The Qt message box on the offscreen platform: nobody can click it, so it
// answers from $VELMOR_MESSAGEBOX_ANSWERS, on the window thread and on a
// worker thread alike.
#include "platform/GuiMessageBox.h"
#include "platform/MessageBox.h"

#include "QtTestApp.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
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
