// File items and what decides them: versions, sizes, "ignore", cabinets,
// a destination in use (handed to the next start and finished there by
// runonce.exe), components and codecs.
#include "WorkerFixture.h"

#include "CRunOnce.h"
#include "CSetupFile.h"

#include "RunProgram.h"
#include "platform/FileVersion.h"
#include "platform/MessageBox.h"

#include <chrono>

using platform::RegRoot;

namespace {

std::string Version(const std::string &path)
{
    const std::optional<platform::FileVersion> v = platform::ReadFileVersion(path);
    return v ? platform::FormatFileVersion(*v) : "none";
}

} // namespace

class WorkerFileTest : public WorkerTest {
protected:
    // A fresh script with one file item, run; the worker's result.
    int InstallOne(const std::vector<std::pair<std::string, std::string>> &keys)
    {
        ScriptFile script(m_env.Path("tmp") + "/one" + std::to_string(++m_runs) + ".kus");
        script.Item("Install_File", "One", keys);
        CInstallWorkerOptions options = Options();
        options.scriptPath = script.Path();
        options.items = SelectFirstInstallItems(script.Path());
        return RunWorker(options);
    }
    // A cabinet made by gcab from `files` (name, bytes), served as "/NAME".
    std::string ServeCabinet(const std::string &name,
                             const std::vector<std::pair<std::string, std::string>> &files)
    {
        const std::string folder = m_env.Path("cab-" + name);
        std::vector<std::string> args{"-c", "-z", (Site().FilesDir() / name).string()};
        for (const auto &[file, bytes] : files) {
            Put(folder + "/" + file, bytes);
            args.push_back(file);
        }
        const ProgramResult made = RunProgram("/usr/bin/gcab", args, folder);
        EXPECT_EQ(made.exitCode, 0) << made.err;
        return Url(name);
    }

    int m_runs = 0;
};

// An older version asks; No keeps the newer file (recorded as existing),
// Yes installs it; a newer version replaces without a question.
TEST_F(WorkerFileTest, VersionsDecideNumberByNumber)
{
    Put(Dir("bin/Probe.exe"), Read(WORKER_PROBE_2));
    const std::vector<std::pair<std::string, std::string>> older = {
        {"Src", ServeFile("Probe.exe", WORKER_PROBE_1)},
        {"DestDir", "%INSTALL_DIR%\\bin"},
        {"Filename", "Probe.exe"}};

    m_env.Answer({platform::IDNO});
    ASSERT_EQ(InstallOne(older), INSTALL_WORKER_SUCCESS);
    EXPECT_EQ(Version(Dir("bin/Probe.exe")), "2.0.0.0");
    EXPECT_EQ(Inventory(Dir("bin/Probe.exe")), "exist");
    EXPECT_TRUE(Exists(Temp("Probe.exe"))) << "a kept file leaves its download";
    ASSERT_EQ(m_env.Boxes().size(), 1u);
    EXPECT_EQ(m_env.Boxes()[0].text,
              "Probe.exe : 설치하고자 하는 파일의 버젼이 낮습니다.\n\n그래도 설치 하시겠습니까?");
    EXPECT_EQ(m_env.Boxes()[0].style & 0xF, platform::MB_YESNO);
    EXPECT_EQ(m_env.Boxes()[0].caption, "Mirvane");

    m_env.Answer({platform::IDYES});
    ASSERT_EQ(InstallOne(older), INSTALL_WORKER_SUCCESS);
    EXPECT_EQ(Version(Dir("bin/Probe.exe")), "1.0.0.0");
    EXPECT_TRUE(Runnable(Dir("bin/Probe.exe")));

    ASSERT_EQ(InstallOne({{"Src", ServeFile("Probe2.exe", WORKER_PROBE_2)},
                          {"DestDir", "%INSTALL_DIR%\\bin"},
                          {"Filename", "Probe.exe"},
                          {"Filesize", std::to_string(std::filesystem::file_size(Dir("bin/Probe.exe")))}}),
              INSTALL_WORKER_SUCCESS);
    EXPECT_EQ(Version(Dir("bin/Probe.exe")), "2.0.0.0") << "a newer version skips the size check";
    EXPECT_EQ(m_env.Boxes().size(), 2u);
}

// Without versions the size decides; only "ignore" written exactly keeps an
// existing file whatever it is.
TEST_F(WorkerFileTest, SizesAndIgnoreKeepExistingFiles)
{
    for (const char *name : {"same.txt", "other.txt", "nosize.txt", "exact.txt", "upper.txt"})
        Put(Dir(name), "old!");
    m_script
        .Item("Install_File", "Same",
              {{"Src", Serve("same.txt", "new!")},
               {"DestDir", "%INSTALL_DIR%"},
               {"Filename", "same.txt"},
               {"Filesize", "4"}})
        .Item("Install_File", "Other",
              {{"Src", Serve("other.txt", "new!")},
               {"DestDir", "%INSTALL_DIR%"},
               {"Filename", "other.txt"},
               {"Filesize", "5"}})
        .Item(
            "Install_File", "NoSize",
            {{"Src", Serve("nosize.txt", "new!")}, {"DestDir", "%INSTALL_DIR%"}, {"Filename", "nosize.txt"}})
        .Item("Install_File", "Exact",
              {{"Src", Serve("exact.txt", "new!")},
               {"DestDir", "%INSTALL_DIR%"},
               {"Filename", "exact.txt"},
               {"ExistOption", "ignore"}})
        .Item("Install_File", "Upper",
              {{"Src", Serve("upper.txt", "new!")},
               {"DestDir", "%INSTALL_DIR%"},
               {"Filename", "upper.txt"},
               {"ExistOption", "Ignore"}})
        .Item("Install_File", "Fresh",
              {{"Src", Serve("fresh.txt", "new!")},
               {"DestDir", "%INSTALL_DIR%"},
               {"Filename", "fresh.txt"},
               {"ExistOption", "ignore"}});
    ASSERT_EQ(RunWorker(Options()), INSTALL_WORKER_SUCCESS);
    EXPECT_EQ(Read(Dir("same.txt")), "old!");
    EXPECT_EQ(Read(Temp("same.txt")), "new!") << "skipped without moving the download";
    EXPECT_EQ(Read(Dir("other.txt")), "new!");
    EXPECT_EQ(Read(Dir("nosize.txt")), "new!");
    EXPECT_EQ(Read(Dir("exact.txt")), "old!");
    EXPECT_EQ(Read(Dir("upper.txt")), "new!");
    EXPECT_EQ(Read(Dir("fresh.txt")), "new!");
    for (const char *name : {"same.txt", "other.txt", "exact.txt", "upper.txt"})
        EXPECT_EQ(Inventory(Dir(name)), "exist") << name;
    EXPECT_EQ(Inventory(Dir("fresh.txt")), "install");
}

// A cabinet is extracted into the destination, programs made runnable; its
// one file is taken out for the comparison when the destination exists; a
// broken cabinet says so.
TEST_F(WorkerFileTest, CabinetsAreExtractedIntoTheDestination)
{
    const std::string tool = Read(WORKER_PROBE_1);
    const std::string cab = ServeCabinet(
        "tools.cab", {{"Tool.exe", tool}, {"run.sh", "#!/bin/sh\nexit 0\n"}, {"data.txt", "plain data"}});
    const std::vector<std::pair<std::string, std::string>> item = {{"Src", cab},
                                                                   {"DestDir", "%INSTALL_DIR%\\tools"},
                                                                   {"Filename", "Tool.exe"},
                                                                   {"Filesize", std::to_string(tool.size())}};
    ASSERT_EQ(InstallOne(item), INSTALL_WORKER_SUCCESS);
    EXPECT_EQ(Read(Dir("tools/Tool.exe")), tool);
    EXPECT_TRUE(Runnable(Dir("tools/Tool.exe")));
    EXPECT_TRUE(Runnable(Dir("tools/run.sh")));
    EXPECT_EQ(Read(Dir("tools/data.txt")), "plain data");
    EXPECT_FALSE(Runnable(Dir("tools/data.txt")));
    EXPECT_EQ(Inventory(Dir("tools/Tool.exe")), "install");

    // Installed again: same version, same size, nothing changes.
    Put(Dir("tools/data.txt"), "changed by the user");
    ASSERT_EQ(InstallOne(item), INSTALL_WORKER_SUCCESS);
    EXPECT_EQ(Read(Dir("tools/data.txt")), "changed by the user");
    for (const auto &entry : std::filesystem::directory_iterator(m_env.Temp()))
        EXPECT_EQ(entry.path().filename().string().rfind("velmor-install-", 0), std::string::npos)
            << entry.path();

    // A broken cabinet, for an existing and for a new destination.
    Serve("broken.cab", "MSCF\0\0\0\0 not a cabinet at all");
    for (const char *name : {"Tool.exe", "New.dll"}) {
        EXPECT_EQ(
            InstallOne({{"Src", Url("broken.cab")}, {"DestDir", "%INSTALL_DIR%\\tools"}, {"Filename", name}}),
            INSTALL_WORKER_ERROR);
        ASSERT_FALSE(m_env.Boxes().empty());
        EXPECT_EQ(m_env.Boxes().back().text, std::string(name) + " 파일 압축해제 실패");
    }
    EXPECT_EQ(m_env.Boxes().size(), 2u);
    EXPECT_EQ(Read(Dir("tools/Tool.exe")), tool);
}

// A running program as the destination: the new file waits in the
// temporary folder under its name, the install file copies it at the next
// start, the restart is asked for; runonce.exe (a separate process, after
// the program ended) puts it in place; the uninstall file then removes what
// the installation made.
TEST_F(WorkerFileTest, AProgramInUseIsReplacedAtTheNextStart)
{
    // Two programs of one name in two folders, each replaced by its own file.
    for (const char *path : {"bin/Velmor.exe", "bin2/Velmor.exe"}) {
        Put(Dir(path), Read(WORKER_PROBE_1));
        std::filesystem::permissions(Dir(path), std::filesystem::perms::owner_all);
    }
    ChildProgram running(Dir("bin/Velmor.exe"), {"--sleep", "60"}, m_env.Root());
    ChildProgram running2(Dir("bin2/Velmor.exe"), {"--sleep", "60"}, m_env.Root());
    ASSERT_TRUE(running.Started() && running2.Started());
    m_script
        .Item("Install_File", "Program",
              {{"Src", ServeFile("Velmor-2.0.exe", WORKER_PROBE_2)},
               {"DestDir", "%INSTALL_DIR%\\bin"},
               {"Filename", "Velmor.exe"}})
        .Item("Install_File", "Program2",
              {{"Src", Serve("Velmor-b.exe", "second program")},
               {"DestDir", "%INSTALL_DIR%\\bin2"},
               {"Filename", "Velmor.exe"}})
        .Item("Install_File", "Notes",
              {{"Src", Serve("notes.txt", "new notes")},
               {"DestDir", "%INSTALL_DIR%\\bin"},
               {"Filename", "notes.txt"}})
        .Item("Install_Reg", "Path",
              {{"RootKey", "%HKLM%"},
               {"SubKey", "Software\\Quenta\\Velmor"},
               {"ValName", "Path"},
               {"Value", "%INSTALL_DIR%"},
               {"Type", "%REG_SZ%"}});

    m_env.Answer({platform::IDYES});
    const int result = RunWorker(Options());
    ASSERT_EQ(result, INSTALL_WORKER_RESTART) << testing::PrintToString(BoxTexts());
    EXPECT_EQ(CInstallWorker::FormResult(result), 5);
    EXPECT_EQ(m_env.RestartRequests(), 1);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{CSetupFile::kRestartQuestion});
    EXPECT_TRUE(running.Running());
    EXPECT_EQ(Version(Dir("bin/Velmor.exe")), "1.0.0.0");
    EXPECT_EQ(Read(Temp("Velmor.exe")), Read(WORKER_PROBE_2));
    EXPECT_EQ(Read(Dir("bin/notes.txt")), "new notes");
    EXPECT_EQ(Inventory(Dir("bin/Velmor.exe")), "exist");

    const std::string copies =
        platform::GetPrivateProfileString("DefaultInstall", "Copyfiles", "", 1024, InstallFile());
    EXPECT_EQ(copies, "DestGrp0,DestGrp1");
    EXPECT_EQ(Section("DestGrp0", InstallFile()), std::vector<std::string>{"Velmor.exe,,,1"});
    EXPECT_EQ(ReadString(RegRoot::HKLM, CRunOnce::kKey, "VelmorInstaller"),
              std::string(CSetupFile::kCommandPrefix) + " " + InstallFile());
    EXPECT_TRUE(Exists(CRunOnce::AutostartEntryPath()));

    // The next login, after the program has ended.
    running.Kill();
    running2.Kill();
    const ProgramResult login = RunProgram(ProgramPath("runonce.exe"), {}, m_env.Root(), {}, 60000);
    EXPECT_EQ(login.exitCode, 0) << login.err;
    EXPECT_EQ(Version(Dir("bin/Velmor.exe")), "2.0.0.0") << login.err;
    EXPECT_EQ(Read(Dir("bin2/Velmor.exe")), "second program");
    EXPECT_TRUE(Runnable(Dir("bin/Velmor.exe")));
    EXPECT_FALSE(Exists(InstallFile()));
    EXPECT_FALSE(ReadString(RegRoot::HKLM, CRunOnce::kKey, "VelmorInstaller"));

    // The uninstall entry: what the installation made goes, the program
    // that was there before stays.
    m_env.Set("VELMOR_MESSAGEBOX_ANSWERS", "6,6");
    const ProgramResult removed =
        RunProgram("/bin/sh", {"-c", std::string("exec ") + CSetupFile::kCommandPrefix + " " + Uninstall()},
                   m_env.Root(), {}, 60000);
    EXPECT_EQ(removed.exitCode, 0) << removed.err;
    EXPECT_FALSE(Exists(Dir("bin/notes.txt")));
    EXPECT_FALSE(ReadString(RegRoot::HKLM, "Software\\Quenta\\Velmor", "Path"));
    EXPECT_EQ(Version(Dir("bin/Velmor.exe")), "2.0.0.0");
}

// Two installations before the next start, with programs in use in both and
// every download named like the programs: the second keeps what the first
// left for the next start and adds its own work; runonce.exe then puts the
// newest file of each folder in place.
TEST_F(WorkerFileTest, ASecondInstallationKeepsTheWorkWaitingForTheNextStart)
{
    struct Folder {
        const char *name;
        const char *files[2]; // each installation's Velmor.exe, "" none
        bool runs[2];         // the old program runs during each installation
        const char *expected; // after the next start
    };
    const Folder folders[] = {
        {"a", {"a1", ""}, {true, false}, "a1"},   // only the first's file waits
        {"b", {"", "b2"}, {false, true}, "b2"},   // its waiting name is taken by "a"
        {"c", {"c1", "c2"}, {true, true}, "c2"},  // waits twice: the newest wins
        {"d", {"d1", "d2"}, {true, false}, "d2"}, // installed now: nothing older follows
    };
    const auto program = [&](const Folder &f) { return Dir(f.name + std::string("/Velmor.exe")); };
    std::map<std::string, std::unique_ptr<ChildProgram>> running;
    for (const Folder &f : folders) {
        Put(program(f), Read(WORKER_PROBE_1));
        std::filesystem::permissions(program(f), std::filesystem::perms::owner_all);
    }
    for (int run = 0; run < 2; ++run) {
        ScriptFile script(m_env.Path("tmp") + "/run" + std::to_string(run) + ".kus");
        for (const Folder &f : folders) {
            if (!f.runs[run])
                running.erase(f.name);
            else if (!running.contains(f.name))
                running[f.name] = std::make_unique<ChildProgram>(
                    program(f), std::vector<std::string>{"--sleep", "60"}, m_env.Root());
            if (*f.files[run])
                script.Item("Install_File", f.name,
                            {{"Src", Serve(std::to_string(run) + "/" + f.name + "/Velmor.exe", f.files[run])},
                             {"DestDir", std::string("%INSTALL_DIR%\\") + f.name},
                             {"Filename", "Velmor.exe"}});
        }
        CInstallWorkerOptions options = Options();
        options.scriptPath = script.Path();
        options.items = SelectFirstInstallItems(script.Path());
        ASSERT_EQ(RunWorker(options), INSTALL_WORKER_RESTART) << run;
    }
    running.clear();
    const ProgramResult login = RunProgram(ProgramPath("runonce.exe"), {}, m_env.Root(), {}, 60000);
    EXPECT_EQ(login.exitCode, 0) << login.err;
    for (const Folder &f : folders) {
        const std::string now = Read(program(f));
        EXPECT_EQ(now.size() < 16 ? now : "the old program", f.expected) << f.name << login.err;
    }
}

// Components by extension: a library's DllRegisterServer, regsvr32.exe when
// the library has none, a program's /RegServer; a failure asks whether to go
// on.
TEST_F(WorkerFileTest, ComponentsRegisterByTheirExtension)
{
    const std::string regsvr32Log = m_env.Path("regsvr32.log");
    // regsvr32.exe as the stored texts find it; this one registers only NoEntry.dll.
    Put(m_env.Path("bin/regsvr32.exe"), "#!/bin/sh\nfor a in \"$@\"; do printf '%s|' \"$a\"; done >> '" +
                                            regsvr32Log +
                                            "'\ncase \"$2\" in *NoEntry.dll) exit 0;; esac\nexit 1\n");
    std::filesystem::permissions(m_env.Path("bin/regsvr32.exe"), std::filesystem::perms::owner_all);
    const auto component = [&](const char *name, const std::string &url) {
        m_script.Item(
            "Install_File", name,
            {{"Src", url}, {"DestDir", "%INSTALL_DIR%\\com"}, {"Filename", name}, {"RegisterServer", "yes"}});
    };
    component("Engine.ocx", ServeFile("Engine.ocx", ENGINE_TEST_COMPONENT));
    component("Fails.ocx", ServeFile("Fails.ocx", COMPONENT_FAILS));
    component("NoEntry.dll", ServeFile("NoEntry.dll", COMPONENT_NO_ENTRY));
    component("Server.exe", ServeFile("Server.exe", WORKER_PROBE_1));
    component("readme.txt", Serve("readme.txt", "no component"));

    m_env.Answer({platform::IDYES, platform::IDNO});
    EXPECT_EQ(RunWorker(Options()), INSTALL_WORKER_ERROR);
    EXPECT_EQ(BoxTexts(),
              (std::vector<std::string>{"Fails.ocx의 등록에 실패했습니다.\n\n무시하고 진행하시겠습니까?",
                                        "readme.txt의 등록에 실패했습니다.\n\n무시하고 진행하시겠습니까?"}));
    EXPECT_EQ(ReadString(RegRoot::HKLM, "Software\\Quenta\\EngineTestComponent", "Registered"),
              Dir("com/Engine.ocx"));
    EXPECT_EQ(Read(regsvr32Log), "/s|" + Dir("com/Fails.ocx") + "|/s|" + Dir("com/NoEntry.dll") + "|");
    std::optional<std::string> server;
    for (int i = 0;
         i < 500 && !(server = ReadString(RegRoot::HKCU, "Software\\Quenta\\WorkerProbe", "RegServer")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(server, Dir("com"));
    // The uninstall file unregisters the registered component it installed.
    int unregister = 0;
    for (const std::string &line : Section("UnregisterOCXsSection", Uninstall()))
        unregister += line.size() > 12 && line.compare(line.size() - 12, 12, "%\\Engine.ocx") == 0;
    EXPECT_EQ(unregister, 1) << testing::PrintToString(Section("UnregisterOCXsSection", Uninstall()));
}

// Codecs: kinds 1 and 2 write the driver values with their uninstall
// lines, kind 3 registers the file; a failed registration answered No and
// an unknown kind end the installation.
TEST_F(WorkerFileTest, CodecsRegisterTheirDriversOrThemselves)
{
    const std::string drivers = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
    const std::string descriptions = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc";
    m_script
        .Item("Install_Codec", "Audio",
              {{"Src", Serve("qcodec.acm", "codec")},
               {"DestDir", "%SYSTEM_DIR%"},
               {"Filename", "qcodec.acm"},
               {"Type", "%AUDIO_CODEC%"},
               {"MajorName", "msacm.qcodec"},
               {"MinorName", "퀜타 코덱"}})
        .Item("Install_Codec", "Filter",
              {{"Src", ServeFile("Filter.ax", ENGINE_TEST_COMPONENT)},
               {"DestDir", "%SYSTEM_DIR%"},
               {"Filename", "Filter.ax"},
               {"Type", "%DSHOW_FILTER%"}});
    CInstallWorker worker(Options());
    EXPECT_EQ(worker.StepTotal(), 5);
    ASSERT_EQ(RunWorker(worker), INSTALL_WORKER_SUCCESS);
    const std::string codec = m_env.Path("windows") + "/system32/qcodec.acm";
    EXPECT_EQ(ReadString(RegRoot::HKLM, drivers, "msacm.qcodec"), codec);
    EXPECT_EQ(ReadString(RegRoot::HKLM, descriptions, codec), "퀜타 코덱");
    const std::vector<std::string> delReg = Section("DelRegSection", Uninstall());
    EXPECT_TRUE(Contains(delReg, "HKLM,\"" + drivers + "\",\"msacm.qcodec\""))
        << testing::PrintToString(delReg);
    EXPECT_TRUE(Contains(delReg, "HKLM,\"" + descriptions + "\",\"" + codec + "\""));
    EXPECT_EQ(ReadString(RegRoot::HKLM, "Software\\Quenta\\EngineTestComponent", "Registered"),
              m_env.Path("windows") + "/system32/Filter.ax");
    EXPECT_EQ(Inventory(m_env.Path("windows") + "/system32/Filter.ax"), "install");
    EXPECT_EQ(m_progress.Steps(), std::make_pair(5, 5));

    ScriptFile failing(m_env.Path("tmp") + "/failing.kus");
    failing.Item("Install_Codec", "Bad",
                 {{"Src", ServeFile("Bad.ax", COMPONENT_FAILS)},
                  {"DestDir", "%SYSTEM_DIR%"},
                  {"Filename", "Bad.ax"},
                  {"Type", "%DSHOW_FILTER%"}});
    ScriptFile unknown(m_env.Path("tmp") + "/unknown.kus");
    unknown.Item("Install_Codec", "Odd",
                 {{"Src", Serve("odd.drv", "odd")},
                  {"DestDir", "%SYSTEM_DIR%"},
                  {"Filename", "odd.drv"},
                  {"Type", "%MIDI_CODEC%"}});
    for (const ScriptFile *script : {&failing, &unknown}) {
        CInstallWorkerOptions options = Options();
        options.scriptPath = script->Path();
        options.items = SelectFirstInstallItems(script->Path());
        m_env.Answer({platform::IDNO});
        EXPECT_EQ(RunWorker(options), INSTALL_WORKER_ERROR) << script->Path();
    }
    EXPECT_EQ(BoxTexts(),
              std::vector<std::string>{"Bad.ax의 등록에 실패했습니다.\n\n무시하고 진행하시겠습니까?"});
}
