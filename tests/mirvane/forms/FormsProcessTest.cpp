// The forms in a process of their own without a display, as a whole update
// runs in CI: captions and texts on standard error, answers from
// $VELMOR_MESSAGEBOX_ANSWERS, the download form's progress lines.
#include "RunProgram.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>

namespace {

class FormsProcess : public testing::Test {
protected:
    // A started program takes the first of two settings of one variable, so
    // the private store goes into this process's environment while the test
    // runs; the widget tests of this process keep theirs.
    void SetUp() override
    {
        const char *old = std::getenv("VELMOR_REGISTRY_DIR");
        m_oldStore = old ? old : "";
        setenv("VELMOR_REGISTRY_DIR", m_store.path().c_str(), 1);
    }
    void TearDown() override { setenv("VELMOR_REGISTRY_DIR", m_oldStore.c_str(), 1); }

    ProgramResult Peer(const std::vector<std::string> &args, const std::vector<std::string> &env = {})
    {
        std::vector<std::string> all{"VELMOR_REGISTRY_DIR=" + m_store.path().string(),
                                     "TMPDIR=" + m_tmp.path().string(), "QT_QPA_PLATFORM=offscreen"};
        all.insert(all.end(), env.begin(), env.end());
        return RunProgram(FORMS_PEER, args, m_tmp.path(), all, 60000);
    }

    std::string m_oldStore;
    TestDir m_store{"forms-process-store"};
    TestDir m_tmp{"forms-process-tmp"};
};

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

TEST_F(FormsProcess, MessageBoxesAndTheUpdateListAnswerFromTheEnvironment)
{
    ProgramResult box = Peer({"message", "4", "첫 줄\n둘째 줄"}, {"VELMOR_MESSAGEBOX_ANSWERS=IDNO"});
    EXPECT_EQ(box.exitCode, 0) << box.err;
    EXPECT_EQ(box.out, "RESULT 7\n");
    EXPECT_NE(box.err.find("[Mirvane] 첫 줄\n둘째 줄\n"), std::string::npos) << box.err;

    ProgramResult list = Peer({"list", "<b>고친 점</b>"}, {"VELMOR_MESSAGEBOX_ANSWERS=6"});
    EXPECT_EQ(list.out, "RESULT 6\n") << list.err;
    EXPECT_NE(list.err.find("[벨모어 업데이트 내역] 고친 점\n"), std::string::npos) << list.err;

    ProgramResult status = Peer({"status", "업데이트 정보를 확인하는 중입니다..."});
    EXPECT_EQ(status.out, "RESULT 0\n") << status.err;
    EXPECT_NE(status.err.find("업데이트 정보를 확인하는 중입니다..."), std::string::npos) << status.err;
}

TEST_F(FormsProcess, TheDownloadFormPrintsProgressAtMostTwiceASecond)
{
    // 3 files of 600 KB at about 2 ms a read: a few seconds of downloading.
    const auto start = std::chrono::steady_clock::now();
    ProgramResult run = Peer({"download", "3", "600", "2000", "4"});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "RESULT 5\n") << run.err;
    const std::vector<std::string> lines = Lines(run.err);
    // The caption first (Qt's own notes aside), then the progress.
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[벨모어 업데이트]"), lines.end()) << run.err;
    int progress = 0;
    bool sawFile = false, sawPercent = false, sawSpeed = false;
    for (const std::string &line : lines) {
        if (line.rfind("[벨모어 업데이트] ", 0) != 0)
            continue;
        ++progress;
        sawFile = sawFile || line.find("파일2.cab") != std::string::npos;
        sawPercent = sawPercent || line.find("%") != std::string::npos;
        sawSpeed = sawSpeed || line.find("KB") != std::string::npos;
    }
    EXPECT_TRUE(sawFile && sawPercent && sawSpeed) << run.err;
    // 1800 reads of at least 2 ms: several lines. Never more than two a
    // second, plus the first at once and the last state at the end.
    EXPECT_GE(progress, 3) << run.err;
    EXPECT_LE(progress, static_cast<int>(seconds * 2) + 2) << run.err;
    EXPECT_EQ(lines.back().rfind("[벨모어 업데이트] 설치 완료  파일 다운로드 완료  100%", 0), 0u) << run.err;
}
