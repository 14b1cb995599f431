#include "CRunOnce.h"
#include "CSetupFile.h"
#include "InfLine.h"

#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "platform/Registry.h"

#include "../EngineTestEnv.h"

#include <gtest/gtest.h>

using namespace installengine;
using platform::GetPrivateProfileSection;
using platform::GetPrivateProfileString;

namespace {

class SetupFileTest : public testing::Test {
protected:
    SetupFileTest()
    {
        std::filesystem::create_directories(m_installDir);
        m_options.korName = "미르반";
        m_options.engName = "Mirvane";
        m_options.tempDir = m_env.Path("tmp");
        m_options.installDir = m_installDir;
    }

    std::string Section(const std::string &file, const char *section)
    {
        std::string all;
        for (const std::string &line : GetPrivateProfileSection(section, 1 << 20, file))
            all += line + "|";
        return all;
    }
    std::string Key(const std::string &file, const char *section, const char *key)
    {
        return GetPrivateProfileString(section, key, "", 8192, file);
    }
    // The file with the test folder written as {ROOT}.
    std::string Normalised(const std::string &path)
    {
        std::string text = TestDir::Read(path);
        for (std::size_t at; (at = text.find(m_env.Root())) != std::string::npos;)
            text.replace(at, m_env.Root().size(), "{ROOT}");
        return text;
    }

    EngineTestEnv m_env{"setupfile"};
    std::string m_installDir = m_env.Path("opt/Quenta/Velmor");
    CSetupFileOptions m_options;
};

std::string Expected(const char *name)
{
    return TestDir::Read(std::string(VELMOR_SOURCE_DIR) + "/tests/installengine/setupfile/data/" + name);
}

} // namespace

// An installation recorded step by step gives exactly the files written by
// hand from the line tables.
TEST_F(SetupFileTest, RecordedInstallationGivesTheHandWrittenFiles)
{
    CSetupFile setup(m_options);
    const std::string velmor = m_installDir;
    const std::string skin = velmor + "/Skin";
    const std::string fonts = m_env.Path("fonts");
    const std::string old = m_env.Path("old");
    ASSERT_EQ(setup.CreateInstallFile(), S_OK);
    ASSERT_EQ(setup.CreateUninstallFile(), S_OK);
    setup.RegisterDestination(velmor, true);
    setup.RegisterDestination(skin, false);
    setup.RecordFile(velmor, "Velmor.exe", false, RECORD_INSTALLED, SetupTarget::UninstallFile);
    setup.RecordFile(velmor, "ActSkn43.ocx", true, RECORD_INSTALLED, SetupTarget::UninstallFile);
    setup.RecordFile(skin, "Main.skn", false, RECORD_INSTALLED, SetupTarget::UninstallFile);
    // Again, through a script-style folder: no second entry or line.
    setup.RecordFile(velmor + "\\", "Velmor.exe", false, RECORD_INSTALLED, SetupTarget::UninstallFile);
    setup.RegisterDestination(fonts, true);
    setup.RecordFile(fonts, "gulim.ttc", false, RECORD_EXISTING, SetupTarget::UninstallFile);
    setup.RecordFile(velmor, "Mirvane.exe", false, RECORD_COPY_AT_RESTART, SetupTarget::UninstallFile);
    setup.RegisterDestination(old, true);
    setup.RecordFile(old, "old.dll", false, RECORD_INSTALLED, SetupTarget::InstallFile);
    setup.AddUninstallLine("DelRegSection",
                           CSetupFile::RegistryLine("HKLM", "Software\\Quenta\\Velmor", "Path"));
    setup.AddUninstallLine("UpdateInisSection", CSetupFile::WinIniLine("Velmor", "Path"));
    setup.AddUninstallLine("UpdateInisSection",
                           CSetupFile::PrivateIniLine(velmor + "/velmor.ini", "config", "Skin"));
    setup.AddUninstallLine("UpdateInisSection", CSetupFile::SystemIniLine("drivers32", "vidc.XVID"));
    // A line already present under another letter case is not added again.
    setup.AddUninstallLine("delregsection",
                           CSetupFile::RegistryLine("hklm", "software\\quenta\\velmor", "path"));
    setup.AddUninstallLine(
        "DelRegSection",
        CSetupFile::RegistryLine("HKLM", "SYSTEM\\CurrentControlSet\\Control\\MediaResources\\icm\\vidc.XVID",
                                 "Description"));

    EXPECT_EQ(setup.InstallFilePath(), m_env.Path("tmp/MirvaneInstall.INF"));
    EXPECT_EQ(setup.UninstallFilePath(), velmor + "/MirvaneUnInstall.INF");
    EXPECT_EQ(Normalised(setup.InstallFilePath()), Expected("MirvaneInstall.INF"));
    EXPECT_EQ(Normalised(setup.UninstallFilePath()), Expected("MirvaneUnInstall.INF"));
}

TEST_F(SetupFileTest, FilesAreCreatedFreshOrExtended)
{
    CSetupFile setup(m_options);
    ASSERT_EQ(setup.CreateInstallFile(), S_OK);
    setup.RecordFile(m_installDir, "a.dll", false, RECORD_INSTALLED, SetupTarget::InstallFile);
    // A new installation starts a new install file.
    ASSERT_EQ(setup.CreateInstallFile(), S_OK);
    EXPECT_EQ(Key(setup.InstallFilePath(), "DefaultInstall", "Delfiles"), "");

    ASSERT_EQ(setup.CreateUninstallFile(), S_OK);
    setup.RecordFile(m_installDir, "a.dll", false, RECORD_INSTALLED, SetupTarget::UninstallFile);
    const std::string before = TestDir::Read(setup.UninstallFilePath());
    EXPECT_EQ(setup.CreateUninstallFile(), S_FALSE);
    EXPECT_EQ(TestDir::Read(setup.UninstallFilePath()), before);
    // The prompts keep the string reference, resolved when the file runs.
    EXPECT_EQ(Key(setup.UninstallFilePath(), "BeginPromptSection", "prompt"),
              "%KorName%(을)를 제거하시겠습니까?");
    EXPECT_EQ(Key(setup.UninstallFilePath(), "Strings", "KorName"), "미르반");
}

TEST_F(SetupFileTest, AMissingInstallFolderIsMadeAndRemovedOnUninstall)
{
    m_options.installDir = m_env.Path("new/Quenta/Velmor");
    std::filesystem::create_directories(m_env.Path("new"));
    CSetupFile setup(m_options);
    ASSERT_EQ(setup.CreateInstallFile(), S_OK);
    ASSERT_EQ(setup.CreateUninstallFile(), S_OK);
    EXPECT_TRUE(std::filesystem::exists(setup.UninstallFilePath()));
    EXPECT_EQ(Section(setup.UninstallFilePath(), "DelDirsSection"), "%49000%|%49001%|");
    EXPECT_EQ(Section(setup.UninstallFilePath(), "Dest1"),
              ",,,,\"" + m_env.Path("new/Quenta/Velmor") + "\"|");
}

TEST_F(SetupFileTest, FoldersKeepOneNumberPerFile)
{
    m_options.programLogs.clear(); // the records alone
    CSetupFile setup(m_options);
    ASSERT_EQ(setup.CreateInstallFile(), S_OK);
    ASSERT_EQ(setup.CreateUninstallFile(), S_OK);
    const std::string comma = m_env.Path("My, Files");
    EXPECT_EQ(setup.DestinationNumber(SetupTarget::UninstallFile, comma), 0);
    EXPECT_EQ(setup.DestinationNumber(SetupTarget::UninstallFile, "/opt/A"), 1);
    // Compared without quotes or one trailing separator.
    EXPECT_EQ(setup.DestinationNumber(SetupTarget::UninstallFile, comma + "/"), 0);
    EXPECT_EQ(setup.DestinationNumber(SetupTarget::UninstallFile, "/opt/A\\"), 1);
    // The install file numbers its own folders.
    EXPECT_EQ(setup.DestinationNumber(SetupTarget::InstallFile, "/opt/A"), 0);

    // Two files of one folder share its group; a second folder gets the next.
    setup.RecordFile("/opt/A", "x.dll", false, RECORD_INSTALLED, SetupTarget::UninstallFile);
    setup.RecordFile("/opt/A", "y.dll", false, RECORD_INSTALLED, SetupTarget::UninstallFile);
    setup.RecordFile("/opt/B", "z.dll", false, RECORD_INSTALLED, SetupTarget::UninstallFile);
    const std::string &file = setup.UninstallFilePath();
    EXPECT_EQ(Section(file, "DestGrp1"), "x.dll,,,1|y.dll,,,1|");
    EXPECT_EQ(Section(file, "DestGrp2"), "z.dll,,,1|");
    EXPECT_EQ(Key(file, "DefaultInstall", "Delfiles"), "DestGrp1,DestGrp2");

    // A hand-edited file whose next number is taken does not lose that folder.
    platform::WritePrivateProfileSection("Dest3", {",,,,\"/opt/kept\""}, file);
    EXPECT_EQ(setup.DestinationNumber(SetupTarget::UninstallFile, "/opt/C"), 4);
    EXPECT_EQ(Section(file, "Dest3"), ",,,,\"/opt/kept\"|");
    EXPECT_EQ(setup.DestinationNumber(SetupTarget::UninstallFile, "/opt/kept"), 3);
}

TEST_F(SetupFileTest, RecordsFollowTheirModes)
{
    m_options.programLogs.clear(); // the records alone
    CSetupFile setup(m_options);
    ASSERT_EQ(setup.CreateInstallFile(), S_OK);
    ASSERT_EQ(setup.CreateUninstallFile(), S_OK);
    const std::string &un = setup.UninstallFilePath();
    const std::string &in = setup.InstallFilePath();
    const std::string dir = m_installDir;

    // An existing file stays "exist" even when later installed over.
    setup.RecordFile(dir, "keep.dll", false, RECORD_EXISTING, SetupTarget::UninstallFile);
    setup.RecordFile(dir, "keep.dll", true, RECORD_INSTALLED, SetupTarget::UninstallFile);
    EXPECT_EQ(setup.InventoryEntry(SetupTarget::UninstallFile, dir + "/keep.dll"), "exist");
    EXPECT_EQ(Section(un, "UnregisterOCXsSection"), "");
    EXPECT_EQ(Key(un, "DefaultInstall", "Delfiles"), "");

    // A file installed before and in use now: still "install", and the
    // copy at the next start is listed.
    setup.RecordFile(dir, "Velmor.exe", false, RECORD_INSTALLED, SetupTarget::UninstallFile);
    setup.RecordFile(dir, "Velmor.exe", false, RECORD_COPY_AT_RESTART, SetupTarget::UninstallFile);
    EXPECT_TRUE(setup.HasInventoryEntry(dir + "/Velmor.exe"));
    EXPECT_EQ(setup.InventoryEntry(SetupTarget::UninstallFile, dir + "/Velmor.exe"), "install");
    EXPECT_EQ(Key(in, "DefaultInstall", "Copyfiles"), "DestGrp0");
    EXPECT_EQ(Section(in, "DestGrp0"), "Velmor.exe,,,1|");

    // Deletion at the next start is listed even for a file of the product.
    setup.RecordFile(dir, "Velmor.exe", false, RECORD_INSTALLED, SetupTarget::InstallFile);
    EXPECT_EQ(Key(in, "DefaultInstall", "Delfiles"), "DestGrp0");

    // Names that would break a field are quoted.
    setup.RecordFile(dir, "a,b.dll", true, RECORD_INSTALLED, SetupTarget::UninstallFile);
    EXPECT_EQ(Section(un, "UnregisterOCXsSection"), "%49000%\\\"a,b.dll\"|");
    EXPECT_EQ(SplitInfFields(GetPrivateProfileSection("DestGrp0", 8192, un).back()).front(), "a,b.dll");
}

TEST_F(SetupFileTest, NothingLeftForTheNextStartAsksNothing)
{
    CSetupFile setup(m_options);
    ASSERT_EQ(setup.CreateInstallFile(), S_OK);
    setup.RegisterDestination(m_installDir, true);
    EXPECT_EQ(setup.HandOver(), HandOverResult::Complete);
    EXPECT_FALSE(std::filesystem::exists(setup.InstallFilePath()));
    EXPECT_TRUE(m_env.Boxes().empty());
    platform::RegistryKey key;
    EXPECT_TRUE(FAILED(platform::RegistryKey::Open(platform::RegRoot::HKLM, CRunOnce::kKey, key)) ||
                key.EnumValues().empty());
    EXPECT_FALSE(std::filesystem::exists(CRunOnce::AutostartEntryPath()));
}

TEST_F(SetupFileTest, WorkLeftIsHandedToTheNextStartAndARestartOffered)
{
    CSetupFile setup(m_options);
    ASSERT_EQ(setup.CreateInstallFile(), S_OK);
    setup.RecordFile(m_installDir, "Velmor.exe", false, RECORD_COPY_AT_RESTART, SetupTarget::UninstallFile);

    // Declined: the refusal message, no restart.
    m_env.Answer({platform::IDNO});
    EXPECT_EQ(setup.HandOver(), HandOverResult::RestartNeeded);
    ASSERT_EQ(m_env.Boxes().size(), 2u);
    EXPECT_EQ(m_env.Boxes()[0].text, CSetupFile::kRestartQuestion);
    EXPECT_EQ(m_env.Boxes()[0].caption, "Mirvane");
    EXPECT_EQ(m_env.Boxes()[0].style & 0xF, platform::MB_YESNO);
    EXPECT_EQ(m_env.Boxes()[1].text, CSetupFile::kRestartRefused);
    EXPECT_EQ(m_env.RestartRequests(), 0);

    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::Open(platform::RegRoot::HKLM,
                                          "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", key),
              S_OK);
    EXPECT_EQ(key.ReadString("VelmorInstaller"),
              "rundll32.exe advpack.dll,LaunchINFSection " + setup.InstallFilePath());
    EXPECT_TRUE(std::filesystem::exists(setup.InstallFilePath()));
    const std::string entry = TestDir::Read(m_env.Path("config/autostart/velmor-runonce.desktop"));
    EXPECT_NE(entry.find("Exec="), std::string::npos);
    EXPECT_NE(entry.find("runonce.exe"), std::string::npos);

    // Accepted: the system is asked to restart, nothing more is shown.
    m_env.Answer({platform::IDYES});
    EXPECT_EQ(setup.HandOver(), HandOverResult::RestartNeeded);
    EXPECT_EQ(m_env.Boxes().size(), 3u);
    EXPECT_EQ(m_env.RestartRequests(), 1);
}

TEST_F(SetupFileTest, TheWebLauncherNamesItsDiskValueAndCaption)
{
    m_options.korName = "벨모르";
    m_options.engName = "Velmor";
    m_options.diskName = "Quenta, Setup Disk";
    m_options.runOnceName = "Pellune";
    m_options.caption = "펠룬";
    CSetupFile setup(m_options);
    ASSERT_EQ(setup.CreateInstallFile(), S_OK);
    EXPECT_NE(TestDir::Read(setup.InstallFilePath()).find("1=\"Quenta, Setup Disk\",,0\r\n"),
              std::string::npos);
    setup.RecordFile(m_installDir, "Velmor.exe", false, RECORD_INSTALLED, SetupTarget::InstallFile);
    m_env.Answer({platform::IDNO});
    EXPECT_EQ(setup.HandOver(), HandOverResult::RestartNeeded);
    ASSERT_EQ(m_env.Boxes().size(), 2u);
    EXPECT_EQ(m_env.Boxes()[0].caption, "펠룬");
    EXPECT_EQ(m_env.Boxes()[1].caption, "펠룬");
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::Open(platform::RegRoot::HKLM, CRunOnce::kKey, key), S_OK);
    EXPECT_EQ(key.ReadString("Pellune"),
              "rundll32.exe advpack.dll,LaunchINFSection " + setup.InstallFilePath());
    EXPECT_FALSE(key.ReadString("VelmorInstaller"));
}

TEST_F(SetupFileTest, AValueThatCannotBeWrittenIsAFailureNotASuccess)
{
    CSetupFile setup(m_options);
    ASSERT_EQ(setup.CreateInstallFile(), S_OK);
    setup.RecordFile(m_installDir, "Velmor.exe", false, RECORD_COPY_AT_RESTART, SetupTarget::UninstallFile);
    // The registry store's folder is a file: nothing can be written there.
    m_env.Set("VELMOR_REGISTRY_DIR", setup.InstallFilePath());
    EXPECT_EQ(setup.HandOver(), HandOverResult::Failed);
    EXPECT_TRUE(m_env.Boxes().empty());
}

TEST(InfLineTest, FieldsSplitAtCommasOutsideQuotes)
{
    EXPECT_EQ(SplitInfFields(",,,,\"/opt/My, Files\""),
              (std::vector<std::string>{"", "", "", "", "/opt/My, Files"}));
    EXPECT_EQ(SplitInfFields(" HKLM , \"a \"\"b\"\"\" ,c d ; comment, not a field"),
              (std::vector<std::string>{"HKLM", "a \"b\"", "c d"}));
    EXPECT_EQ(SplitInfFields("%49000%\\\"a,b.dll\""), std::vector<std::string>{"%49000%\\a,b.dll"});
    EXPECT_EQ(SplitInfFields("\"never closed,x"), std::vector<std::string>{"never closed,x"});
    EXPECT_EQ(SplitInfFields(""), std::vector<std::string>{""});
    EXPECT_EQ(QuoteInfField("a\"b"), "\"a\"\"b\"");
    EXPECT_EQ(InfField("plain name.dll"), "plain name.dll");
    EXPECT_EQ(InfField(" lead"), "\" lead\"");
}

// A link left at a setup file's name, or at the name its new text is
// written under before the rename, does not carry any setup line into the
// file it points at.
TEST_F(SetupFileTest, LinksAtTheSetupFilesNamesAreNotWrittenThrough)
{
    const std::string victim = m_env.Path("home/.bashrc");
    const std::string install = m_options.tempDir + "/MirvaneInstall.INF";
    const std::string uninstall = m_installDir + "/MirvaneUnInstall.INF";
    for (const std::string &link : {install, m_options.tempDir + "/.MirvaneInstall.INF.velmor-tmp", uninstall,
                                    m_installDir + "/.MirvaneUnInstall.INF.velmor-tmp"}) {
        std::ofstream(victim, std::ios::trunc) << "alias ls='ls -F'\n";
        std::filesystem::remove(install);
        std::filesystem::remove(uninstall);
        std::filesystem::create_symlink(victim, link);
        // As the install worker goes: nothing more after a failure.
        CSetupFile setup(m_options);
        const bool made = SUCCEEDED(setup.CreateInstallFile()) && SUCCEEDED(setup.CreateUninstallFile());
        EXPECT_EQ(made, link != uninstall) << link;
        if (made) {
            setup.RecordFile(m_installDir, "a.dll", false, RECORD_INSTALLED, SetupTarget::InstallFile);
            setup.RecordFile(m_installDir, "b.dll", false, RECORD_INSTALLED, SetupTarget::UninstallFile);
            setup.AddUninstallLine("DelRegSection", CSetupFile::RegistryLine("HKLM", "Software\\X", "Y"));
        }
        EXPECT_EQ(TestDir::Read(victim), "alias ls='ls -F'\n") << link;
        std::filesystem::remove(link);
    }
}
