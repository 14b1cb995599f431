#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

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

namespace {

// Sets $VELMOR_MESSAGEBOX_ANSWERS for one test and removes it afterwards.
class ScriptedAnswers : public testing::Test {
protected:
    void SetUp() override { SetMessageBoxHandler({}); }
    void TearDown() override { unsetenv("VELMOR_MESSAGEBOX_ANSWERS"); }
    static void Answers(const char *list) { setenv("VELMOR_MESSAGEBOX_ANSWERS", list, 1); }
};

} // namespace

TEST_F(ScriptedAnswers, TakenInOrderThenTheDefaultButton)
{
    Answers("7, 2 ,IDRETRY,idyes");
    testing::internal::CaptureStderr();
    EXPECT_EQ(ShowMessageBox("지울까요?", "Mirvane", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(ShowMessageBox("계속?", "Mirvane", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(ShowMessageBox("다시?", "Mirvane", MB_RETRYCANCEL), IDRETRY);
    EXPECT_EQ(ShowMessageBox("재시작?", "Mirvane", MB_YESNO), IDYES);
    // The list is used up: default buttons.
    EXPECT_EQ(ShowMessageBox("a", "Mirvane", MB_YESNO), IDYES);
    EXPECT_EQ(ShowMessageBox("b", "Mirvane", MB_RETRYCANCEL), IDRETRY);
    EXPECT_EQ(ShowMessageBox("c", "Mirvane", MB_OKCANCEL), IDOK);
    EXPECT_EQ(ShowMessageBox("d", "Mirvane", MB_OK), IDOK);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("[Mirvane] 지울까요?\n"), std::string::npos);
    EXPECT_NE(err.find("[Mirvane] d\n"), std::string::npos);

    // A new list starts again at its first answer.
    Answers("2");
    EXPECT_EQ(DefaultAnswer(MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(DefaultAnswer(MB_OKCANCEL), IDOK);
}

TEST_F(ScriptedAnswers, AnAnswerTheBoxDoesNotHaveGivesItsDefaultButton)
{
    Answers("7,banana,,6,1");
    testing::internal::CaptureStderr();
    EXPECT_EQ(DefaultAnswer(MB_OK), IDOK);             // 7: no No button
    EXPECT_EQ(DefaultAnswer(MB_YESNO), IDYES);         // not an answer
    EXPECT_EQ(DefaultAnswer(MB_RETRYCANCEL), IDRETRY); // 6: no Yes button
    EXPECT_EQ(DefaultAnswer(MB_YESNO), IDYES);         // 1: no OK button
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("answer 7 is not a button of this box"), std::string::npos) << err;
    EXPECT_NE(err.find("answer 0 is not a button of this box"), std::string::npos) << err;
    // The empty place between two commas is no answer and takes no box.
    Answers("");
    EXPECT_EQ(DefaultAnswer(MB_YESNO), IDYES);
}

// Boxes shown from several threads at once use every answer exactly once.
TEST_F(ScriptedAnswers, EachAnswerIsUsedOnceAcrossThreads)
{
    constexpr int kThreads = 6;
    constexpr int kBoxes = 50;
    std::string list;
    int noAnswers = 0;
    for (int i = 0; i < kThreads * kBoxes; ++i) {
        const bool no = i % 3 == 0;
        noAnswers += no;
        list += (i ? "," : "") + std::string(no ? "7" : "6");
    }
    Answers(list.c_str());
    std::atomic<int> no{0};
    std::atomic<int> yes{0};
    SetMessageBoxHandler([](const MessageBoxRequest &r) { return DefaultAnswer(r.style); });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kBoxes; ++i)
                (ShowMessageBox("?", "t", MB_YESNO) == IDNO ? no : yes)++;
        });
    for (std::thread &t : threads)
        t.join();
    SetMessageBoxHandler({});
    EXPECT_EQ(no.load(), noAnswers);
    EXPECT_EQ(yes.load(), kThreads * kBoxes - noAnswers);
    EXPECT_EQ(DefaultAnswer(MB_YESNO), IDYES);
}
