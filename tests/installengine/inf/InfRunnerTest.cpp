#include "CInfRunner.h"
#include "CLogFile.h"
#include "CSetupFile.h"

#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "platform/Registry.h"

#include "../EngineTestEnv.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

using namespace installengine;
using platform::RegRoot;

namespace {

class InfRunnerTest : public testing::Test {
protected:
    InfRunnerTest()
    {
        for (const char *sub : {"source", "app", "app/sub", "shared"})
            std::filesystem::create_directories(m_env.Path(sub));
    }
    // Writes an INF as a Windows editor would: CP949 with CRLF line ends.
    // "{ROOT}" stands for the test folder.
    std::string WriteInf(const std::string &name, std::string text)
    {
        for (std::size_t at; (at = text.find("{ROOT}")) != std::string::npos;)
            text.replace(at, 6, m_env.Root());
        std::string crlf;
        for (char c : text) {
            if (c == '\n')
                crlf += '\r';
            crlf += c;
        }
        const std::string path = m_env.Path("source/" + name);
        std::ofstream(path, std::ios::binary) << platform::Utf8ToAnsi(crlf);
        return path;
    }
    void WriteFile(const std::string &sub, const std::string &bytes)
    {
        std::ofstream(m_env.Path(sub), std::ios::binary) << bytes;
    }
    bool Exists(const std::string &sub) const { return std::filesystem::exists(m_env.Path(sub)); }
    static void WriteValue(const char *key, const char *name, const char *value)
    {
        platform::RegistryKey k;
        ASSERT_EQ(platform::RegistryKey::Create(RegRoot::HKLM, key, k), S_OK);
        ASSERT_EQ(k.WriteString(name, value), S_OK);
    }
    static std::optional<std::string> ReadValue(const char *key, const char *name)
    {
        platform::RegistryKey k;
        if (FAILED(platform::RegistryKey::Open(RegRoot::HKLM, key, k)))
            return std::nullopt;
        return k.ReadString(name);
    }

    // The engine's setup files, the uninstall file in "app".
    CSetupFile Setup() const
    {
        return CSetupFile({"벨모어", "Velmor", m_env.Path("tmp"), m_env.Path("app")});
    }

    EngineTestEnv m_env{"inf"};
};

const char *kDestinations = "[CustomDestinationSection]\n"
                            "49000=Dest0,5\n"
                            "49001=Dest1,5\n"
                            "[Dest0]\n"
                            ",,,,\"{ROOT}/app\"\n"
                            "[Dest1]\n"
                            ",,,,\"{ROOT}/app/sub\\\"\n"
                            "[DestinationDirs]\n"
                            "DestGrp0=49000\n"
                            "DestGrp1=49001\n"
                            "DelGroup0=49000\n"
                            "DelGroup1=49001\n"
                            "DestGrpWin=10\n";

} // namespace

TEST_F(InfRunnerTest, InstallSectionIsCarriedOutInFull)
{
    WriteFile("source/new.exe", "\x7f"
                                "ELF new program");
    WriteFile("source/readme.txt", "words");
    WriteFile("app/old.dll", "old");
    WriteFile("app/sub/gone.txt", "x");
    WriteFile("app/sub/stays.txt", "x");
    std::filesystem::create_directories(m_env.Path("app/sub/empty"));
    WriteValue("Software\\Quenta\\Velmor", "Path", "/x");
    WriteValue("Software\\Quenta\\Velmor", "Other", "kept");
    const std::string ini = m_env.Path("app/velmor.ini");
    platform::WritePrivateProfileString("config", "Skin", "a.skin", ini);
    platform::WritePrivateProfileString("config", "Keep", "1", ini);
    platform::WriteProfileString("Velmor", "Path", "/x");
    platform::WriteProfileString("Velmor", "Mode", "old");

    const std::string inf =
        WriteInf("Test.INF", std::string("[Version]\n"
                                         "Signature=$CHICAGO$\n"
                                         "[Strings]\n"
                                         "KorName=미르반\n"
                                         "[DefaultInstall]\n"
                                         "BeginPrompt=Begin\n"
                                         "EndPrompt=End\n"
                                         "CustomDestination=CustomDestinationSection\n"
                                         "CopyFiles=DestGrp0\n"
                                         "DelFiles=DelGroup1, DelGroup0\n"
                                         "DelDirs=Dirs\n"
                                         "DelReg=Reg\n"
                                         "UpdateInis=Inis\n"
                                         "CleanUp=1\n"
                                         "[Begin]\n"
                                         "prompt=%KorName%(을)를 설치합니다. 100%%\n"
                                         "buttontype=YESNO\n"
                                         "Title=%KorName%\n"
                                         "[End]\n"
                                         "prompt=%KorName% 끝 %Unknown%\n"
                                         "buttontype=YES\n"
                                         "Title=%KorName%\n"
                                         "[DestGrp0]\n"
                                         "new.exe,,,1\n"
                                         "copy.txt,readme.txt,,1\n"
                                         "[DelGroup0]\n"
                                         "old.dll,,,1\n"
                                         "missing.dll,,,1\n"
                                         "[DelGroup1]\n"
                                         "gone.txt\n"
                                         "[Dirs]\n"
                                         "%49000%\n"
                                         "%49001%\\empty\n"
                                         "%49001%\n"
                                         "[Reg]\n"
                                         "HKLM,\"Software\\Quenta\\Velmor\",\"Path\"\n"
                                         "HKLM,\"Software\\Quenta\\Gone\",\"Never there\"\n"
                                         "[Inis]\n"
                                         "{ROOT}/app/velmor.ini,config,Skin=*,\n"
                                         "win.ini,Velmor,Path=*,\n"
                                         "win.ini,Velmor,Mode=old,Mode=new\n") +
                                 "[DelGroup1]\nignored.txt\n" + kDestinations);
    m_env.Answer({platform::IDYES});
    EXPECT_EQ(CInfRunner::Run(inf), S_OK);

    ASSERT_EQ(m_env.Boxes().size(), 2u);
    EXPECT_EQ(m_env.Boxes()[0].text, "미르반(을)를 설치합니다. 100%");
    EXPECT_EQ(m_env.Boxes()[0].caption, "미르반");
    EXPECT_EQ(m_env.Boxes()[0].style & 0xF, platform::MB_YESNO);
    EXPECT_EQ(m_env.Boxes()[1].text, "미르반 끝 %Unknown%");

    EXPECT_EQ(TestDir::Read(m_env.Path("app/new.exe")), "\x7f"
                                                        "ELF new program");
    EXPECT_EQ(std::filesystem::status(m_env.Path("app/new.exe")).permissions() &
                  std::filesystem::perms::owner_exec,
              std::filesystem::perms::owner_exec);
    EXPECT_EQ(TestDir::Read(m_env.Path("app/copy.txt")), "words");
    EXPECT_FALSE(Exists("app/old.dll"));
    EXPECT_FALSE(Exists("app/sub/gone.txt"));
    // Folders go only when empty: the deeper one first, the others stay.
    EXPECT_FALSE(Exists("app/sub/empty"));
    EXPECT_TRUE(Exists("app/sub/stays.txt"));
    EXPECT_TRUE(Exists("app"));

    EXPECT_FALSE(ReadValue("Software\\Quenta\\Velmor", "Path"));
    EXPECT_EQ(ReadValue("Software\\Quenta\\Velmor", "Other"), "kept");
    EXPECT_EQ(platform::GetPrivateProfileString("config", "Skin", "-", 1024, ini), "-");
    EXPECT_EQ(platform::GetPrivateProfileString("config", "Keep", "-", 1024, ini), "1");
    EXPECT_EQ(platform::GetProfileString("Velmor", "Path", "-", 1024), "-");
    EXPECT_EQ(platform::GetProfileString("Velmor", "Mode", "-", 1024), "new");
    EXPECT_FALSE(Exists("source/Test.INF"));
}

TEST_F(InfRunnerTest, NoAtTheBeginPromptChangesNothing)
{
    WriteFile("app/old.dll", "old");
    const std::string inf = WriteInf("Stop.INF", std::string("[Strings]\nKorName=벨모르\n"
                                                             "[DefaultInstall]\n"
                                                             "BeginPrompt=Begin\n"
                                                             "CustomDestination=CustomDestinationSection\n"
                                                             "DelFiles=DestGrp0\nCleanUp=1\n"
                                                             "[Begin]\nprompt=%KorName%?\nbuttontype=YESNO\n"
                                                             "[DestGrp0]\nold.dll\n") +
                                                     kDestinations);
    m_env.Answer({platform::IDNO});
    EXPECT_EQ(CInfRunner::Run(inf), S_FALSE);
    EXPECT_TRUE(Exists("app/old.dll"));
    EXPECT_TRUE(Exists("source/Stop.INF"));
    // An empty prompt asks nothing (the roll-back of a failed installation).
    platform::WritePrivateProfileString("Begin", "prompt", "", inf);
    EXPECT_EQ(CInfRunner::Run(inf), S_OK);
    EXPECT_EQ(m_env.Boxes().size(), 1u);
    EXPECT_FALSE(Exists("app/old.dll"));
}

TEST_F(InfRunnerTest, LinesThatLeaveTheirFoldersAreRefusedAndTheRestRuns)
{
    WriteFile("shared/victim.txt", "must stay");
    WriteFile("app/mine.txt", "mine");
    WriteFile("secret.txt", "must not be copied");
    WriteFile("outside.ini", "[s]\r\nk=v\r\n");
    std::filesystem::create_directories(m_env.Path("shared/emptydir"));
    const std::string inf =
        WriteInf("Evil.INF", std::string("[DefaultInstall]\n"
                                         "CustomDestination=CustomDestinationSection\n"
                                         "CopyFiles=Copy\n"
                                         "DelFiles=DestGrp0,DestGrpUp,NoSuchGroup,@single.txt\n"
                                         "DelDirs=Dirs\n"
                                         "UpdateInis=Inis\n"
                                         "RegisterOCXs=Ocx\n"
                                         "DelReg=Reg\n"
                                         "[Copy]\n"
                                         "stolen.txt,..\\secret.txt\n"
                                         "[DestGrp0]\n"
                                         "..\\..\\shared\\victim.txt\n"
                                         "/etc/passwd\n"
                                         "mine.txt\n"
                                         "[Dirs]\n"
                                         "%49000%\\..\\shared\\emptydir\n"
                                         "{ROOT}/shared/emptydir\n"
                                         "[Inis]\n"
                                         "{ROOT}/outside.ini,s,k=*,\n"
                                         "%49000%\\..\\outside.ini,s,k=*,\n"
                                         "[Ocx]\n"
                                         "/usr/lib/x86_64-linux-gnu/libc.so.6\n"
                                         "[Reg]\n"
                                         "HKLM,\"\\\\\"\n"
                                         "HKXX,\"Software\",\"x\"\n") +
                                 kDestinations + "DestGrpUp=49000,..\\..\nCopy=49000\n");
    SetLogToStandardError(true);
    testing::internal::CaptureStderr();
    const CInfPlan plan = CInfRunner::Plan(inf);
    EXPECT_EQ(CInfRunner::Execute(plan), S_FALSE);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(plan.refused.size(), 13u) << log;
    EXPECT_NE(log.find("Refused: \"..\\..\\shared\\victim.txt\" of DestGrp0 lies outside"), std::string::npos)
        << log;

    EXPECT_TRUE(Exists("shared/victim.txt"));
    EXPECT_TRUE(Exists("shared/emptydir"));
    EXPECT_FALSE(Exists("app/stolen.txt"));
    EXPECT_EQ(platform::GetPrivateProfileString("s", "k", "", 1024, m_env.Path("outside.ini")), "v");
    // The line that stays inside its folder still ran.
    EXPECT_FALSE(Exists("app/mine.txt"));
}

TEST_F(InfRunnerTest, AnyBytesMissingSectionsAndHugeLinesNeverCrash)
{
    std::mt19937 random(3);
    const char *words[] = {"[DefaultInstall]\n",
                           "[DestGrp0]\n",
                           "CopyFiles=",
                           "DelDirs=",
                           "UpdateInis=",
                           "%49000%",
                           "\"",
                           ",",
                           "=",
                           "..\\",
                           "\n",
                           "DestGrp0",
                           "CustomDestination="};
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int n = static_cast<int>(random() % 60);
        for (int i = 0; i < n; ++i)
            text += random() % 3 ? std::string(words[random() % std::size(words)])
                                 : std::string(1, static_cast<char>(random()));
        const std::string path = m_env.Path("source/fuzz.INF");
        std::ofstream(path, std::ios::binary) << text;
        // Only read: a random file must not decide what is deleted here.
        CInfRunner::Plan(path);
    }
    const std::string huge(100000, 'x');
    const std::string inf =
        WriteInf("Huge.INF", "[DefaultInstall]\n"
                             "CustomDestination=CustomDestinationSection\n"
                             "DelFiles=DestGrp0," +
                                 huge +
                                 "\n"
                                 "DelDirs=" +
                                 huge +
                                 "\n"
                                 "BeginPrompt=Begin\n"
                                 "[Begin]\nprompt=" +
                                 huge + "%" + huge +
                                 "\n"
                                 "[DestGrp0]\n" +
                                 huge + ",,,1\n" + huge + "\n" + std::string(kDestinations));
    m_env.Answer({platform::IDOK});
    EXPECT_EQ(CInfRunner::Run(inf), S_FALSE);
    EXPECT_EQ(CInfRunner::Run(m_env.Path("source/none.INF")), HRESULT_FROM_ERRNO(ENOENT));
    EXPECT_EQ(CInfRunner::Plan(m_env.Path("source")).operations.size(), 0u);
}

TEST(InfLaunchCommandTest, TheWholeRestIsTheFile)
{
    TestDir dir("launch");
    const std::string spaced = dir.file("My Setup Files");
    std::filesystem::create_directories(spaced);
    const std::string file = spaced + "/NoTitle Install.INF";
    std::ofstream(file) << "[DefaultInstall]\n";
    std::string path;
    std::string section;
    ASSERT_TRUE(CInfRunner::ParseLaunchCommand("advpack.dll,LaunchINFSection " + file, path, section));
    EXPECT_EQ(path, file);
    EXPECT_EQ(section, "DefaultInstall");
    ASSERT_TRUE(
        CInfRunner::ParseLaunchCommand("ADVPACK.DLL,launchinfsection   " + file + ",Other,1", path, section));
    EXPECT_EQ(path, file);
    EXPECT_EQ(section, "Other");
    // A file that is not there is still named, for the runner to report.
    ASSERT_TRUE(CInfRunner::ParseLaunchCommand("advpack.dll,LaunchINFSection /no/such.INF", path, section));
    EXPECT_EQ(path, "/no/such.INF");
    EXPECT_FALSE(CInfRunner::ParseLaunchCommand("advpack.dll,LaunchINFSection", path, section));
    EXPECT_FALSE(CInfRunner::ParseLaunchCommand("advpack.dll,LaunchINFSectionEx " + file, path, section));
    EXPECT_FALSE(CInfRunner::ParseLaunchCommand("shell32.dll,Control_RunDLL x", path, section));
}

// Folders and files that differ only in letter case are two here: the
// uninstall removes what was installed and leaves the user's own.
TEST_F(InfRunnerTest, TheEngineRecordsFoldersAndFilesWithTheirLetterCase)
{
    for (const char *sub : {"app/Data", "app/data"})
        std::filesystem::create_directories(m_env.Path(sub));
    for (const char *sub : {"app/Data/x.ini", "app/data/x.ini", "app/data/Readme.txt", "app/data/README.txt"})
        WriteFile(sub, sub);
    CSetupFile setup = Setup();
    ASSERT_EQ(setup.CreateUninstallFile(), S_OK);
    setup.RegisterDestination(m_env.Path("app/Data"), true);
    setup.RecordFile(m_env.Path("app/Data"), "x.ini", false, RECORD_EXISTING, SetupTarget::UninstallFile);
    setup.RegisterDestination(m_env.Path("app/data"), false);
    for (const char *name : {"x.ini", "Readme.txt"})
        setup.RecordFile(m_env.Path("app/data"), name, false, RECORD_INSTALLED, SetupTarget::UninstallFile);

    m_env.Answer({platform::IDYES});
    EXPECT_EQ(CInfRunner::Run(setup.UninstallFilePath()), S_OK);
    EXPECT_TRUE(Exists("app/Data/x.ini"));
    EXPECT_TRUE(Exists("app/data/README.txt"));
    EXPECT_FALSE(Exists("app/data/x.ini"));
    EXPECT_FALSE(Exists("app/data/Readme.txt"));
}

// Names reach the runner exactly as the engine had them: characters CP949
// cannot hold, the line syntax's own characters, string references. The
// copy at the next start and the uninstall find the folders that exist, and
// only what was recorded goes.
TEST_F(InfRunnerTest, NamesTheEngineWritesComeBackExactly)
{
    const std::vector<std::pair<std::string, std::string>> files = {
        {"Masaüstü", "Velmor.desktop"},
        {"Área, \"de\"; trabalho", "a,b;\"c\".dll"},
        {"100%Product%", "[x] = y.txt"},
        {"<U+0041> ", " lead.txt"},
    };
    const std::string key = "Software\\Quenta\\Velmor";
    const std::vector<std::string> values = {"x\",\"y;z", "a = b", "%Product%", "\";", "<U+0041>"};
    std::filesystem::create_directories(m_env.Path("app/Masaustu"));
    WriteFile("app/Masaustu/Velmor.desktop", "the user's");
    WriteValue(key.c_str(), "Velmor", "kept");
    WriteValue((key + "\\Other").c_str(), "", "kept");
    CSetupFile setup = Setup();
    ASSERT_EQ(setup.CreateInstallFile(), S_OK);
    ASSERT_EQ(setup.CreateUninstallFile(), S_OK);
    for (const auto &[folder, file] : files) {
        const std::string dir = m_env.Path("app/" + folder);
        std::filesystem::create_directories(dir);
        WriteFile("app/" + folder + "/" + file, "old");
        WriteFile("tmp/" + file, folder);
        setup.RegisterDestination(dir, false);
        EXPECT_EQ(setup.DestinationNumber(SetupTarget::UninstallFile, dir),
                  setup.DestinationNumber(SetupTarget::UninstallFile, dir + "/"));
        setup.RecordFile(dir, file, false, RECORD_INSTALLED, SetupTarget::UninstallFile);
        setup.RecordFile(dir, file, false, RECORD_COPY_AT_RESTART, SetupTarget::UninstallFile);
    }
    for (const std::string &value : values) {
        WriteValue(key.c_str(), value.c_str(), "1");
        WriteValue((key + "\\" + value).c_str(), "", "1");
        setup.AddUninstallLine("DelRegSection", CSetupFile::RegistryLine("HKLM", key, value));
        setup.AddUninstallLine("DelRegSection", CSetupFile::RegistryKeyLine("HKLM", key + "\\" + value));
    }

    EXPECT_EQ(CInfRunner::Run(setup.InstallFilePath()), S_OK);
    for (const auto &[folder, file] : files)
        EXPECT_EQ(TestDir::Read(m_env.Path("app/" + folder + "/" + file)), folder);
    m_env.Answer({platform::IDYES});
    EXPECT_EQ(CInfRunner::Run(setup.UninstallFilePath()), S_OK);
    for (const auto &[folder, file] : files)
        EXPECT_FALSE(Exists("app/" + folder)) << folder;
    for (const std::string &value : values)
        EXPECT_FALSE(ReadValue(key.c_str(), value.c_str())) << value;
    EXPECT_EQ(TestDir::Read(m_env.Path("app/Masaustu/Velmor.desktop")), "the user's");
    EXPECT_EQ(ReadValue(key.c_str(), "Velmor"), "kept");
    EXPECT_EQ(ReadValue((key + "\\Other").c_str(), ""), "kept");
}
