// The install worker's stages, run on a thread of its own against the
// stand-in site, with real files, the registry store and the engine's
// programs.
#include "WorkerFixture.h"

#include "CRunOnce.h"
#include "CSetupFile.h"

#include "RunProgram.h"
#include "platform/FileVersion.h"
#include "platform/MessageBox.h"
#include "platform/Profile.h"

#include <algorithm>
#include <atomic>
#include <chrono>

using platform::RegRoot;

namespace {

const std::string kVelmorKey = "Software\\Quenta\\Velmor";

std::ptrdiff_t IndexOf(const std::vector<std::string> &list, const std::string &item)
{
    const auto it = std::find(list.begin(), list.end(), item);
    return it == list.end() ? -1 : it - list.begin();
}

// Runs a stored command text the way the desktop does.
ProgramResult RunCommand(const std::string &command, const std::string &cwd)
{
    return RunProgram("/bin/sh", {"-c", "exec " + command}, cwd, {}, 60000);
}

} // namespace

// Every stage once, in order, with its texts and counts; the caller's step
// before the hand-over; then the uninstall file removes what was installed.
TEST_F(WorkerTest, AWholeInstallationAndItsUninstall)
{
    Put(Dir("old.dll"), "left over"); // the installation makes the folder exist already
    m_script
        .Item("Install_File", "Program",
              {{"Src", ServeFile("Velmor.exe", WORKER_PROBE_1)},
               {"DestDir", "%INSTALL_DIR%\\bin"},
               {"Filename", "Velmor.exe"},
               {"RunOnce", "yes"},
               {"RunOnceOpt", "wait"},
               {"CmdLine", "--record \"%INSTALL_DIR%/ran.log\" first \"two words\""}})
        .Item("Install_File", "Script",
              {{"Src", Serve("start.sh", "#!/bin/sh\necho hi\n")},
               {"DestDir", "%INSTALL_DIR%"},
               {"Filename", "start.sh"}})
        .Item("Install_File", "Notes",
              {{"Src", Serve("readme.txt", "notes")},
               {"DestDir", "%INSTALL_DIR%"},
               {"Filename", "readme.txt"},
               {"Uninstall", "no"}})
        .Item("Install_File", "Component",
              {{"Src", ServeFile("Engine.ocx", ENGINE_TEST_COMPONENT)},
               {"DestDir", "%INSTALL_DIR%"},
               {"Filename", "Engine.ocx"},
               {"RegisterServer", "yes"}})
        .Item("UninstallFile", "OldTool",
              {{"DestDir", "%INSTALL_DIR%"}, {"Filename", "old.dll"}, {"Using_Opt", "Delete"}})
        .Item("Install_Reg", "RegPath",
              {{"RootKey", "%HKLM%"},
               {"SubKey", kVelmorKey},
               {"ValName", "Path"},
               {"Value", "%INSTALL_DIR%"},
               {"Type", "%REG_SZ%"}})
        .Item("Install_Reg", "RegHex",
              {{"RootKey", "%hkcu%"},
               {"SubKey", kVelmorKey},
               {"ValName", "Hex"},
               {"Value", "0x10"},
               {"Type", "%REG_DWORD%"}})
        .Item("Install_Reg", "RegDec",
              {{"RootKey", "%HKCU%"},
               {"SubKey", kVelmorKey},
               {"ValName", "Dec"},
               {"Value", "10"},
               {"Type", "%REG_DWORD%"}})
        .Item("Install_Reg", "RegZero",
              {{"RootKey", "%HKCU%"},
               {"SubKey", kVelmorKey},
               {"ValName", "Zero"},
               {"Value", "0x"},
               {"Type", "%REG_DWORD%"}})
        .Item("Install_Reg", "RegKept",
              {{"RootKey", "%HKCU%"},
               {"SubKey", kVelmorKey},
               {"ValName", "Kept"},
               {"Value", "stays"},
               {"Type", "%REG_SZ%"},
               {"Uninstall", "no"}})
        .Item("Update_Ini", "WinIni",
              {{"Type", "%INI_SYSTEM%"}, {"Section", "Velmor"}, {"Key", "Path"}, {"Value", "%INSTALL_DIR%"}})
        .Item("Update_Ini", "OwnIni",
              {{"Type", "%INI_PRIVATE%"},
               {"DestDir", "%INSTALL_DIR%\\conf"},
               {"Filename", "Velmor.ini"},
               {"Section", "config"},
               {"Key", "Skin"},
               {"Value", "Skin\\Main.skn"}})
        .Item("Install_Link", "DesktopLink",
              {{"Type", "%LINK_FILE%"},
               {"DestDir", "%USER_DESKTOP_DIR%"},
               {"Name", "벨모어"},
               {"LinkFile", "%INSTALL_DIR%\\bin\\Velmor.exe"},
               {"Argument", "/u -tag \"a b\""},
               {"WorkDir", "%INSTALL_DIR%"},
               {"IconFile", "%INSTALL_DIR%\\velmor.png"},
               {"Description", "방송"},
               {"IconIndex", "0"}})
        .Item("Install_Link", "SiteLink",
              {{"Type", "%LINK_INTERNET%"},
               {"DestDir", "%APP_PROGRAM_GROUP_DIR%"},
               {"Name", "Quenta"},
               {"LinkURL", Url("index.html")}});

    CInstallWorkerOptions options = Options();
    int hookCalls = 0;
    bool installFileAtHook = false;
    std::thread::id hookThread;
    options.onInstalled = [&](CSetupFile &setup) {
        ++hookCalls;
        hookThread = std::this_thread::get_id();
        installFileAtHook = Exists(setup.InstallFilePath());
        platform::RegistryKey key;
        EXPECT_EQ(platform::RegistryKey::Create(RegRoot::HKCU, kVelmorKey, key), S_OK);
        EXPECT_EQ(key.WriteString("install_path", m_installDir), S_OK);
        return setup.AddUninstallLine("DelRegSection",
                                      CSetupFile::RegistryLine("HKCU", kVelmorKey, "install_path"));
    };
    CInstallWorker worker(options);
    ASSERT_EQ(worker.StepTotal(), 2 * 4 + 1 + 1 + 5 + 2 + 2);
    ASSERT_EQ(RunWorker(worker), INSTALL_WORKER_SUCCESS) << testing::PrintToString(m_progress.Events());
    EXPECT_EQ(CInstallWorker::FormResult(INSTALL_WORKER_SUCCESS), 1);
    EXPECT_TRUE(worker.CreatedUninstallFile());

    // The stages' texts in their order; cancelling ends with the downloads.
    const std::vector<std::string> statuses = m_progress.Statuses();
    const std::vector<std::string> order = {"설치대상 파일 다운로드 중...", CInstallWorker::kInstallingText,
                                            CInstallWorker::kRegistryText,  CInstallWorker::kIniText,
                                            CInstallWorker::kLinkText,      CInstallWorker::kComponentText,
                                            CInstallWorker::kCodecText,     CInstallWorker::kRunText,
                                            CInstallWorker::kUpdateText,    CInstallWorker::kDoneText};
    for (std::size_t i = 1; i < order.size(); ++i)
        EXPECT_LT(IndexOf(statuses, order[i - 1]), IndexOf(statuses, order[i])) << order[i];
    EXPECT_EQ(statuses.back(), CInstallWorker::kDoneText);
    const std::vector<std::string> events = m_progress.Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "cancel:off"), 1);
    EXPECT_LT(IndexOf(events, "cancel:off"),
              IndexOf(events, std::string("status:") + CInstallWorker::kInstallingText));
    EXPECT_NE(IndexOf(events, "file:파일 다운로드 완료"), -1);
    EXPECT_EQ(m_progress.Steps(), std::make_pair(worker.StepTotal(), worker.StepTotal()));
    EXPECT_EQ(hookCalls, 1);
    EXPECT_NE(hookThread, std::this_thread::get_id());
    EXPECT_TRUE(installFileAtHook);

    // Files, their modes and their records.
    EXPECT_EQ(Read(Dir("bin/Velmor.exe")), Read(WORKER_PROBE_1));
    EXPECT_TRUE(Runnable(Dir("bin/Velmor.exe")));
    EXPECT_TRUE(Runnable(Dir("start.sh")));
    EXPECT_FALSE(Runnable(Dir("readme.txt")));
    EXPECT_FALSE(Exists(Temp("Velmor.exe"))) << "moved, not copied";
    EXPECT_EQ(Inventory(Dir("bin/Velmor.exe")), "install");
    EXPECT_EQ(Inventory(Dir("readme.txt")), "exist");
    EXPECT_EQ(Inventory(Dir("conf/Velmor.ini")), "install");
    EXPECT_FALSE(Exists(Dir("old.dll")));
    EXPECT_EQ(Read(Dir("ran.log")), "first|two words|\n");
    EXPECT_EQ(ReadString(RegRoot::HKLM, "Software\\Quenta\\EngineTestComponent", "Registered"),
              Dir("Engine.ocx"));

    // Registry and INI entries with their uninstall lines.
    EXPECT_EQ(ReadString(RegRoot::HKLM, kVelmorKey, "Path"), m_installDir);
    EXPECT_EQ(ReadDword(RegRoot::HKCU, kVelmorKey, "Hex"), 16u);
    EXPECT_EQ(ReadDword(RegRoot::HKCU, kVelmorKey, "Dec"), 10u);
    EXPECT_EQ(ReadDword(RegRoot::HKCU, kVelmorKey, "Zero"), 0u);
    const std::vector<std::string> delReg = Section("DelRegSection", Uninstall());
    EXPECT_TRUE(Contains(delReg, "HKLM,\"Software\\Quenta\\Velmor\",\"Path\""))
        << testing::PrintToString(delReg);
    EXPECT_TRUE(Contains(delReg, "HKCU,\"Software\\Quenta\\Velmor\",\"Hex\""));
    EXPECT_FALSE(Contains(delReg, "HKCU,\"Software\\Quenta\\Velmor\",\"Kept\""));
    EXPECT_EQ(platform::GetProfileString("Velmor", "Path", "", 1024), m_installDir);
    EXPECT_EQ(platform::GetPrivateProfileString("config", "Skin", "", 1024, Dir("conf/Velmor.ini")),
              "Skin\\Main.skn");

    // Shortcuts as desktop entries.
    const std::string desktop = m_env.Path("home") + "/Desktop/벨모어.desktop";
    EXPECT_EQ(Read(desktop), "[Desktop Entry]\nType=Application\nName=벨모어\nExec=\"" +
                                 Dir("bin/Velmor.exe") + "\" /u -tag \"a b\"\nPath=" + m_installDir +
                                 "\nIcon=" + Dir("velmor.png") + "\nComment=방송\n");
    EXPECT_EQ(Inventory(desktop), "install");
    EXPECT_EQ(Read(m_env.Path("data") + "/applications/Quenta/Quenta.desktop"),
              "[Desktop Entry]\nType=Link\nName=Quenta\nURL=" + Url("index.html") + "\n");

    // Nothing waits for the next start.
    EXPECT_FALSE(Exists(InstallFile()));
    EXPECT_EQ(m_env.RestartRequests(), 0);
    EXPECT_TRUE(m_env.Boxes().empty()) << testing::PrintToString(BoxTexts());

    // The uninstall entry's command removes what the installation made and
    // keeps what it was told to keep.
    m_env.Set("VELMOR_MESSAGEBOX_ANSWERS", "6,6");
    const ProgramResult removed =
        RunCommand(std::string(CSetupFile::kCommandPrefix) + " " + Uninstall(), m_env.Root());
    ASSERT_EQ(removed.exitCode, 0) << removed.err;
    for (const char *gone : {"bin", "start.sh", "Engine.ocx", "conf", "VelmorUnInstall.INF"})
        EXPECT_FALSE(Exists(Dir(gone))) << gone << removed.err;
    EXPECT_FALSE(Exists(desktop));
    EXPECT_FALSE(Exists(m_env.Path("home") + "/Desktop"));
    EXPECT_FALSE(Exists(m_env.Path("data") + "/applications/Quenta"));
    EXPECT_EQ(Read(Dir("readme.txt")), "notes");
    EXPECT_FALSE(ReadString(RegRoot::HKLM, kVelmorKey, "Path"));
    EXPECT_FALSE(ReadDword(RegRoot::HKCU, kVelmorKey, "Hex"));
    EXPECT_FALSE(ReadString(RegRoot::HKCU, kVelmorKey, "install_path"));
    EXPECT_EQ(ReadString(RegRoot::HKCU, kVelmorKey, "Kept"), "stays");
    EXPECT_FALSE(ReadString(RegRoot::HKLM, "Software\\Quenta\\EngineTestComponent", "Registered"));
    EXPECT_EQ(platform::GetProfileString("Velmor", "Path", "-", 1024), "-");
}

// The cancel event counts while files come in: the worker ends with 3,
// leaves the partial download and installs nothing.
TEST_F(WorkerTest, CancelWhileDownloadingEndsWithThreeAndInstallsNothing)
{
    Serve("slow.bin", std::string(256 * 1024, 'x'));
    Site().AnswerWith("/slow.bin", R"({"rate": 32768})");
    m_script
        .Item("Install_File", "Slow",
              {{"Src", Url("slow.bin")}, {"DestDir", "%INSTALL_DIR%"}, {"Filename", "slow.bin"}})
        .Item("Install_File", "After",
              {{"Src", Serve("after.bin", "a")}, {"DestDir", "%INSTALL_DIR%"}, {"Filename", "a"}});
    std::atomic<bool> downloading{false};
    m_progress.onDownloadProgress = [&] { downloading = true; };

    CInstallWorker worker(Options());
    int result = 0;
    std::thread thread([&] { result = worker.Run(m_cancel.Get(), m_progress); });
    for (int i = 0; i < 2000 && !downloading; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(downloading);
    const auto started = std::chrono::steady_clock::now();
    m_cancel.Set();
    thread.join();
    EXPECT_EQ(result, INSTALL_WORKER_CANCELLED);
    EXPECT_EQ(CInstallWorker::FormResult(result), 2);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    const std::vector<std::string> events = m_progress.Events();
    EXPECT_EQ(IndexOf(events, "cancel:off"), -1);
    EXPECT_TRUE(Exists(Temp("slow.bin")));
    EXPECT_LT(std::filesystem::file_size(Temp("slow.bin")), 256u * 1024);
    EXPECT_TRUE(Site().RequestsFor("/after.bin").empty());
    EXPECT_FALSE(Exists(m_installDir));
    EXPECT_FALSE(Exists(InstallFile()));
}

// A file the site does not have fails the downloads before anything is
// installed; the downloader's message names the status.
TEST_F(WorkerTest, AMissingDownloadEndsWithTwoBeforeAnythingIsInstalled)
{
    Site().Answer("/gone.txt", "no such file", 404);
    m_script
        .Item("Install_File", "There",
              {{"Src", Serve("there.txt", "t")}, {"DestDir", "%INSTALL_DIR%"}, {"Filename", "t"}})
        .Item("Install_File", "Gone",
              {{"Src", Url("gone.txt")}, {"DestDir", "%INSTALL_DIR%"}, {"Filename", "g"}});
    const int result = RunWorker(Options());
    EXPECT_EQ(result, INSTALL_WORKER_ERROR);
    EXPECT_EQ(CInstallWorker::FormResult(result), 3);
    EXPECT_EQ(CInstallWorker::FormResult(INSTALL_WORKER_RESTART), 5);
    EXPECT_EQ(CInstallWorker::FormResult(0), 3);
    EXPECT_TRUE(Contains(BoxTexts(), "Error Code : 404, HttpQueryInfo Failed!"))
        << testing::PrintToString(BoxTexts());
    EXPECT_FALSE(Exists(Dir("t")));
    EXPECT_FALSE(Exists(Temp("gone.txt")));

    // A download whose digest is not the script's "SHA256" fails the same way.
    ScriptFile signed_(m_env.Path("tmp") + "/digest.kus");
    signed_.Item("Install_File", "Digest",
                 {{"Src", Serve("digest.txt", "abc")},
                  {"SHA256", std::string(64, '0')},
                  {"DestDir", "%INSTALL_DIR%"},
                  {"Filename", "d"}});
    CInstallWorkerOptions options = Options();
    options.scriptPath = signed_.Path();
    options.items = SelectFirstInstallItems(signed_.Path());
    EXPECT_EQ(RunWorker(options), INSTALL_WORKER_ERROR);
    ASSERT_FALSE(BoxTexts().empty());
    EXPECT_NE(BoxTexts().back().find("SHA256 Check Failed!"), std::string::npos) << BoxTexts().back();
    EXPECT_FALSE(Exists(Dir("d")));
}

// Each kind of bad item ends the whole installation with 2; what came
// before stays installed and recorded, what comes after is not done.
TEST_F(WorkerTest, EveryErrorEndsTheInstallationAndKeepsWhatWasDone)
{
    const std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> bad = {
        {"Install_Reg", {{"RootKey", "%HKLM%"}, {"SubKey", "X"}, {"ValName", "v"}, {"Type", "%REG_BINARY%"}}},
        {"Install_Reg", {{"RootKey", "%HKXX%"}, {"SubKey", "X"}, {"ValName", "v"}, {"Type", "%REG_SZ%"}}},
        {"Update_Ini", {{"Type", "%INI_WIN%"}, {"Section", "s"}, {"Key", "k"}}},
        {"Update_Ini",
         {{"Type", "%INI_PRIVATE%"},
          {"DestDir", "%INSTALL_DIR%\\..\\..\\..\\escape"},
          {"Filename", "x.ini"},
          {"Section", "s"},
          {"Key", "k"}}},
        {"Install_Link", {{"Type", "%LINK_FILE%"}, {"DestDir", "/etc/xdg"}, {"Name", "evil"}}},
        {"Install_Link", {{"Type", "%LINK_FILE%"}, {"DestDir", "%USER_DESKTOP_DIR%"}, {"Name", "a/b"}}},
    };
    int run = 0;
    for (const auto &[list, keys] : bad) {
        SCOPED_TRACE(list + " " + keys.front().second + " " + keys.back().second);
        ScriptFile script(m_env.Path("tmp") + "/bad" + std::to_string(++run) + ".kus");
        script
            .Item("Install_File", "Early",
                  {{"Src", Serve("early.txt", "early")},
                   {"DestDir", "%INSTALL_DIR%"},
                   {"Filename", "early.txt"}})
            .Item("Install_Reg", "First",
                  {{"RootKey", "%HKCU%"},
                   {"SubKey", kVelmorKey},
                   {"ValName", "First"},
                   {"Value", "1"},
                   {"Type", "%REG_SZ%"}})
            .Item(list, "Bad", keys)
            .Item("Install_Link", "Later",
                  {{"Type", "%LINK_INTERNET%"},
                   {"DestDir", "%USER_DESKTOP_DIR%"},
                   {"Name", "later"},
                   {"LinkURL", Url("x")}});
        platform::RegistryKey::DeleteKey(RegRoot::HKCU, kVelmorKey);
        CInstallWorkerOptions options = Options();
        options.scriptPath = script.Path();
        options.items = SelectFirstInstallItems(script.Path());
        EXPECT_EQ(RunWorker(options), INSTALL_WORKER_ERROR);
        EXPECT_EQ(Read(Dir("early.txt")), "early");
        EXPECT_EQ(Inventory(Dir("early.txt")), "install");
        EXPECT_EQ(ReadString(RegRoot::HKCU, kVelmorKey, "First"), "1");
        EXPECT_TRUE(
            Contains(Section("DelRegSection", Uninstall()), "HKCU,\"Software\\Quenta\\Velmor\",\"First\""));
        EXPECT_FALSE(Exists(m_env.Path("home") + "/Desktop/later.desktop"));
        EXPECT_FALSE(Exists(m_env.Path("home") + "/escape"));
    }
}

// Destinations a script may not reach, and file names with folders in
// them, are refused before anything is fetched.
TEST_F(WorkerTest, DestinationsOutsideTheInstallationsFoldersAreRefused)
{
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"%INSTALL_DIR%\\..\\..\\..\\.config", "autostart.desktop"},
        {"/etc", "passwd"},
        {"relative\\folder", "x.dll"},
        {"%INSTALL_DIR%", "sub\\evil.dll"},
        {"%INSTALL_DIR%", ".."},
        {"%INSTALL_DIR%", "../../../.bashrc"},
        {"%INSTALL_DIR%", "tab\tin name.txt"}, // no setup-file line can hold it
    };
    int run = 0;
    for (const auto &[dir, name] : bad) {
        SCOPED_TRACE(dir + " " + name);
        ScriptFile script(m_env.Path("tmp") + "/hostile" + std::to_string(++run) + ".kus");
        script.Item("Install_File", "Evil",
                    {{"Src", Serve("evil.bin", "evil")}, {"DestDir", dir}, {"Filename", name}});
        CInstallWorkerOptions options = Options();
        options.scriptPath = script.Path();
        options.items = SelectFirstInstallItems(script.Path());
        EXPECT_EQ(RunWorker(options), INSTALL_WORKER_ERROR);
    }
    EXPECT_TRUE(Site().RequestsFor("/evil.bin").empty());
    EXPECT_EQ(BoxTexts(),
              std::vector<std::string>{"tab?in name.txt : 설치 정보 파일에 기록할 수 없는 이름이 있어 "
                                       "설치하지 않습니다."});
    EXPECT_FALSE(Exists(m_env.Path("home") + "/.bashrc"));
    EXPECT_FALSE(Exists(m_env.Path("home") + "/.local/.config"));
    EXPECT_FALSE(Exists(m_installDir));
}

// The caller's step decides: false or an exception ends with 2.
TEST_F(WorkerTest, TheCallersStepCanFailTheInstallation)
{
    m_script.Item("Install_Reg", "One",
                  {{"RootKey", "%HKCU%"},
                   {"SubKey", kVelmorKey},
                   {"ValName", "v"},
                   {"Value", "1"},
                   {"Type", "%REG_SZ%"}});
    CInstallWorkerOptions options = Options();
    options.onInstalled = [](CSetupFile &) { return false; };
    EXPECT_EQ(RunWorker(options), INSTALL_WORKER_ERROR);
    options.onInstalled = [](CSetupFile &) -> bool { throw std::runtime_error("no record"); };
    EXPECT_EQ(RunWorker(options), INSTALL_WORKER_ERROR);
    EXPECT_EQ(IndexOf(m_progress.Statuses(), CInstallWorker::kDoneText), -1);
}

// Shortcuts that exist are left alone and not recorded; the program's
// command line keeps its words through the desktop entry's quoting.
TEST_F(WorkerTest, ShortcutsAreDesktopEntriesAndExistingOnesStay)
{
    const std::string desktop = m_env.Path("home") + "/Desktop";
    Put(desktop + "/Mine.desktop", "the user's own");
    m_script
        .Item("Install_Link", "Existing",
              {{"Type", "%LINK_FILE%"},
               {"DestDir", "%USER_DESKTOP_DIR%"},
               {"Name", "Mine"},
               {"LinkFile", "/bin/true"}})
        .Item("Install_Link", "Quoted",
              {{"Type", "%link_file%"},
               {"DestDir", "%USER_DESKTOP_DIR%"},
               {"Name", "Quoted"},
               {"LinkFile", "%INSTALL_DIR%\\run.sh"},
               {"Argument", "plain \"say \\\"hi\\\"\" 100% $HOME"}})
        .Item("Install_Link", "Other",
              {{"Type", "%LINK_FOLDER%"}, {"DestDir", "%USER_DESKTOP_DIR%"}, {"Name", "Other"}});
    ASSERT_EQ(RunWorker(Options()), INSTALL_WORKER_SUCCESS);
    EXPECT_EQ(Read(desktop + "/Mine.desktop"), "the user's own");
    EXPECT_EQ(Inventory(desktop + "/Mine.desktop"), "");
    EXPECT_FALSE(Exists(desktop + "/Other.desktop"));
    // "say \"hi\"" is one word, say "hi"; quoted for Exec and escaped as a value.
    const std::string text = Read(desktop + "/Quoted.desktop");
    EXPECT_NE(
        text.find("\nExec=\"" + Dir("run.sh") + "\" plain \"say \\\\\"hi\\\\\"\" 100%% \"\\\\$HOME\"\n"),
        std::string::npos)
        << text;
    EXPECT_EQ(Inventory(desktop + "/Quoted.desktop"), "install");
}

// Uninstall records: a file is deleted now, or at the next start when it
// is in use; a missing file needs nothing; "Execute" runs a program.
TEST_F(WorkerTest, UninstallRecordsDeleteNowOrAtTheNextStart)
{
    Put(Dir("old.txt"), "old");
    Put(Dir("busy.exe"), Read(WORKER_PROBE_1));
    std::filesystem::permissions(Dir("busy.exe"), std::filesystem::perms::owner_all);
    ChildProgram busy(Dir("busy.exe"), {"--sleep", "60"}, m_env.Root());
    ASSERT_TRUE(busy.Started());
    const std::string log = m_env.Path("executed.log");
    m_script
        .Item("UninstallFile", "Old",
              {{"DestDir", "%INSTALL_DIR%"}, {"Filename", "old.txt"}, {"Using_Opt", "delete"}})
        .Item("UninstallFile", "Busy",
              {{"DestDir", "%INSTALL_DIR%"}, {"Filename", "busy.exe"}, {"Using_Opt", "Delete"}})
        .Item("UninstallFile", "Missing",
              {{"DestDir", "%INSTALL_DIR%"}, {"Filename", "none.txt"}, {"Using_Opt", "Delete"}})
        .Item("UninstallFile", "Ignored",
              {{"DestDir", "%INSTALL_DIR%"},
               {"Filename", "none.exe"},
               {"Using_Opt", "Execute"},
               {"Excute_Opt", "ignore"}})
        .Item("UninstallFile", "Broken",
              {{"DestDir", "%INSTALL_DIR%"}, {"Filename", "none.exe"}, {"Using_Opt", "Execute"}})
        .Item("UninstallFile", "Cleaner",
              {{"DestDir", "%SYSTEM_DIR%"},
               {"Filename", "cleaner.exe"},
               {"Using_Opt", "Execute"},
               {"CmdLine", "--record \"" + log + "\" /clean"}});
    Put(m_env.Path("windows") + "/system32/cleaner.exe", Read(WORKER_PROBE_1));
    std::filesystem::permissions(m_env.Path("windows") + "/system32/cleaner.exe",
                                 std::filesystem::perms::owner_all);

    m_env.Answer({platform::IDOK, platform::IDNO});
    const int result = RunWorker(Options());
    EXPECT_EQ(result, INSTALL_WORKER_RESTART);
    EXPECT_FALSE(Exists(Dir("old.txt")));
    EXPECT_TRUE(Exists(Dir("busy.exe")));
    EXPECT_EQ(Read(log), "/clean|\n");
    EXPECT_EQ(BoxTexts(),
              (std::vector<std::string>{"none.exe를 실행시키지 못했습니다.\n", CSetupFile::kRestartQuestion,
                                        CSetupFile::kRestartRefused}));
    EXPECT_EQ(m_env.RestartRequests(), 0);
    const std::string deletions =
        platform::GetPrivateProfileString("DefaultInstall", "Delfiles", "", 1024, InstallFile());
    ASSERT_FALSE(deletions.empty());
    EXPECT_EQ(Section(deletions, InstallFile()), std::vector<std::string>{"busy.exe,,,1"});

    // The next login deletes it once the program has ended.
    busy.Kill();
    const ProgramResult login = RunProgram(ProgramPath("runonce.exe"), {}, m_env.Root(), {}, 60000);
    EXPECT_EQ(login.exitCode, 0) << login.err;
    EXPECT_FALSE(Exists(Dir("busy.exe"))) << login.err;
    EXPECT_FALSE(Exists(InstallFile()));
}

// Launch items: the download goes to its folder, the GUID is recorded under
// the script's root and the download counter is asked; one without a URL
// is passed over.
TEST_F(WorkerTest, LaunchItemsAreMovedRecordedAndCounted)
{
    ScriptFile launch(m_env.Path("tmp") + "/VelmorLaunch.kus");
    launch.Set("Game", "GUID", "{1234}")
        .Set("Game", "URL", Serve("game-setup.sh", "#!/bin/sh\n"))
        .Set("Game", "DestDir", "%INSTALL_DIR%\\Games")
        .Set("Game", "FileName", "Game.sh")
        .Set("Game", "DownCount", Url("count.jsp?game=1234"))
        .Set("Notice", "GUID", "{5678}")
        .Set("Notice", "Information", "공지");
    CInstallWorkerOptions options = Options();
    options.launchScriptPath = launch.Path();
    options.launchItems = {"Game", "Notice"};
    options.regKey = "%HKCU%";
    CInstallWorker worker(options);
    EXPECT_EQ(worker.StepTotal(), 4);
    ASSERT_EQ(RunWorker(worker), INSTALL_WORKER_SUCCESS);
    EXPECT_TRUE(Runnable(Dir("Games/Game.sh")));
    EXPECT_EQ(ReadString(RegRoot::HKCU, "Software\\Quenta\\Velmor\\Launch_GUID\\{1234}", ""), "{1234}");
    EXPECT_FALSE(ReadString(RegRoot::HKCU, "Software\\Quenta\\Velmor\\Launch_GUID\\{5678}", ""));
    const std::vector<ServiceSite::Request> counts = Site().RequestsFor("/count.jsp");
    ASSERT_EQ(counts.size(), 1u);
    EXPECT_EQ(counts[0].agent, "Query");
    EXPECT_EQ(counts[0].query, "game=1234");
    EXPECT_EQ(m_progress.Steps(), std::make_pair(4, 4));

    // A launch record needs a root.
    options.regKey = "%HKXX%";
    EXPECT_EQ(RunWorker(options), INSTALL_WORKER_ERROR);
}

// Two downloads whose URLs end in the same name each keep their bytes.
TEST_F(WorkerTest, DownloadsOfTheSameNameDoNotOverwriteEachOther)
{
    m_script
        .Item("Install_File", "A",
              {{"Src", Serve("a/data.bin", "first")}, {"DestDir", "%INSTALL_DIR%"}, {"Filename", "one.bin"}})
        .Item(
            "Install_File", "B",
            {{"Src", Serve("b/data.bin", "second")}, {"DestDir", "%INSTALL_DIR%"}, {"Filename", "two.bin"}});
    ASSERT_EQ(RunWorker(Options()), INSTALL_WORKER_SUCCESS);
    EXPECT_EQ(Read(Dir("one.bin")), "first");
    EXPECT_EQ(Read(Dir("two.bin")), "second");
    for (const auto &entry : std::filesystem::directory_iterator(m_env.Temp()))
        EXPECT_EQ(entry.path().filename().string().rfind("velmor-install-", 0), std::string::npos)
            << entry.path();
}

// Run-once programs: "wait" (exactly) runs and waits, and says when the
// file cannot run; another option starts it and goes on.
TEST_F(WorkerTest, ProgramsRunOnceWithAndWithoutWaiting)
{
    const std::string log = m_env.Path("run.log");
    m_script
        .Item("Install_File", "Waited",
              {{"Src", ServeFile("tool.exe", WORKER_PROBE_1)},
               {"DestDir", "%INSTALL_DIR%"},
               {"Filename", "tool.exe"},
               {"RunOnce", "YES"},
               {"RunOnceOpt", "wait"},
               {"CmdLine", "--record \"" + log + "\" waited"}})
        .Item("Install_File", "Started",
              {{"Src", ServeFile("tool2.exe", WORKER_PROBE_1)},
               {"DestDir", "%INSTALL_DIR%"},
               {"Filename", "tool2.exe"},
               {"RunOnce", "yes"},
               {"RunOnceOpt", "Wait"},
               {"CmdLine", "--record " + log + " started"}})
        .Item("Install_File", "NotAProgram",
              {{"Src", Serve("notes.txt", "text")},
               {"DestDir", "%INSTALL_DIR%"},
               {"Filename", "notes.txt"},
               {"RunOnce", "yes"},
               {"RunOnceOpt", "wait"}});
    ASSERT_EQ(RunWorker(Options()), INSTALL_WORKER_SUCCESS);
    EXPECT_EQ(Read(log).substr(0, 8), "waited|\n");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"notes.txt를 실행시키지 못했습니다.\n"});
    for (int i = 0; i < 500 && Read(log).find("started|") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(Read(log).find("started|"), std::string::npos);
}
