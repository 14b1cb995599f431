// Scripts and servers that do not play along: missing sections, huge
// scripts, values longer than the buffers, servers that hang or redirect in
// circles. Each ends in one outcome with its one message, in bounded time.
#include "CUpdateDecision.h"
#include "UpdateTexts.h"

#include "MirvaneTestEnv.h"
#include "RecordingUi.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using Result = CUpdateDecision::Result;

class BadScriptTest : public testing::Test {
protected:
    void SetUp() override
    {
        env.StartSite();
        env.PutStandInProgram();
        env.PutTemplate("update/VelmorLaunch.kus", "[Install]\r\n[ShortCut]\r\n");
    }

    Result Run(const std::map<std::string, std::string> &config = {})
    {
        env.WriteConfig(config);
        m_config = CMirvaneConfig();
        EXPECT_TRUE(m_config.Read(env.Install()));
        CMirvaneCommandLine commandLine("-start 2");
        CUpdateDecision decision(m_config, commandLine, ui, "1.22");
        decision.Downloader().limits.connectTimeoutMs = 2000;
        decision.Downloader().limits.stallTimeoutSeconds = 2;
        decision.Downloader().limits.scriptTimeoutMs = 4000;
        const auto start = std::chrono::steady_clock::now();
        const Result result = decision.Run();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        outcome = decision.Outcome();
        return result;
    }

    MirvaneTestEnv env{"mirvane-bad-script"};
    RecordingUi ui;
    CMirvaneConfig m_config;
    std::string outcome;
    double seconds = 0;
};

const char kScriptMessage[] = "업데이트 스크립트에 이상이 있어 업데이트를 실행하지 않습니다.\n\n";

} // namespace

TEST_F(BadScriptTest, MissingSectionsEndInOneOutcomeEach)
{
    // No "updater" section: no updater to become, so a broken script, not
    // a self-update.
    std::string script = UpdateScript();
    std::string noUpdater = script;
    noUpdater.erase(noUpdater.find("[updater]"),
                    noUpdater.find("[application]") - noUpdater.find("[updater]"));
    env.PutTemplate("update/VelmorUpdate.kus", noUpdater);
    EXPECT_EQ(Run(), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kScript);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{kScriptMessage});
    EXPECT_FALSE(std::filesystem::exists(env.Temp() + "/MirvanePatch"));

    // No "application" section: no root for the launch records.
    ui.boxes.clear();
    env.PutTemplate("update/VelmorUpdate.kus", script.substr(0, script.find("[application]")));
    EXPECT_EQ(Run(), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kRegistry);
    EXPECT_EQ(ui.boxes.size(), 1u);

    // The lists it names are missing: nothing to install.
    ui.boxes.clear();
    env.PutTemplate("update/VelmorUpdate.kus", script);
    EXPECT_EQ(Run({{"Version", "1.0.0.0"}}), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kLaunch);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(ui.forms, 0);
    EXPECT_TRUE(MirvaneTestEnv::WaitForStart(env.Install(), 3));
}

TEST_F(BadScriptTest, AHundredThousandItemsAreReadOnlyAsFarAsTheListBuffersGo)
{
    // Fifty thousand file items and fifty thousand registry items: about 8 MB.
    std::string lists = "[Files]\r\n";
    std::string registry = "[Registry]\r\n";
    std::string items;
    items.reserve(12 * 1024 * 1024);
    for (int i = 0; i < 50000; ++i) {
        const std::string n = std::to_string(i);
        lists += "File" + n + "\r\n";
        registry += "RegistryItemNumber" + n + "\r\n";
        // Files for another system: never selected here.
        items += "[File" + n + "]\r\nVersion=2\r\nInstallOS=%WIN_XP%\r\n";
        items += "[RegistryItemNumber" + n +
                 "]\r\nVersion=2\r\nRootKey=%HKCU%\r\nSubKey=Software\\Quenta\\Test\r\n"
                 "ValName=Last\r\nValue=" +
                 n + "\r\nType=%REG_SZ%\r\n";
    }
    env.PutTemplate("update/VelmorUpdate.kus", UpdateScript("", lists + registry + items));
    EXPECT_EQ(Run({{"Version", "1.0"}}), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kLaunch);
    ASSERT_EQ(ui.forms, 1);
    EXPECT_TRUE(ui.formOptions.items.files.empty());
    // The list section holds what fits in 8192 bytes, in order.
    const std::vector<std::string> &taken = ui.formOptions.items.registries;
    ASSERT_FALSE(taken.empty());
    EXPECT_LT(taken.size(), 8192u / 19);
    EXPECT_EQ(taken.front(), "RegistryItemNumber0");
    EXPECT_EQ(ui.workerResult, INSTALL_WORKER_SUCCESS);
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::Open(platform::RegRoot::HKCU, "Software\\Quenta\\Test", key), S_OK);
    EXPECT_EQ(key.ReadString("Last").value_or(""), taken.back().substr(18));
    EXPECT_TRUE(MirvaneTestEnv::WaitForStart(env.Install()));
}

TEST_F(BadScriptTest, ValuesLongerThanTheBuffersAreCut)
{
    std::string longText;
    for (int i = 0; i < 6000; ++i)
        longText += "긴";
    env.PutTemplate(
        "update/VelmorUpdate.kus",
        UpdateScript("", "[Messages]\r\nLong\r\n[Long]\r\nVersion=2\r\nMsgType=msgOK\r\nMsg=" + longText +
                             "\r\nOK_URL=http://127.0.0.1/" + std::string(20000, 'u') + "\r\n"));
    EXPECT_EQ(Run(), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kLaunch);
    ASSERT_EQ(ui.boxes.size(), 1u);
    // 8191 bytes hold 4095 two-byte characters.
    EXPECT_EQ(platform::AnsiLength(ui.boxes[0].text), 8190u);
    ASSERT_EQ(env.OpenedPages(1).size(), 1u);
    EXPECT_EQ(env.OpenedPages()[0].size(), 8191u);
    EXPECT_TRUE(MirvaneTestEnv::WaitForStart(env.Install()));
}

TEST_F(BadScriptTest, ServersThatHangOrRedirectInCirclesEndInBoundedTime)
{
    // Headers, then nothing.
    env.site->AnswerWith("/update/VelmorUpdate.kus", R"({"body": "[script]\r\nSignature=$WEB_UPDATER$\r\n",
                                                        "length": 100000, "stall_after": 20})");
    EXPECT_EQ(Run(), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kScript);
    EXPECT_LT(seconds, 15);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{kScriptMessage});

    // No answer at all for a long time.
    env.site->Answer("/update/VelmorUpdate.kus", UpdateScript(), 200, 30000);
    ui.boxes.clear();
    EXPECT_EQ(Run(), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kScript);
    EXPECT_LT(seconds, 15);

    // Round and round.
    env.site->AnswerWith("/update/VelmorUpdate.kus", R"({"redirect": "/update/other.kus"})");
    env.site->AnswerWith("/update/other.kus", R"({"redirect": "/update/VelmorUpdate.kus"})");
    ui.boxes.clear();
    EXPECT_EQ(Run(), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kScript);
    EXPECT_LT(seconds, 15);
    EXPECT_EQ(ui.boxes.size(), 1u);

    // A launch script that hangs is no error: its lists are empty.
    env.site->Forget("/update/VelmorUpdate.kus");
    env.PutTemplate("update/VelmorUpdate.kus", UpdateScript());
    env.site->Answer("/update/VelmorLaunch.kus", "[Install]\r\n", 200, 30000);
    ui.boxes.clear();
    EXPECT_EQ(Run(), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kLaunch);
    EXPECT_LT(seconds, 15);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_TRUE(env.Boxes().empty());
    EXPECT_TRUE(MirvaneTestEnv::WaitForStart(env.Install(), 4));
}
