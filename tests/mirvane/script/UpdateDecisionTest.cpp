// The update decision in process: its steps in order, the outcomes and
// their messages, blocked runs, messages of the script, launch items, the
// selection by version text and the version written back. Real HTTP
// against the stand-in site, the real install worker, a private machine.
#include "CUpdateDecision.h"
#include "UpdateTexts.h"

#include "MirvaneTestEnv.h"
#include "RecordingUi.h"

#include "platform/Profile.h"
#include "platform/ShellFolders.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Result = CUpdateDecision::Result;

class UpdateDecisionTest : public testing::Test {
protected:
    void SetUp() override
    {
        env.StartSite();
        env.PutStandInProgram();
        env.PutTemplate("update/VelmorLaunch.kus", "[Install]\r\n[ShortCut]\r\n");
    }

    Result Run(const std::map<std::string, std::string> &config = {},
               const std::string &line = "-start 1 -lport 7000")
    {
        env.WriteConfig(config);
        m_config = CMirvaneConfig();
        EXPECT_TRUE(m_config.Read(env.Install()));
        CMirvaneCommandLine commandLine(line);
        CUpdateDecision decision(m_config, commandLine, ui, "1.22");
        decision.Downloader().limits.connectTimeoutMs = 5000;
        decision.Downloader().limits.stallTimeoutSeconds = 5;
        const Result result = decision.Run();
        outcome = decision.Outcome();
        return result;
    }

    // The program's starts so far (arguments only).
    std::vector<std::string> Started() const
    {
        std::vector<std::string> args;
        for (const std::string &line : env.Starts())
            if (line.rfind("ARGS ", 0) == 0)
                args.push_back(line.substr(5));
        return args;
    }
    bool WaitForStart(std::size_t count = 1) const
    {
        return MirvaneTestEnv::WaitForStart(env.Install(), count);
    }

    MirvaneTestEnv env{"mirvane-decision"};
    RecordingUi ui;
    CMirvaneConfig m_config;
    std::string outcome;
};

// A registry item of the given version, to have something to install
// without a download.
std::string RegistryItem(const std::string &version, const std::string &value = "설치됨")
{
    return "[Registry]\r\nMark\r\n[Mark]\r\nVersion=" + version +
           "\r\nRootKey=%HKCU%\r\nSubKey=Software\\Quenta\\Test\r\nValName=Mark\r\nValue=" + value +
           "\r\nType=%REG_SZ%\r\n";
}

std::string ReadMark()
{
    platform::RegistryKey key;
    if (FAILED(platform::RegistryKey::Open(platform::RegRoot::HKCU, "Software\\Quenta\\Test", key)))
        return std::string();
    return key.ReadString("Mark").value_or(std::string());
}

} // namespace

TEST_F(UpdateDecisionTest, EverythingCurrentStartsTheProgramWithArgumentAndCommandLine)
{
    env.PutTemplate("update/VelmorUpdate.kus", UpdateScript());
    EXPECT_EQ(Run(), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kLaunch);
    ASSERT_TRUE(WaitForStart());
    EXPECT_EQ(Started(), std::vector<std::string>{"/u -start 1 -lport 7000"});
    // Hidden start in the program's own folder.
    EXPECT_EQ(env.Starts()[1], "CWD " + env.Install());
    EXPECT_EQ(ui.statuses, std::vector<std::string>{"업데이트 정보를 확인하는 중입니다..."});
    EXPECT_EQ(ui.statusImage, "msg_icon");
    EXPECT_FALSE(ui.statusOpen);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(ui.forms, 0);
    // Both scripts were fetched once, silently, as local copies from then on.
    EXPECT_EQ(env.site->RequestsFor("/update/VelmorUpdate.kus").size(), 1u);
    EXPECT_EQ(env.site->RequestsFor("/update/VelmorLaunch.kus").size(), 1u);
    EXPECT_EQ(env.site->RequestsFor("/update/VelmorUpdate.kus")[0].agent, "Script");
    EXPECT_EQ(m_config.Script, env.Temp() + "/VelmorUpdate.kus");
    EXPECT_TRUE(env.Boxes().empty());
}

TEST_F(UpdateDecisionTest, ABadOrMissingScriptShowsOneMessageAndStartsTheProgram)
{
    const std::string good = UpdateScript();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"missing", ""},
        {"no script section", good.substr(good.find("[updater]"))},
        {"wrong signature",
         "[script]\r\nSignature=$WEB_INSTALLER$\r\nVersion=1.1\r\n" + good.substr(good.find("[updater]"))},
        {"format 1.2",
         "[script]\r\nSignature=$web_updater$\r\nVersion=1.2\r\n" + good.substr(good.find("[updater]"))},
        {"not an INI file", std::string("\x7f"
                                        "ELF\x01\x02\x00\xff\xfe garbage",
                                        16)},
    };
    std::size_t starts = 0;
    for (const auto &[name, text] : cases) {
        SCOPED_TRACE(name);
        std::filesystem::remove(env.site->FilesDir() / "update/VelmorUpdate.kus.in");
        if (name != "missing")
            env.PutTemplate("update/VelmorUpdate.kus", text);
        ui.boxes.clear();
        EXPECT_EQ(Run(), Result::Started);
        EXPECT_EQ(outcome, UpdateTexts::kScript);
        EXPECT_EQ(ui.Texts(), std::vector<std::string>{
                                  "업데이트 스크립트에 이상이 있어 업데이트를 실행하지 않습니다.\n\n"});
        EXPECT_TRUE(WaitForStart(++starts));
        EXPECT_FALSE(ui.statusOpen);
    }
    // The downloader said nothing of its own.
    EXPECT_TRUE(env.Boxes().empty());
}

TEST_F(UpdateDecisionTest, WithAPublicKeyOnlyScriptsWithAValidSignatureCount)
{
    env.PutTemplate("update/VelmorUpdate.kus", UpdateScript());
    const std::map<std::string, std::string> signedConfig{{"PublicKey", MirvaneTestEnv::SitePublicKey()}};
    EXPECT_EQ(Run(signedConfig), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kLaunch);
    EXPECT_EQ(env.site->RequestsFor("/update/VelmorUpdate.kus.sig").size(), 1u);

    // A signature of other bytes, none at all, or garbage: the "script" outcome.
    env.site->Answer("/update/VelmorUpdate.kus.sig", std::string(64, 'A'));
    EXPECT_EQ(Run(signedConfig), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kScript);
    env.site->Answer("/update/VelmorUpdate.kus.sig", "", 404);
    EXPECT_EQ(Run(signedConfig), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kScript);
    // The rejected script is not left for a later read.
    EXPECT_FALSE(std::filesystem::exists(env.Temp() + "/VelmorUpdate.kus"));

    // Another key: the right signature no longer fits.
    env.site->Forget("/update/VelmorUpdate.kus.sig");
    EXPECT_EQ(Run({{"PublicKey", "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo="}}), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kScript);

    // Without a key no signature is asked for.
    const std::size_t asked = env.site->RequestsFor("/update/VelmorUpdate.kus.sig").size();
    EXPECT_EQ(Run(), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kLaunch);
    EXPECT_EQ(env.site->RequestsFor("/update/VelmorUpdate.kus.sig").size(), asked);
    EXPECT_TRUE(WaitForStart(5));
}

TEST_F(UpdateDecisionTest, AnUnknownRegKeyIsTheRegistryOutcomeBlockedWhenOnline)
{
    env.PutTemplate("update/VelmorUpdate.kus", UpdateScript());
    std::string script = UpdateScript();
    script.replace(script.find("RegKey=%HKCU%"), 13, "RegKey=");
    env.PutTemplate("update/VelmorUpdate.kus", script);
    EXPECT_EQ(Run(), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kRegistry);
    EXPECT_EQ(ui.Texts(),
              std::vector<std::string>{"다운로드/설치 과정에서 오류가 발생했지만\n\n현재 설치된 버젼이 "
                                       "실행가능한 버젼이므로 실행합니다."});
    EXPECT_TRUE(WaitForStart());

    ui.boxes.clear();
    EXPECT_EQ(Run({{"Online", "Yes"}}), Result::Failed);
    EXPECT_EQ(ui.Texts(),
              std::vector<std::string>{"다운로드/설치 과정에서 오류가 발생했습니다.\n\n실행가능한 "
                                       "최소버젼보다 버젼이 낮아 종료됩니다.\n\n잠시 후에 다시 실행하시기 "
                                       "바랍니다."});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Started().size(), 1u);
}

TEST_F(UpdateDecisionTest, AFailedDownloadStartsTheProgramUnlessItsVersionIsTooOld)
{
    const std::string files =
        "[Files]\r\nMain\r\n[Main]\r\nVersion=1.0.0.1\r\nSrc=@SITE_URL@/files/missing.cab\r\n"
        "DestDir=%INSTALL_DIR%\r\nFilename=Velmor.exe\r\n";
    env.PutTemplate("update/VelmorUpdate.kus", UpdateScript("", files));
    env.site->Answer("/files/missing.cab", "", 404);
    EXPECT_EQ(Run({{"Version", "1.0.0.0"}}), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kDownload);
    EXPECT_EQ(ui.forms, 1);
    EXPECT_EQ(ui.formImage, "download_icon");
    EXPECT_EQ(ui.formOptions.stepTotal, 2);
    // The file fetch's own message, then the outcome's.
    ASSERT_EQ(env.Boxes().size(), 1u);
    EXPECT_EQ(env.Boxes()[0].text, "Error Code : 404, HttpQueryInfo Failed!");
    EXPECT_EQ(env.Boxes()[0].caption, "Mirvane");
    EXPECT_EQ(ui.Texts(),
              std::vector<std::string>{"다운로드/설치 과정에서 오류가 발생했지만\n\n현재 설치된 버젼이 "
                                       "실행가능한 버젼이므로 실행합니다."});
    EXPECT_TRUE(WaitForStart());
    // The version stays what it was.
    EXPECT_NE(env.ConfigText().find("Version=1.0.0.0"), std::string::npos);

    // Below "NecessaryVer": end without the program.
    ui.boxes.clear();
    EXPECT_EQ(Run({{"Version", "0.9"}}), Result::Failed);
    EXPECT_EQ(ui.Texts().size(), 1u);
    EXPECT_EQ(ui.Texts()[0].rfind("다운로드/설치 과정에서 오류가 발생했습니다.", 0), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Started().size(), 1u);
}

TEST_F(UpdateDecisionTest, ACancelledDownloadStartsTheProgramUnlessBlocked)
{
    env.PutTemplate(
        "update/VelmorUpdate.kus",
        UpdateScript("", "[Files]\r\nMain\r\n[Main]\r\nVersion=1.0.0.1\r\nSrc=@SITE_URL@/files/x.cab\r\n"
                         "DestDir=%INSTALL_DIR%\r\nFilename=x.exe\r\n"));
    env.site->Answer("/files/x.cab", std::string(100000, 'x'));
    ui.cancelDownload = true;
    EXPECT_EQ(Run({{"Version", "1.0.0.0"}}), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kCancel);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_TRUE(WaitForStart());

    EXPECT_EQ(Run({{"Version", "1.0.0.0"}, {"Online", "yes"}}), Result::Ended);
    EXPECT_EQ(ui.Texts(),
              std::vector<std::string>{
                  "사용자에의해 자동 업데이트가 취소되었습니다.\n\n실행가능한 최소버젼보다 버젼이 "
                  "낮아 실행할 수 없습니다.\n\n실행을 하시려면 먼저 업데이트를 받으셔야 합니다."});
    EXPECT_FALSE(std::filesystem::exists(env.Install() + "/x.exe"));
}

TEST_F(UpdateDecisionTest, VersionsCompareAsTextAndTheNewVersionIsWrittenBack)
{
    // Installed 1.10, script 1.9: "1.10" sorts before "1.9", so 1.9 is newer.
    std::string script = UpdateScript("", RegistryItem("1.9"));
    script.replace(script.find("version=1.0.0.1"), 15, "version=1.9");
    env.PutTemplate("update/VelmorUpdate.kus", script);
    EXPECT_EQ(Run({{"Version", "1.10"}}), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kLaunch);
    EXPECT_EQ(ui.forms, 1);
    EXPECT_EQ(ui.formOptions.items.registries, std::vector<std::string>{"Mark"});
    EXPECT_EQ(ReadMark(), "설치됨");
    EXPECT_EQ(m_config.Version, "1.9");
    EXPECT_NE(env.ConfigText().find("Version=1.9\r\n"), std::string::npos);
    EXPECT_TRUE(WaitForStart());

    // Now current: nothing to do, the program starts at once.
    EXPECT_EQ(Run({{"Version", "1.9"}}), Result::Started);
    EXPECT_EQ(ui.forms, 1);

    // An installed 1.9 against items of 1.10: older, never selected.
    script = UpdateScript("", RegistryItem("1.10", "다시"));
    script.replace(script.find("version=1.0.0.1"), 15, "version=1.10");
    env.PutTemplate("update/VelmorUpdate.kus", script);
    EXPECT_EQ(Run({{"Version", "1.9"}}), Result::Started);
    EXPECT_EQ(ui.forms, 1);
    EXPECT_EQ(ReadMark(), "설치됨");
}

TEST_F(UpdateDecisionTest, MessagesAreShownInOrderAndTheirOptionsDecide)
{
    const std::string messages =
        "[Messages]\r\nFirst\r\nOld\r\nQuestion\r\nOdd\r\nStop\r\nAfter\r\n"
        "[First]\r\nVersion=1.9\r\nMsg=첫 줄\\n둘째 줄\r\nMsgType=msgOK\r\n"
        "[Old]\r\nVersion=1.0\r\nMsg=지난 소식\r\nMsgType=msgOK\r\n"
        "[Question]\r\nVersion=2\r\nMsg=공지를 볼까요?\r\nMsgType=MSGOKCANCEL\r\n"
        "OK_URL=http://127.0.0.1/ok\r\nCANCEL_URL=http://127.0.0.1/notice\r\n"
        "[Odd]\r\nVersion=2\r\nMsg=보이지 않음\r\nMsgType=msgYESNO\r\nOK_UpdateOption=no\r\n"
        "[Stop]\r\nVersion=2\r\nMsg=점검 중입니다.\r\nMsgType=msgOK\r\nOK_UpdateOption=NO\r\n"
        "[After]\r\nVersion=2\r\nMsg=나오면 안 됨\r\nMsgType=msgOK\r\n";
    env.PutTemplate("update/VelmorUpdate.kus", UpdateScript("", messages));
    ui.answers = {platform::IDOK, platform::IDCANCEL};
    EXPECT_EQ(Run({{"Version", "1.10"}}), Result::Ended);
    EXPECT_EQ(outcome, UpdateTexts::kEnd);
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"첫 줄\n둘째 줄", "공지를 볼까요?", "점검 중입니다."}));
    EXPECT_EQ(ui.boxes[1].type, unsigned(platform::MB_OKCANCEL));
    EXPECT_EQ(ui.boxes[0].type, unsigned(platform::MB_OK));
    EXPECT_EQ(env.OpenedPages(1), std::vector<std::string>{"http://127.0.0.1/notice"});
    EXPECT_FALSE(ui.statusOpen);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(Started().empty());
    // Ended before the launch script.
    EXPECT_TRUE(env.site->RequestsFor("/update/VelmorLaunch.kus").empty());
}

TEST_F(UpdateDecisionTest, MissingLaunchItemsAreInstalledCountedAndOffered)
{
    env.PutTemplate("update/VelmorLaunch.kus",
                    "[Install]\r\nTool\r\n[ShortCut]\r\nLink\r\nTool\r\n"
                    "[Tool]\r\nGUID={7A1}\r\nFileName=tool.exe\r\nDestDir=%INSTALL_DIR%\\tools\r\n"
                    "URL=@SITE_URL@/launch/tool.exe\r\nInformation=도구를 실행할까요?\r\n"
                    "InstallCount=@SITE_URL@/count/install\r\nDownCount=@SITE_URL@/count/down\r\n"
                    "[Link]\r\nGUID={7B2}\r\nInformation=이미 있음\r\n");
    std::filesystem::create_directories(env.site->FilesDir() / "launch");
    std::filesystem::copy_file(STARTED_PROGRAM, env.site->FilesDir() / "launch/tool.exe");
    platform::RegistryKey installed;
    ASSERT_EQ(platform::RegistryKey::Create(platform::RegRoot::HKCU,
                                            "Software\\Quenta\\Velmor\\Launch_GUID\\{7B2}", installed),
              S_OK);
    ASSERT_EQ(installed.WriteString("", "{7B2}"), S_OK);
    env.PutTemplate("update/VelmorUpdate.kus", UpdateScript("", RegistryItem("1.0.0.1")));

    EXPECT_EQ(Run(), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kLaunch);
    // Only the missing item, once, though two lists name it; two steps.
    ASSERT_EQ(ui.forms, 1);
    EXPECT_EQ(ui.formOptions.launchItems, std::vector<std::string>{"Tool"});
    EXPECT_EQ(ui.formOptions.stepTotal, 2);
    EXPECT_TRUE(ui.formOptions.items.Empty()); // the installed version is current
    platform::RegistryKey record;
    EXPECT_EQ(platform::RegistryKey::Open(platform::RegRoot::HKCU,
                                          "Software\\Quenta\\Velmor\\Launch_GUID\\{7A1}", record),
              S_OK);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "도구를 실행할까요?");
    EXPECT_EQ(ui.boxes[0].type, unsigned(platform::MB_YESNO));
    EXPECT_TRUE(MirvaneTestEnv::WaitForStart(env.Install() + "/tools"));
    EXPECT_EQ(MirvaneTestEnv::Starts(env.Install() + "/tools")[1], "CWD " + env.Install() + "/tools");
    EXPECT_TRUE(env.site->WaitFor("/count/install"));
    EXPECT_EQ(env.site->RequestsFor("/count/down").size(), 1u);
    EXPECT_TRUE(WaitForStart());
    // The application part was current: no version written, no update list.
    EXPECT_TRUE(ui.lists.empty());

    // Next time the item is there: nothing to do.
    EXPECT_EQ(Run(), Result::Started);
    EXPECT_EQ(ui.forms, 1);
}

TEST_F(UpdateDecisionTest, TheUpdateListDecidesAfterAnUpdate)
{
    env.PutTemplate("update/VelmorUpdate.kus",
                    UpdateScript("Information=<b>고친 점</b>\r\n", RegistryItem("1.0.0.1")));
    ui.listAnswer = platform::IDNO;
    EXPECT_EQ(Run({{"Version", "1.0.0.0"}}), Result::Ended);
    EXPECT_EQ(ui.lists, std::vector<std::string>{"<b>고친 점</b>"});
    // The update itself is done and recorded.
    EXPECT_NE(env.ConfigText().find("Version=1.0.0.1"), std::string::npos);

    ui.listAnswer = platform::IDYES;
    platform::RegistryKey::DeleteKey(platform::RegRoot::HKCU, "Software\\Quenta\\Test");
    EXPECT_EQ(Run({{"Version", "1.0.0.0"}}), Result::Started);
    EXPECT_EQ(ui.lists.size(), 2u);
    EXPECT_TRUE(WaitForStart());
}

TEST_F(UpdateDecisionTest, AMissingProgramOrOneThatCannotStartIsReported)
{
    env.PutTemplate("update/VelmorUpdate.kus", UpdateScript());
    EXPECT_EQ(Run({{"Execute", env.Install() + "/없음.exe"}}), Result::Failed);
    EXPECT_EQ(ui.Texts(),
              std::vector<std::string>{"'" + env.Install() +
                                       "/없음.exe'(을)를 찾을 수 없습니다.\n\n'벨모개인방송'(을)를 다시 "
                                       "설치하시기 바랍니다."});
    ui.boxes.clear();
    EXPECT_EQ(Run({{"Execute", env.Install()}}), Result::Failed);
    EXPECT_EQ(ui.Texts(),
              std::vector<std::string>{"'" + env.Install() +
                                       "'(을)를 실행할 수 없습니다.\n\n잠시 후에 다시 실행하시기 바랍니다."});
}

// The updater started with "/patch" by its copy, after the patch, that
// still is not the script's updater: the patch did not bring it, and
// patching again would go on for ever. It says so and goes on as "script".
TEST_F(UpdateDecisionTest, AnUpdaterStillStaleAfterItsPatchGoesOnAsScript)
{
    env.PutTemplate("update/VelmorUpdate.kus", UpdateScript("", "", "1.23"));
    EXPECT_EQ(Run({}, "/patch -start 1"), Result::Started);
    EXPECT_EQ(outcome, UpdateTexts::kScript);
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{UpdateTexts::kPatchFailed, UpdateTexts::kScriptFailed}));
    ASSERT_TRUE(WaitForStart());
    EXPECT_EQ(Started(), std::vector<std::string>{"/u -start 1"});
    EXPECT_TRUE(env.site->RequestsFor("/update/patch/MirvanePatch.cab").empty());
    EXPECT_FALSE(std::filesystem::exists(env.Temp() + "/MirvanePatch"));
}

// A temporary folder another user owns or may enter is not used: its
// message, and the run ends before anything is fetched or started.
TEST_F(UpdateDecisionTest, ATemporaryFolderOfAnotherUserIsRefused)
{
    env.PutTemplate("update/VelmorUpdate.kus", UpdateScript());
    ASSERT_FALSE(platform::GetTempPath().empty());
    ASSERT_EQ(
        ::geteuid() == 0 ? ::chown(env.Temp().c_str(), 65534, 65534) : ::chmod(env.Temp().c_str(), 0777), 0);
    EXPECT_EQ(Run(), Result::Failed);
    std::string refusal = platform::kTempFolderRefused;
    refusal.replace(refusal.find("%s"), 2, env.Temp());
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{refusal});
    EXPECT_TRUE(env.site->RequestsFor("/update/VelmorUpdate.kus").empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(env.Starts().empty());
}
