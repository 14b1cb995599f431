// "Mirvane.cfg" as the updater reads it: defaults, the validity rule, the
// registry references, buffer limits, foreign bytes, the command line and
// the one value written back.
#include "CMirvaneCommandLine.h"
#include "CMirvaneConfig.h"
#include "RegistryReference.h"
#include "TextFormat.h"

#include "platform/CodePage.h"
#include "platform/Registry.h"

#include "TestDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>

namespace {

class ConfigTest : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("VELMOR_REGISTRY_DIR", m_store.path().c_str(), 1);
        setenv("XDG_DATA_HOME", (m_home.path() / "data").c_str(), 1);
    }

    // Writes "Mirvane.cfg" in the folder, CP949 as the installer writes it.
    void WriteConfig(const std::string &utf8)
    {
        std::ofstream(m_dir.file("Mirvane.cfg"), std::ios::binary) << platform::Utf8ToAnsi(utf8);
    }

    CMirvaneConfig Read(bool *found = nullptr)
    {
        CMirvaneConfig config;
        const bool ok = config.Read(m_dir.path().string());
        if (found)
            *found = ok;
        return config;
    }

    static void SetString(platform::RegRoot root, const std::string &key, const std::string &name,
                          const std::string &value)
    {
        platform::RegistryKey k;
        ASSERT_EQ(platform::RegistryKey::Create(root, key, k), S_OK);
        ASSERT_EQ(k.WriteString(name, value), S_OK);
    }

    TestDir m_dir{"mirvane-config"};
    TestDir m_store{"mirvane-config-store"};
    TestDir m_home{"mirvane-config-home"};
};

const char kComplete[] = "[config]\r\n"
                         "KorName=벨모개인방송\r\n"
                         "EngName=Velmor\r\n"
                         "Version=1.0.0.1\r\n"
                         "Execute=/opt/velmor/Velmor.exe\r\n"
                         "Argument=/u\r\n"
                         "Skin=/opt/velmor/Mirvane.skin\r\n"
                         "Script=http://127.0.0.1:1/update/VelmorUpdate.kus\r\n";

} // namespace

TEST_F(ConfigTest, MissingFileIsReportedAndEveryKeyHasItsDefault)
{
    bool found = true;
    CMirvaneConfig config = Read(&found);
    EXPECT_FALSE(found);
    EXPECT_EQ(config.Path(), m_dir.file("Mirvane.cfg"));

    WriteConfig("[config]\r\n");
    config = Read(&found);
    EXPECT_TRUE(found);
    EXPECT_EQ(config.KorName, "제목없음");
    EXPECT_EQ(config.EngName, "NoTitle");
    EXPECT_EQ(config.Version, "0");
    EXPECT_FALSE(config.Online);
    EXPECT_EQ(config.Execute, "");
    EXPECT_EQ(config.Argument, "");
    EXPECT_EQ(config.Skin, "");
    EXPECT_EQ(config.Script, "");
    EXPECT_EQ(config.Launch, "");
    EXPECT_EQ(config.InstallDir, "");
    EXPECT_EQ(config.PublicKey, "");
    EXPECT_FALSE(config.IsValid());
}

TEST_F(ConfigTest, ValidOnlyWithAVersionOtherThanZeroAndExecuteSkinAndScript)
{
    WriteConfig(kComplete);
    CMirvaneConfig config = Read();
    EXPECT_TRUE(config.IsValid());
    EXPECT_EQ(config.KorName, "벨모개인방송");

    for (const char *broken : {"Version=0", "Execute=", "Skin=", "Script="}) {
        std::string text = kComplete;
        const std::string key = std::string(broken).substr(0, std::string(broken).find('=') + 1);
        const std::size_t at = text.find(key);
        text.replace(at, text.find("\r\n", at) - at, broken);
        WriteConfig(text);
        EXPECT_FALSE(Read().IsValid()) << broken;
    }
}

TEST_F(ConfigTest, OnlineIsYesInAnyCaseAndNothingElse)
{
    WriteConfig(std::string(kComplete) + "Online=YES\r\n");
    EXPECT_TRUE(Read().Online);
    WriteConfig(std::string(kComplete) + "Online=1\r\n");
    EXPECT_FALSE(Read().Online);
}

TEST_F(ConfigTest, RegistryReferencesResolveToTheValueOrNothing)
{
    SetString(platform::RegRoot::HKLM, "Software\\X", "Path", "C:\\Program Files\\X\\");
    SetString(platform::RegRoot::HKU, "Software\\X", "Path", "/opt/x/");
    EXPECT_EQ(ResolveRegistryReference("HKLM,Software\\X,Path"), "C:\\Program Files\\X\\");
    EXPECT_EQ(ResolveRegistryReference("hkus,Software\\X,Path"), "/opt/x/");
    EXPECT_EQ(ResolveRegistryReference("HKU,software\\x,path"), "/opt/x/");
    EXPECT_EQ(ResolveRegistryReference("HKXX,Software\\X,Path"), "");
    EXPECT_EQ(ResolveRegistryReference("HKLM,Software\\X"), "");
    EXPECT_EQ(ResolveRegistryReference("HKLM,,Path"), "");
    EXPECT_EQ(ResolveRegistryReference(",Software\\X,Path"), "");
    EXPECT_EQ(ResolveRegistryReference("HKLM,Software\\X,Other"), "");
    EXPECT_EQ(ResolveRegistryReference("HKPD,Software\\X,Path"), ""); // not a root of references
    EXPECT_EQ(ResolveRegistryReference(""), "");

    // InstallDir loses one trailing separator.
    WriteConfig(std::string(kComplete) + "InstallDir=HKLM,Software\\X,Path\r\n");
    EXPECT_EQ(Read().InstallDir, "C:\\Program Files\\X");
    WriteConfig(std::string(kComplete) + "InstallDir=HKU,Software\\X,Path\r\n");
    EXPECT_EQ(Read().InstallDir, "/opt/x");
}

TEST_F(ConfigTest, ProgramGroupIsJoinedToTheStartMenuProgramsFolder)
{
    const std::string programs = (m_home.path() / "data" / "applications").string();
    SetString(platform::RegRoot::HKCU, "Software\\Quenta\\Velmor", "PGroup", "벨모개인방송\\");
    WriteConfig(std::string(kComplete) + "PgroupDir=HKCU,Software\\Quenta\\Velmor,PGroup\r\n");
    EXPECT_EQ(Read().PgroupDir, programs + "/벨모개인방송");

    // A group recorded as a whole folder is taken as it is.
    SetString(platform::RegRoot::HKCU, "Software\\Quenta\\Velmor", "PGroup", programs + "/Velmor/");
    EXPECT_EQ(Read().PgroupDir, programs + "/Velmor");

    // Without a group the macro names the Programs folder itself.
    WriteConfig(kComplete);
    EXPECT_EQ(Read().PgroupDir, programs);

    const installengine::CInstallNames names = Read().InstallNames();
    EXPECT_EQ(names.korName, "벨모개인방송");
    EXPECT_EQ(names.engName, "Velmor");
    EXPECT_EQ(names.version, "1.0.0.1");
    EXPECT_EQ(names.programGroupDir, programs);
}

TEST_F(ConfigTest, ValuesAreCutToTheirBufferAndForeignBytesNeverBreakTheRead)
{
    // 2000 two-byte characters: 1023 bytes hold 511 of them.
    std::string name;
    for (int i = 0; i < 2000; ++i)
        name += "가";
    // The first key of a name counts: the long ones come first.
    WriteConfig("[config]\r\nKorName=" + name + "\r\nExecute=" + std::string(5000, 'x') + "\r\n" +
                std::string(kComplete).substr(10));
    const CMirvaneConfig config = Read();
    EXPECT_EQ(platform::AnsiLength(config.KorName), 1022u);
    EXPECT_EQ(config.Execute.size(), 1023u);

    // Any bytes at all: read, refused, nothing changed.
    std::mt19937 random(14);
    for (int round = 0; round < 50; ++round) {
        std::string bytes(static_cast<std::size_t>(random() % 4096), '\0');
        for (char &c : bytes)
            c = static_cast<char>(random());
        if (round % 2)
            bytes = "[config]\r\n" + bytes;
        std::ofstream(m_dir.file("Mirvane.cfg"), std::ios::binary) << bytes;
        bool found = false;
        const CMirvaneConfig any = Read(&found);
        EXPECT_TRUE(found);
        EXPECT_EQ(TestDir::Read(m_dir.file("Mirvane.cfg")), bytes);
        (void)any.IsValid();
    }
}

TEST_F(ConfigTest, VersionIsWrittenBackOnlyWhenItChanges)
{
    const std::string original = std::string("; 설치 프로그램이 쓴 설정\r\n") + kComplete + "Online=no\r\n";
    WriteConfig(original);
    CMirvaneConfig config = Read();
    ASSERT_TRUE(config.WriteVersion("1.0.0.1"));
    EXPECT_EQ(TestDir::Read(m_dir.file("Mirvane.cfg")), platform::Utf8ToAnsi(original));
    ASSERT_TRUE(config.WriteVersion("1.0.0.2"));
    EXPECT_EQ(config.Version, "1.0.0.2");
    // The key keeps its spelling, every other line stays.
    std::string expected = original;
    expected.replace(expected.find("Version=1.0.0.1"), 15, "Version=1.0.0.2");
    EXPECT_EQ(TestDir::Read(m_dir.file("Mirvane.cfg")), platform::Utf8ToAnsi(expected));
    EXPECT_EQ(Read().Version, "1.0.0.2");
}

TEST(MirvaneCommandLine, PatchSwitchAndPassThroughText)
{
    CMirvaneCommandLine line("a /PATCH b");
    EXPECT_TRUE(line.IsPatch());
    EXPECT_EQ(line.PassThrough(), "a b ");
    EXPECT_EQ(line.Line(), "a /PATCH b");

    CMirvaneCommandLine plain("-start 1  -lport 7000");
    EXPECT_FALSE(plain.IsPatch());
    EXPECT_EQ(plain.PassThrough(), "-start 1 -lport 7000 ");

    EXPECT_FALSE(CMirvaneCommandLine("/patched").IsPatch());
    EXPECT_EQ(CMirvaneCommandLine("").PassThrough(), "");
}

TEST(TextFormat, ArgumentsAreNeverFormats)
{
    EXPECT_EQ(FormatText("'%s'(을)를 찾을 수 없습니다. '%s'", {"/x/%s%d.exe", "벨모"}),
              "'/x/%s%d.exe'(을)를 찾을 수 없습니다. '벨모'");
    EXPECT_EQ(FormatText("%s and %s", {"one"}), "one and %s");
    EXPECT_TRUE(SameTextIgnoringCase("msgOKCANCEL", "MSGokcancel"));
    EXPECT_FALSE(SameTextIgnoringCase("yes", std::string_view("yes\0", 4)));
}
