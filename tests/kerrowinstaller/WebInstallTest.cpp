// The web install flow in process: the control's Install against the
// stand-in site, with the real install engine, the real registry store and
// the real windows on Qt's offscreen platform. Every outcome with its result
// text and message, the installation record, the uninstall entry and
// shortcut, the installed-already path, the roll-back, the restart.
#include "CInstallWindows.h"
#include "CInstaller.h"
#include "CWebInstall.h"

#include "CComPtr.h"
#include "CSetupFile.h"
#include "KerrowGuids.h"

#include "KerrowTestEnv.h"
#include "QtTestApp.h"

#include "platform/Process.h"
#include "platform/Profile.h"
#include "platform/ShellFolders.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <thread>

namespace {

namespace fs = std::filesystem;
using platform::RegRoot;

constexpr char kScriptUrlPath[] = "/down/velmor/script/VelmorWebScript.kus";

// The program the tests install: it notes its arguments and folder.
const char kProgram[] = "#!/bin/sh\n"
                        "d=$(dirname \"$0\")\n"
                        "printf '%s\\n' \"$@\" > \"$d/args.tmp\" && mv \"$d/args.tmp\" \"$d/args.txt\"\n"
                        "pwd > \"$d/cwd.txt\"\n";

struct ScriptParts {
    std::string header = "Signature=$WEB_UPDATER$\nVersion=1.1\n";
    std::string regKey = "%HKCU%";
    std::string subFolder = "Quenta\\Velmor";
    std::string pgroup = "벨모개인방송";
    std::string installPath;
    std::string files = "Program\n";
    std::string inis = "Config\n";
    std::string application; // more lines of [application]
    std::string extra;
};

std::string MakeScript(const ScriptParts &p)
{
    return "[script]\n" + p.header +
           "\n[application]\n"
           "PGroup=" +
           p.pgroup +
           "\n"
           "Version=1.0.0.1\n"
           "SubFolder=" +
           p.subFolder +
           "\n"
           "SubKey=Software\\Quenta\\Velmor\n"
           "RegKey=" +
           p.regKey +
           "\n"
           "Install_Path=" +
           p.installPath +
           "\n"
           "Install_File=Files\nInstall_Reg=Regs\nInstall_Link=Links\nInstall_Codec=Codecs\n"
           "Update_Ini=Inis\nUninstallFile=Uninstalls\nUninstallShortCut=UninstallLink\n" +
           p.application + "\n[Files]\n" + p.files +
           "\n[Program]\nSrc=@SITE@/files/Velmor.exe\nDestDir=%INSTALL_DIR%\nFilename=Velmor.exe\n"
           "\n[Regs]\nVersionValue\n"
           "\n[VersionValue]\nRootKey=%HKCU%\nSubKey=Software\\Quenta\\Velmor\nValName=Version\n"
           "Value=%APP_VERSION%\nType=%REG_SZ%\n"
           "\n[Links]\nMenuLink\n"
           "\n[MenuLink]\nType=%LINK_FILE%\nDestDir=%APP_PROGRAM_GROUP_DIR%\nName=%APP_KOR_NAME%\n"
           "LinkFile=%INSTALL_DIR%\\Velmor.exe\nWorkDir=%INSTALL_DIR%\n"
           "\n[Inis]\n" +
           p.inis +
           "\n[Config]\nType=%INI_PRIVATE%\nDestDir=%INSTALL_DIR%\nFilename=Mirvane.cfg\nSection=config\n"
           "Key=Execute\nValue=%INSTALL_DIR%/Velmor.exe\n"
           "\n[Codecs]\n\n[Uninstalls]\n"
           "\n[UninstallLink]\nName=%APP_KOR_NAME% 제거\nIconFile=%INSTALL_DIR%\\Velmor.exe\nIconIndex=0\n" +
           p.extra;
}

std::string Reg(RegRoot root, const std::string &key, const std::string &name)
{
    platform::RegistryKey opened;
    if (FAILED(platform::RegistryKey::Open(root, key, opened)))
        return "<no key>";
    return opened.ReadString(name).value_or("<no value>");
}

bool KeyExists(RegRoot root, const std::string &key)
{
    platform::RegistryKey opened;
    return SUCCEEDED(platform::RegistryKey::Open(root, key, opened));
}

bool WaitFor(const std::function<bool()> &done, int timeoutMs = 20000)
{
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

const std::string kUninstallKey = "software\\Microsoft\\windows\\currentversion\\uninstall\\벨모개인방송";

class WebInstall : public testing::Test {
protected:
    WebInstall() : env("kerrow-install")
    {
        App<QApplication>();
        env.Serve("/files/Velmor.exe", kProgram);
        control.Attach(CInstaller::Create(env.Site().BaseUrl(), BuildSitePublicKey(),
                                          std::make_unique<CInstallWindows>()));
    }

    void ServeScript(const ScriptParts &parts = ScriptParts())
    {
        env.ServeScript(kScriptUrlPath, MakeScript(parts));
    }

    // Install(execute, showMessages): the HRESULT and the result text.
    std::pair<HRESULT, std::string> Install(LONG execute, LONG showMessages)
    {
        CComBSTR result;
        const HRESULT hr = control->Install(execute, showMessages, result.Out());
        return {hr, result.Utf8()};
    }

    void Put(HRESULT (IInstaller::*put)(BSTR), const std::string &value)
    {
        const CComBSTR text(value);
        ASSERT_EQ((control.Get()->*put)(text.Get()), S_OK);
    }

    std::vector<std::string> Messages() const
    {
        std::vector<std::string> texts;
        for (const platform::MessageBoxRequest &box : env.Boxes()) {
            EXPECT_EQ(box.caption, "펠룬") << box.text;
            texts.push_back(box.text);
        }
        return texts;
    }

    std::string InstallDir() const { return env.ProgramFiles() + "/Quenta/Velmor"; }
    std::string ProgramGroup() const { return env.Applications() + "/벨모개인방송"; }
    std::string UninstallFile() const { return InstallDir() + "/VelmorUnInstall.INF"; }
    const CInstallerState &State() const { return static_cast<CInstaller *>(control.Get())->State(); }

    std::string Args() const { return TestDir::Read(InstallDir() + "/args.txt"); }

    KerrowTestEnv env;
    CComPtr<IInstaller> control;
};

} // namespace

TEST_F(WebInstall, FirstInstallationRecordsItselfAndTheNextCallOnlyStartsTheProgram)
{
    ServeScript();
    const auto [hr, result] = Install(0, 1);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(result, "Success=NotExecute");
    EXPECT_EQ(Messages(), std::vector<std::string>{"벨모개인방송의 설치가 성공적으로 완료되었습니다."});

    // What the script installed, in the Program Files folder joined with SubFolder.
    struct stat st {};
    ASSERT_EQ(::stat((InstallDir() + "/Velmor.exe").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IXUSR, 0u) << "a downloaded script is made executable";
    EXPECT_EQ(platform::GetPrivateProfileString("config", "Execute", "", 1024, InstallDir() + "/Mirvane.cfg"),
              InstallDir() + "/Velmor.exe");
    EXPECT_TRUE(fs::exists(ProgramGroup() + "/벨모개인방송.desktop"));
    EXPECT_EQ(Reg(RegRoot::HKCU, "Software\\Quenta\\Velmor", "Version"), "1.0.0.1");

    // The installation record and the uninstall entry.
    EXPECT_EQ(Reg(RegRoot::HKCU, "Software\\Quenta\\Velmor", "install_path"), InstallDir());
    EXPECT_EQ(Reg(RegRoot::HKCU, "Software\\Quenta\\Velmor", "PGroup"), ProgramGroup());
    EXPECT_EQ(Reg(RegRoot::HKLM, kUninstallKey, "UninstallString"),
              "rundll32.exe advpack.dll,LaunchINFSection " + UninstallFile());
    EXPECT_EQ(Reg(RegRoot::HKLM, kUninstallKey, "DisplayName"), "벨모개인방송");
    EXPECT_EQ(Reg(RegRoot::HKLM, kUninstallKey, "DisplayIcon"), InstallDir() + "/Velmor.exe,0");

    // The uninstall file removes the record and the whole entry.
    const std::vector<std::string> delReg =
        platform::GetPrivateProfileSection("DelRegSection", 8192, UninstallFile());
    for (const std::string &line :
         {std::string("HKCU,\"Software\\Quenta\\Velmor\",\"PGroup\""),
          std::string("HKCU,\"Software\\Quenta\\Velmor\",\"install_path\""),
          std::string("HKLM,\"software\\microsoft\\windows\\currentversion\\uninstall\",\"벨모개인방송\""),
          std::string("HKLM,\"software\\microsoft\\windows\\currentversion\\uninstall\\벨모개인방송\"")})
        EXPECT_NE(std::find(delReg.begin(), delReg.end(), line), delReg.end()) << line;

    // The shortcut to the uninstaller, a desktop entry recorded like any other.
    const std::string link = ProgramGroup() + "/벨모개인방송 제거.desktop";
    const std::string entry = TestDir::Read(link);
    EXPECT_NE(entry.find("Exec=rundll32.exe advpack.dll,LaunchINFSection " + UninstallFile()),
              std::string::npos)
        << entry;
    EXPECT_NE(entry.find("Icon=" + InstallDir() + "/Velmor.exe"), std::string::npos) << entry;
    EXPECT_EQ(platform::GetPrivateProfileString("UnInstallFile", link, "", 64, UninstallFile()), "install");

    // Installed: Install(1, 0) fetches only the script and starts the program.
    env.Answer({});
    const std::size_t boxes = env.Boxes().size();
    LONG port = 7000;
    control->put_ListenPort(port);
    control->put_EncoderListenPort(7002);
    const auto [hr2, result2] = Install(1, 0);
    EXPECT_EQ(hr2, S_OK);
    EXPECT_EQ(result2, "Success=Execute");
    EXPECT_EQ(env.Boxes().size(), boxes);
    ASSERT_TRUE(WaitFor([&] { return fs::exists(InstallDir() + "/args.txt"); }));
    EXPECT_EQ(Args(), "-start\n1\n-lport\n7000\n-elport\n7002\n");
    EXPECT_EQ(TestDir::Read(InstallDir() + "/cwd.txt"), InstallDir() + "\n")
        << "started in the install folder";
    EXPECT_EQ(State().argument, " -start 1 -lport 7000 -elport 7002") << "Argument holds the built line";
    EXPECT_EQ(env.Site().RequestsFor(kScriptUrlPath).size(), 2u);
    EXPECT_EQ(env.Site().RequestsFor("/files/Velmor.exe").size(), 1u);

    // Install(0, 1) on an installed machine says so and starts nothing.
    const auto [hr3, result3] = Install(0, 1);
    EXPECT_EQ(hr3, S_OK);
    EXPECT_EQ(result3, "Success=NotExecute");
    EXPECT_EQ(Messages().back(), "벨모개인방송(이)가 이미 설치되어 있습니다.");
}

TEST_F(WebInstall, TheUninstallStringRemovesEverythingTheInstallationMadeTheEntryIncluded)
{
    ServeScript();
    ASSERT_EQ(Install(0, 0).second, "Success=NotExecute");
    const std::string command = Reg(RegRoot::HKLM, kUninstallKey, "UninstallString");
    env.Set("VELMOR_MESSAGEBOX_ANSWERS", "IDYES,IDOK");
    EXPECT_EQ(platform::RunCommandText(command, std::string(), true), 0);

    EXPECT_FALSE(fs::exists(InstallDir())) << "files, the uninstall file and the folder";
    EXPECT_FALSE(fs::exists(env.ProgramFiles() + "/Quenta"));
    EXPECT_TRUE(fs::exists(env.ProgramFiles())) << "the folder that was there stays";
    EXPECT_FALSE(fs::exists(ProgramGroup())) << "menu entries and the group";
    EXPECT_EQ(Reg(RegRoot::HKCU, "Software\\Quenta\\Velmor", "install_path"), "<no value>");
    EXPECT_EQ(Reg(RegRoot::HKCU, "Software\\Quenta\\Velmor", "PGroup"), "<no value>");
    EXPECT_EQ(Reg(RegRoot::HKCU, "Software\\Quenta\\Velmor", "Version"), "<no value>");
    EXPECT_FALSE(KeyExists(RegRoot::HKLM, kUninstallKey)) << "the uninstall entry itself goes";

    // And the next Install installs again.
    EXPECT_EQ(Install(0, 0).second, "Success=NotExecute");
    EXPECT_EQ(env.Site().RequestsFor("/files/Velmor.exe").size(), 2u);
}

TEST_F(WebInstall, ScriptOutcomes)
{
    // No script on the site.
    auto [hr, result] = Install(1, 0);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(result, "fail=script");
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], "인스톨 정보파일을 다운로드하지 못했습니다.\n\n인터넷이 연결되어있는지 확인하신 "
                             "후 다시 시도해주세요.");

    // Another signature.
    ScriptParts parts;
    parts.header = "Signature=$SOMETHING$\nVersion=1.1\n";
    ServeScript(parts);
    std::tie(hr, result) = Install(1, 0);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(result, "fail=script");

    // A newer script format: "Version", and nothing is installed.
    parts.header = "Signature=$web_updater$\nVersion=1.2\n";
    ServeScript(parts);
    std::tie(hr, result) = Install(1, 0);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(result, "Version");
    EXPECT_EQ(Messages().back(), "인스톨러의 버젼이 낮습니다. 인스톨러를 최신버젼으로 설치하셔야 합니다.");
    EXPECT_FALSE(fs::exists(InstallDir()));
    EXPECT_TRUE(env.Site().RequestsFor("/files/Velmor.exe").empty());

    // A root key the engine does not know: "Fail".
    parts = ScriptParts();
    parts.regKey = "%HKXX%";
    ServeScript(parts);
    std::tie(hr, result) = Install(1, 0);
    EXPECT_EQ(result, "Fail");
    EXPECT_EQ(Messages().back(), "설치가 제대로 이루어지지 않았습니다.");
    EXPECT_EQ(env.Site().RequestsFor(kScriptUrlPath).size(), 4u) << "each Install fetches the script once";
}

TEST_F(WebInstall, APageCannotChooseAScriptProgramOrArgumentsOutsideTheRules)
{
    ServeScript();
    ServiceSite other(fs::path(env.Path("other-site")));
    env.ServeScript(kScriptUrlPath, MakeScript(ScriptParts()));
    Put(&IInstaller::put_Script, other.BaseUrl() + kScriptUrlPath);
    auto [hr, result] = Install(1, 0);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(result, "Fail");
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].find(other.BaseUrl()), std::string::npos) << Messages()[0];
    EXPECT_NE(Messages()[0].find(env.Site().BaseUrl()), std::string::npos) << Messages()[0];
    EXPECT_TRUE(other.Requests().empty());
    EXPECT_TRUE(env.Site().Requests().empty());

    Put(&IInstaller::put_Script, env.Site().BaseUrl() + kScriptUrlPath);
    Put(&IInstaller::put_ExeName, "../../../usr/bin/id");
    std::tie(hr, result) = Install(1, 0);
    EXPECT_EQ(result, "Fail");
    EXPECT_NE(Messages().back().find("../../../usr/bin/id"), std::string::npos);

    Put(&IInstaller::put_ExeName, "Velmor.exe");
    control->put_Start(2);
    Put(&IInstaller::put_ConnectURL, "10.0.0.5 -onairrul http://evil.example/");
    std::tie(hr, result) = Install(1, 0);
    EXPECT_EQ(result, "Fail");
    EXPECT_NE(Messages().back().find("ConnectURL"), std::string::npos);
    EXPECT_TRUE(env.Site().Requests().empty()) << "refused before anything is fetched";
    EXPECT_FALSE(fs::exists(InstallDir()));
}

TEST_F(WebInstall, LaunchOutcomes)
{
    ScriptParts parts;
    parts.application = "Startable=Other.exe, Mirvane.cfg\n";
    ServeScript(parts);
    ASSERT_EQ(Install(0, 0).second, "Success=NotExecute");

    // The program is not there.
    Put(&IInstaller::put_ExeName, "Other.exe");
    auto [hr, result] = Install(1, 0);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(result, "Success=ExecuteFail");
    EXPECT_EQ(Messages().back(),
              "'Other.exe'(을)를 찾을 수 없습니다.\n\n'벨모개인방송'(을)를 다시 설치하시기 바랍니다.");

    // It is there but cannot be started.
    Put(&IInstaller::put_ExeName, "Mirvane.cfg");
    std::tie(hr, result) = Install(1, 0);
    EXPECT_EQ(result, "Success=ExecuteFail");
    EXPECT_EQ(Messages().back(),
              "프로그램의 설치가 완료되었으나\n\n벨모개인방송(을)를 실행시키지 못했습니다.");

    // Waiting: the page's own Argument, not the built line, and a wait.
    Put(&IInstaller::put_ExeName, "Velmor.exe");
    control->put_Waiting(1);
    Put(&IInstaller::put_Argument, "-start 1 -tag page's");
    std::tie(hr, result) = Install(1, 0);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(result, "Success = ExecuteWaitSuccess");
    ASSERT_TRUE(WaitFor([&] { return fs::exists(InstallDir() + "/args.txt"); }));
    EXPECT_EQ(Args(), "-start\n1\n-tag\npage's\n");
    EXPECT_EQ(State().argument, "-start 1 -tag page's");
}

TEST_F(WebInstall, WritingLauncherZeroInstallsAndStartsLikeOne)
{
    ServeScript();
    control->put_Start(0);
    Put(&IInstaller::put_ConnectURL, "127.0.0.1");
    EXPECT_EQ(control->put_Launcher(0), S_OK);
    ASSERT_TRUE(WaitFor([&] { return fs::exists(InstallDir() + "/args.txt"); }));
    EXPECT_EQ(Args(), "-start\n2\n-curl\n127.0.0.1\n-cport\n64002\n-ceport\n8080\n");
    CComPtr<IInstallerResult> last;
    ASSERT_EQ(control.QueryInterface(IID_IInstallerResult, last), S_OK);
    CComBSTR text;
    last->GetLastResult(text.Out());
    EXPECT_EQ(text.Utf8(), "Success=Execute");
    EXPECT_TRUE(env.Boxes().empty()) << "put Launcher shows no informational message";
}

TEST_F(WebInstall, TheConfirmDialogChoosesTheFolderOrCancels)
{
    ScriptParts parts;
    parts.installPath = "%USER_DOCUMENTS_DIR%\\Elsewhere";
    ServeScript(parts);
    control->put_ViewConfirm(1);
    control->put_ViewProgress(0);

    env.Answer({platform::IDCANCEL});
    auto [hr, result] = Install(0, 0);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(result, "Cancel");
    ASSERT_EQ(Messages().size(), 2u);
    EXPECT_NE(Messages()[0].find("벨모개인방송(을)를 설치합니다."), std::string::npos);
    EXPECT_NE(Messages()[0].find(InstallDir()), std::string::npos) << "Program Files joined with SubFolder";
    EXPECT_EQ(Messages()[1], "사용자의 취소로 해당 프로그램을 설치하지 않습니다.");
    EXPECT_FALSE(fs::exists(InstallDir()));
    EXPECT_TRUE(env.Site().RequestsFor("/files/Velmor.exe").empty());

    env.Answer({platform::IDOK});
    std::tie(hr, result) = Install(0, 0);
    EXPECT_EQ(result, "Success=NotExecute");
    EXPECT_TRUE(fs::exists(InstallDir() + "/Velmor.exe")) << "the script's Install_Path is not used here";
    EXPECT_EQ(State().viewProgress, 1) << "the progress window is forced on";
}

TEST_F(WebInstall, AnInstallWhileOneRunsSaysSoAndFails)
{
    ServeScript();
    control->put_ViewConfirm(1);
    // The page asks again while the first installation waits for its
    // confirmation.
    std::pair<HRESULT, std::string> second;
    platform::MessageBoxHandler recorder;
    recorder = platform::SetMessageBoxHandler([&](const platform::MessageBoxRequest &box) {
        const int answer = recorder(box);
        if (env.Boxes().size() == 1)
            second = Install(1, 0);
        return answer;
    });
    const auto [hr, result] = Install(0, 0);
    platform::SetMessageBoxHandler(recorder);
    EXPECT_EQ(result, "Success=NotExecute") << "the first goes on";
    EXPECT_EQ(second, std::make_pair(S_FALSE, std::string("Fail")));
    ASSERT_EQ(Messages().size(), 2u);
    EXPECT_EQ(Messages()[1], "벨모개인방송의 설치가 이미 진행 중입니다.");
}

TEST_F(WebInstall, WithoutConfirmationInstallPathIsTheBaseFolder)
{
    ScriptParts parts;
    parts.installPath = "%USER_DOCUMENTS_DIR%\\Apps";
    ServeScript(parts);
    control->put_ViewProgress(0);
    ASSERT_EQ(Install(0, 0).second, "Success=NotExecute");
    const std::string dir = env.Path("home") + "/Documents/Apps/Quenta/Velmor";
    EXPECT_TRUE(fs::exists(dir + "/Velmor.exe"));
    EXPECT_EQ(Reg(RegRoot::HKCU, "Software\\Quenta\\Velmor", "install_path"), dir);
}

TEST_F(WebInstall, AFailedInstallationIsRolledBack)
{
    ScriptParts parts;
    parts.inis = "Config\nBroken\n";
    parts.extra = "\n[Broken]\nType=%INI_NOSUCHTYPE%\nDestDir=%INSTALL_DIR%\nFilename=x.ini\n";
    ServeScript(parts);
    const auto [hr, result] = Install(1, 1);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(result, "Fail");
    EXPECT_EQ(Messages().back(), "설치가 제대로 이루어지지 않았습니다.");
    EXPECT_EQ(Reg(RegRoot::HKCU, "Software\\Quenta\\Velmor", "install_path"), "<no value>")
        << "nothing is recorded as installed";
    // The roll-back runs on its own, asking nothing.
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(env.ProgramFiles() + "/Quenta"); }, 30000))
        << "files and the folders the installation made are removed";
    EXPECT_TRUE(
        WaitFor([&] { return Reg(RegRoot::HKCU, "Software\\Quenta\\Velmor", "Version") == "<no value>"; }));
    EXPECT_FALSE(fs::exists(ProgramGroup() + "/벨모개인방송.desktop"));
}

TEST_F(WebInstall, AFailureBeforeTheUninstallFileExistsHasNothingToRollBack)
{
    ScriptParts parts;
    parts.files = "Program\nMissing\n";
    parts.extra = "\n[Missing]\nSrc=@SITE@/files/missing.bin\nSHA256=" + std::string(64, '0') +
                  "\nDestDir=%INSTALL_DIR%\nFilename=missing.bin\n";
    ServeScript(parts);
    env.Site().Answer("/files/missing.bin", "not here", 404);
    const auto [hr, result] = Install(1, 0);
    EXPECT_EQ(result, "Fail");
    ASSERT_GE(Messages().size(), 2u);
    EXPECT_NE(Messages()[0].find("HttpQueryInfo Failed!"), std::string::npos) << Messages()[0];
    EXPECT_EQ(Messages()[1], "설치가 제대로 이루어지지 않았습니다.");
    EXPECT_FALSE(fs::exists(InstallDir()));
}

TEST_F(WebInstall, AProgramInUseWaitsForTheNextStartUnderPellune)
{
    ServeScript();
    fs::create_directories(InstallDir());
    fs::copy_file("/bin/sleep", InstallDir() + "/Velmor.exe");
    ChildProgram running(InstallDir() + "/Velmor.exe", {"30"}, InstallDir());
    ASSERT_TRUE(running.Started());

    env.Answer({platform::IDNO});
    const auto [hr, result] = Install(1, 0);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(result, "Success=Reboot");
    const std::vector<std::string> messages = Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], installengine::CSetupFile::kRestartQuestion);
    EXPECT_EQ(messages[1], installengine::CSetupFile::kRestartRefused);
    EXPECT_EQ(env.RestartRequests(), 0);

    const std::string installFile = env.Temp() + "/VelmorInstall.INF";
    EXPECT_EQ(Reg(RegRoot::HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "Pellune"),
              "rundll32.exe advpack.dll,LaunchINFSection " + installFile);
    EXPECT_EQ(Reg(RegRoot::HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "VelmorInstaller"),
              "<no value>");
    EXPECT_EQ(platform::GetPrivateProfileString("SourceDisksNames", "1", "", 256, installFile),
              "\"Quenta, Setup Disk\",,0");
    running.Kill();
}

TEST_F(WebInstall, RecordsUnderHkeyUsersForHku)
{
    ScriptParts parts;
    parts.regKey = "%HKU%";
    ServeScript(parts);
    ASSERT_EQ(Install(0, 0).second, "Success=NotExecute");
    EXPECT_EQ(Reg(RegRoot::HKU, "Software\\Quenta\\Velmor", "install_path"), InstallDir());
    EXPECT_EQ(Reg(RegRoot::HKCU, "Software\\Quenta\\Velmor", "install_path"), "<no value>");
    const std::vector<std::string> delReg =
        platform::GetPrivateProfileSection("DelRegSection", 8192, UninstallFile());
    EXPECT_NE(std::find(delReg.begin(), delReg.end(), "HKUS,\"Software\\Quenta\\Velmor\",\"install_path\""),
              delReg.end());
}

TEST_F(WebInstall, ItemsAreSelectedByTheirSystemFilterAlone)
{
    ScriptParts parts;
    parts.files = "Program\nForXp\nForAll\n";
    parts.extra =
        "\n[ForXp]\nInstallOS=%WIN_XP%\nSrc=@SITE@/files/xp.txt\nDestDir=%INSTALL_DIR%\nFilename=xp.txt\n"
        "\n[ForAll]\nVersion=99.0\nInstallOS=%WIN_XP%, %win_all%\nSrc=@SITE@/files/all.txt\n"
        "DestDir=%INSTALL_DIR%\nFilename=all.txt\n";
    env.Serve("/files/xp.txt", "xp");
    env.Serve("/files/all.txt", "all");
    ServeScript(parts);
    ASSERT_EQ(Install(0, 0).second, "Success=NotExecute");
    EXPECT_FALSE(fs::exists(InstallDir() + "/xp.txt")) << "this system is no Windows XP";
    EXPECT_TRUE(fs::exists(InstallDir() + "/all.txt")) << "any version is taken on a first installation";
    EXPECT_TRUE(env.Site().RequestsFor("/files/xp.txt").empty());
}

TEST_F(WebInstall, HostileScriptsInstallNothingOutsideTheirFolders)
{
    const std::string outside = env.Path("outside");
    struct {
        const char *what;
        ScriptParts parts;
    } cases[4];
    cases[0].what = "SubFolder climbing out";
    cases[0].parts.subFolder = "..\\..\\outside";
    cases[1].what = "absolute program group";
    cases[1].parts.pgroup = env.Path("outside");
    cases[2].what = "file item leaving the install folder";
    cases[2].parts.files = "Program\nEscape\n";
    cases[2].parts.extra =
        "\n[Escape]\nSrc=@SITE@/files/Velmor.exe\nDestDir=%INSTALL_DIR%\\..\\..\\..\\outside\n"
        "Filename=x.sh\n";
    cases[3].what = "no application section";
    cases[3].parts.regKey = "";
    for (auto &c : cases) {
        ServeScript(c.parts);
        const auto [hr, result] = Install(1, 0);
        EXPECT_EQ(hr, S_FALSE) << c.what;
        EXPECT_EQ(result, "Fail") << c.what;
        EXPECT_FALSE(fs::exists(outside)) << c.what;
        EXPECT_TRUE(WaitFor([&] { return !fs::exists(InstallDir()); })) << c.what;
        EXPECT_FALSE(KeyExists(RegRoot::HKLM, kUninstallKey)) << c.what;
    }
}

// A temporary folder group or others may enter is not used: its message,
// "Fail", and nothing fetched.
TEST_F(WebInstall, ATemporaryFolderOthersMayEnterIsRefused)
{
    ServeScript();
    ASSERT_FALSE(platform::GetTempPath().empty());
    ASSERT_EQ(::chmod(env.Temp().c_str(), 0777), 0);
    EXPECT_EQ(Install(1, 1).second, "Fail");
    std::string refusal = platform::kTempFolderRefused;
    refusal.replace(refusal.find("%s"), 2, env.Temp());
    EXPECT_EQ(Messages(), std::vector<std::string>{refusal});
    EXPECT_TRUE(env.Site().RequestsFor(kScriptUrlPath).empty());
}

TEST_F(WebInstall, OnlyTheServicesSignedScriptWithDigestsIsInstalled)
{
    ServiceSite other(fs::path(env.Path("other-site")));
    const std::string sig = std::string(kScriptUrlPath) + ".sig";
    ScriptParts noDigest;
    noDigest.files = "Program\nPlain\n";
    noDigest.extra = "\n[Plain]\nSrc=@SITE@/files/plain.txt\nDestDir=%INSTALL_DIR%\nFilename=plain.txt\n";
    const struct {
        const char *what;
        std::function<void()> serve;
        const char *result;
    } cases[] = {
        {"no signature", [&] { env.Site().Answer(sig, "not here", 404); }, "fail=script"},
        {"a wrong one", [&] { env.Site().Answer(sig, std::string(64, 'x')); }, "fail=script"},
        {"redirected off the site",
         [&] {
             other.Answer(kScriptUrlPath, MakeScript(ScriptParts()));
             env.Site().AnswerWith(kScriptUrlPath,
                                   R"({"redirect": ")" + other.BaseUrl() + kScriptUrlPath + "\"}");
         },
         "fail=script"},
        {"an item without SHA256", [&] { ServeScript(noDigest); }, "Fail"},
    };
    for (const auto &c : cases) {
        ServeScript();
        c.serve();
        const std::size_t before = env.Site().Requests().size();
        EXPECT_EQ(Install(1, 0).second, c.result) << c.what;
        const std::vector<ServiceSite::Request> requests = env.Site().Requests();
        for (std::size_t i = before; i < requests.size(); ++i)
            EXPECT_TRUE(requests[i].path == kScriptUrlPath || requests[i].path == sig) << c.what;
        EXPECT_TRUE(other.Requests().empty()) << c.what;
        EXPECT_FALSE(fs::exists(InstallDir())) << c.what;
        env.Site().Forget(sig);
        env.Site().Forget(kScriptUrlPath);
    }
}

TEST_F(WebInstall, TheUninstallDeletesTheEntryOfItsOwnNameAlone)
{
    // A name whose quote and semicolon, unquoted, would leave the uninstall
    // line naming the whole uninstall key.
    const std::string name = "\";벨모";
    const std::string uninstall = "software\\Microsoft\\windows\\currentversion\\uninstall";
    platform::RegistryKey neighbour;
    ASSERT_EQ(platform::RegistryKey::Create(RegRoot::HKLM, uninstall + "\\Other", neighbour), S_OK);
    neighbour.WriteString("DisplayName", "Other");
    ServeScript();
    Put(&IInstaller::put_ProgKorName, name);
    ASSERT_EQ(Install(0, 0).second, "Success=NotExecute");
    env.Set("VELMOR_MESSAGEBOX_ANSWERS", "IDYES,IDOK");
    EXPECT_EQ(platform::RunCommandText(Reg(RegRoot::HKLM, uninstall + "\\" + name, "UninstallString"),
                                       std::string(), true),
              0);
    EXPECT_FALSE(KeyExists(RegRoot::HKLM, uninstall + "\\" + name));
    EXPECT_EQ(Reg(RegRoot::HKLM, uninstall + "\\Other", "DisplayName"), "Other");
}
