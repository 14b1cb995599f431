#include "platform/MessageBox.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(MessageBox, ReplaceableHandlerSeesTextsAndAnswers)
{
    MessageBoxRequest seen;
    auto old = SetMessageBoxHandler([&](const MessageBoxRequest &r) {
        seen = r;
        return IDNO;
    });
    EXPECT_EQ(ShowMessageBox("종료합니다.", "Velmor", MB_YESNO | MB_ICONEXCLAMATION), IDNO);
    EXPECT_EQ(seen.text, "종료합니다.");
    EXPECT_EQ(seen.caption, "Velmor");
    EXPECT_EQ(seen.style, unsigned(MB_YESNO | MB_ICONEXCLAMATION));
    SetMessageBoxHandler(old);
}

TEST(MessageBox, DefaultHandlerWritesUtf8ToStderrAndAnswersAtOnce)
{
    SetMessageBoxHandler({});
    testing::internal::CaptureStderr();
    EXPECT_EQ(ShowMessageBox("안전하게 종료", "Velmor", MB_OK | MB_ICONEXCLAMATION), IDOK);
    EXPECT_EQ(ShowMessageBox("?", "Velmor", MB_YESNO), IDYES);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(reinterpret_cast<const char *>(u8"[Velmor] 안전하게 종료")), std::string::npos);
}
