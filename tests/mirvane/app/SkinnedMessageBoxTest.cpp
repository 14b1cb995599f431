// The updater's message box handler in process: one box per message when
// the skin cannot be used, and questions asked from the install worker's
// thread answered on the window thread.
#include "CSkinnedMessageBoxHandler.h"

#include "CSkinDialog.h"

#include "platform/Module.h"
#include "platform/Win32Types.h"

#include "QtTestApp.h"
#include "RunProgram.h"
#include "TestDir.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

class SkinnedMessageBoxTest : public testing::Test {
protected:
    void SetUp() override
    {
        App<QApplication>();
        setenv("VELMOR_REGISTRY_DIR", m_store.path().c_str(), 1);
        platform::CModule module;
        ASSERT_TRUE(module.Load(ProgramPath("ActSkn43.ocx"))) << module.LastError();
        auto reg = module.Function<HRESULT (*)()>("DllRegisterServer");
        ASSERT_TRUE(reg && reg() == S_OK);
    }
    void TearDown() override { platform::SetMessageBoxHandler(m_old); }

    // Installs a handler that takes the window path (as with a display) and
    // whose plain box records what it was asked.
    void Install(const QString &skin)
    {
        auto handler = std::make_shared<CSkinnedMessageBoxHandler>(
            skin,
            [this](const platform::MessageBoxRequest &r) {
                std::lock_guard lock(m_lock);
                plain.push_back(r);
                return int(platform::IDNO);
            },
            false);
        m_old = platform::SetMessageBoxHandler(
            [handler](const platform::MessageBoxRequest &r) { return (*handler)(r); });
    }

    std::vector<platform::MessageBoxRequest> plain;

private:
    TestDir m_store{"skinned-box-store"};
    std::mutex m_lock;
    platform::MessageBoxHandler m_old;
};

} // namespace

TEST_F(SkinnedMessageBoxTest, ASkinThatCannotBeUsedGivesThePlainBoxWithTheMessageOnly)
{
    Install(QStringLiteral("/nonexistent/Mirvane.skin"));
    const int answer =
        platform::ShowMessageBox("환경설정 파일이 정상적이지 않습니다.", "Mirvane", platform::MB_YESNO);
    EXPECT_EQ(answer, platform::IDNO);
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0].text, "환경설정 파일이 정상적이지 않습니다.");
    EXPECT_EQ(plain[0].caption, "Mirvane");
    EXPECT_EQ(plain[0].style, unsigned(platform::MB_YESNO));
}

TEST_F(SkinnedMessageBoxTest, QuestionsFromAnotherThreadAreAnsweredOnTheWindowThread)
{
    Install(QString::fromStdString(ProgramPath("Mirvane.skin")));
    std::atomic<int> answer{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        answer = platform::ShowMessageBox("설치를 완료하려면 시스템을 재시작해야 합니다.", "Mirvane",
                                          platform::MB_YESNO);
        done = true;
    });
    // The window thread keeps running its events while the worker waits.
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 30000));
    worker.join();
    EXPECT_EQ(answer.load(), platform::IDNO);
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0].text, "설치를 완료하려면 시스템을 재시작해야 합니다.");
}
