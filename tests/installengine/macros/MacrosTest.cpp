#include "Macros.h"
#include "CFolderResolver.h"
#include "CLogFile.h"
#include "ScriptPath.h"

#include "platform/Registry.h"
#include "platform/ShellFolders.h"

#include "TestDir.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace installengine;
using platform::RegRoot;

namespace {

const char *kShellFolders = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Private home, XDG, Windows, temporary folders and registry store.
class MacrosTest : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char *sub : {"home", "data", "config", "state", "windows", "tmp", "registry"})
            std::filesystem::create_directories(m_dir.path() / sub);
        Set("HOME", "home");
        Set("XDG_DATA_HOME", "data");
        Set("XDG_CONFIG_HOME", "config");
        Set("XDG_STATE_HOME", "state");
        Set("VELMOR_WINDOWS_DIR", "windows");
        Set("TMPDIR", "tmp");
        Set("VELMOR_REGISTRY_DIR", "registry");
        m_names = {"미르반", "Mirvane", "1.22", "/home/u/.local/share/applications/Quenta",
                   "/opt/Quenta/Velmor"};
    }
    void TearDown() override
    {
        for (const auto &[name, value] : m_saved)
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }
    void Set(const char *name, const char *sub)
    {
        const char *old = std::getenv(name);
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setenv(name, (m_dir.path() / sub).c_str(), 1);
    }
    std::string Dir(const char *sub) const { return (m_dir.path() / sub).string(); }
    std::string Expand(std::string_view text) const { return ExpandedPathMacros(text, m_names); }
    static void WriteHklm(const char *key, const char *name, const char *value)
    {
        platform::RegistryKey k;
        ASSERT_EQ(platform::RegistryKey::Create(RegRoot::HKLM, key, k), S_OK);
        ASSERT_EQ(k.WriteString(name, value), S_OK);
    }

    TestDir m_dir{"macros"};
    CInstallNames m_names;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

} // namespace

TEST_F(MacrosTest, EveryPathMacroHasItsValue)
{
    EXPECT_EQ(Expand("%APP_KOR_NAME%|%APP_ENG_NAME%|%APP_VERSION%"), "미르반|Mirvane|1.22");
    EXPECT_EQ(Expand("%APP_PROGRAM_GROUP_DIR%\\x"), "/home/u/.local/share/applications/Quenta\\x");
    EXPECT_EQ(Expand("%INSTALL_DIR%\\Skin"), "/opt/Quenta/Velmor\\Skin");
    EXPECT_EQ(Expand("%WINDOWS_DIR%"), Dir("windows"));
    EXPECT_EQ(Expand("%SYSTEM_DIR%"), Dir("windows") + "/system32");
    // The temporary folder comes with a trailing separator; it is removed.
    EXPECT_EQ(Expand("%TEMP_DIR%\\a.cab"), Dir("state") + "/velmor/temp\\a.cab");
    EXPECT_EQ(Expand("%PROGRAM_FILES_DIR%"), platform::DefaultProgramFilesDirectory());
    EXPECT_EQ(Expand("%USER_STARTMENU_PROGRAMS_DIR%"), Dir("data") + "/applications");
    EXPECT_EQ(Expand("%USER_STARTMENU_DIR%"), Dir("data") + "/applications");
    EXPECT_EQ(Expand("%USER_STARTMENU_STARTUP_DIR%"), Dir("config") + "/autostart");
    EXPECT_EQ(Expand("%USER_FONTS_DIR%"), Dir("data") + "/fonts");
    EXPECT_EQ(Expand("%USER_DOCUMENTS_DIR%"),
              platform::GetSpecialFolderPath(platform::ShellFolder::Documents));
    EXPECT_EQ(Expand("%USER_DESKTOP_DIR%"), platform::GetSpecialFolderPath(platform::ShellFolder::Desktop));
    EXPECT_FALSE(Expand("%USER_DESKTOP_DIR%").empty());
    // All-users folders without registry entries are this desktop's own, and
    // a desktop is always found (the user's when there is no common one).
    EXPECT_EQ(Expand("%STARTMENU_PROGRAMS_DIR%"),
              platform::GetSpecialFolderPath(platform::ShellFolder::CommonPrograms));
    EXPECT_EQ(Expand("%PROGRAM_GROUP_DIR%"), Expand("%STARTMENU_PROGRAMS_DIR%"));
    EXPECT_EQ(Expand("%STARTMENU_STARTUP_DIR%"),
              platform::GetSpecialFolderPath(platform::ShellFolder::CommonStartup));
    EXPECT_FALSE(Expand("%DESKTOP_DIR%").empty());
}

TEST_F(MacrosTest, ReplacementIsCaseSensitiveEveryOccurrenceAndInOrder)
{
    EXPECT_EQ(Expand("%install_dir%\\a"), "%install_dir%\\a");
    EXPECT_EQ(Expand("%INSTALL_DIR%;%INSTALL_DIR%"), "/opt/Quenta/Velmor;/opt/Quenta/Velmor");
    EXPECT_EQ(Expand("%UNKNOWN_DIR%%"), "%UNKNOWN_DIR%%");
    // A later macro in an earlier value is expanded; an earlier one in a
    // later value is not.
    m_names.korName = "%WINDOWS_DIR%";
    m_names.installDir = "%APP_ENG_NAME%";
    EXPECT_EQ(Expand("%APP_KOR_NAME%"), Dir("windows"));
    EXPECT_EQ(Expand("%INSTALL_DIR%"), "%APP_ENG_NAME%");
    // The five names are inserted as they are, trailing separator included.
    m_names.installDir = "/opt/x/";
    EXPECT_EQ(Expand("%INSTALL_DIR%"), "/opt/x/");
}

TEST_F(MacrosTest, RegistryFoldersWinAndLoseOneTrailingSeparator)
{
    WriteHklm("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", "/srv/Programs\\");
    EXPECT_EQ(Expand("%PROGRAM_FILES_DIR%\\Quenta"), "/srv/Programs\\Quenta");

    setenv("VELMOR_TEST_PUBLIC", "/srv/public", 1);
    WriteHklm(kShellFolders, "Common Desktop", "%VELMOR_TEST_PUBLIC%/Desktop/");
    WriteHklm(kShellFolders, "Common Start Menu", "%velmor_test_public%/Menu");
    WriteHklm(kShellFolders, "Common Programs", "/srv/%NOT_SET%/Programs%");
    WriteHklm(kShellFolders, "Common Startup", "");
    EXPECT_EQ(Expand("%DESKTOP_DIR%"), "/srv/public/Desktop");
    EXPECT_EQ(Expand("%STARTMENU_DIR%"), "/srv/public/Menu");
    EXPECT_EQ(Expand("%STARTMENU_PROGRAMS_DIR%|%PROGRAM_GROUP_DIR%"),
              "/srv/%NOT_SET%/Programs%|/srv/%NOT_SET%/Programs%");
    // An empty value counts as missing.
    EXPECT_EQ(Expand("%STARTMENU_STARTUP_DIR%"),
              platform::GetSpecialFolderPath(platform::ShellFolder::CommonStartup));
    // A value that does not expand within 260 characters is not used.
    WriteHklm(kShellFolders, "Common Desktop", ("/" + std::string(300, 'd')).c_str());
    EXPECT_NE(Expand("%DESKTOP_DIR%").size(), 301u);
    unsetenv("VELMOR_TEST_PUBLIC");
}

TEST(MacrosFilterTest, FiltersTestTheirBitsWithoutRegardToCase)
{
    struct Row {
        const char *filter;
        DWORD matching;
    };
    const Row rows[] = {{"%WIN_95%", 0x1},      {"%WIN_98%", 0x2},    {"%WIN_ME%", 0x4},
                        {"%WIN_NT%", 0x100},    {"%WIN_2000%", 0x10}, {"%WIN_XP%", 0x1000},
                        {"%WIN_2003%", 0x10000}};
    const DWORD kinds[] = {0, 0x1, 0x2, 0x4, 0x10, 0x100, 0x1000, 0x10000};
    for (const Row &row : rows)
        for (DWORD kind : kinds)
            EXPECT_EQ(MatchSystemFilter(row.filter, kind), kind == row.matching) << row.filter << " " << kind;
    for (DWORD kind : kinds) {
        EXPECT_TRUE(MatchSystemFilter("%win_all%", kind));
        EXPECT_TRUE(MatchSystemFilter("%Win_N9x%", kind));
        EXPECT_EQ(MatchSystemFilter("%WIN_9X%", kind), kind == 0x1 || kind == 0x2 || kind == 0x4);
        EXPECT_FALSE(MatchSystemFilter("WIN_ALL", kind));
        EXPECT_FALSE(MatchSystemFilter("", kind));
    }
    EXPECT_TRUE(MatchSystemFilter("%win_xp%", 0x1000));

    // Here no Windows version is running.
    EXPECT_EQ(GetSystemKind(), 0u);
    EXPECT_TRUE(MatchSystemFilter("%WIN_ALL%"));
    EXPECT_FALSE(MatchSystemFilter("%WIN_XP%"));
    EXPECT_TRUE(MatchInstallOS("%WIN_XP%,%WIN_N9X%"));
    EXPECT_TRUE(MatchInstallOS("%WIN_2000%, %win_all%"));
    EXPECT_FALSE(
        MatchInstallOS("%WIN_95%,%WIN_98%,%WIN_ME%,%WIN_9X%,%WIN_NT%,%WIN_2000%,%WIN_XP%,%WIN_2003%"));
    EXPECT_FALSE(MatchInstallOS(""));
}

TEST(MacrosRootKeyTest, RootKeysMapWithTheirNamesAndOthersAreRefusedAloud)
{
    const struct {
        const char *macro;
        RegRoot root;
        const char *name;
    } rows[] = {{"%HKCR%", RegRoot::HKCR, "HKCR"}, {"%hkcu%", RegRoot::HKCU, "HKCU"},
                {"%HKLM%", RegRoot::HKLM, "HKLM"}, {"%HKU%", RegRoot::HKU, "HKUS"},
                {"%HkUs%", RegRoot::HKU, "HKUS"},  {"%HKPD%", RegRoot::HKPD, "HKPD"}};
    for (const auto &row : rows) {
        const std::optional<CRootKey> key = MapRootKey(row.macro);
        ASSERT_TRUE(key) << row.macro;
        EXPECT_EQ(key->root, row.root);
        EXPECT_STREQ(key->name, row.name);
    }
    SetLogToStandardError(true);
    for (const char *bad : {"HKLM", "%HKCC%", "%HKEY_LOCAL_MACHINE%", ""}) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(MapRootKey(bad)) << bad;
        EXPECT_NE(testing::internal::GetCapturedStderr().find("Invaild Root Key\n"), std::string::npos);
    }
}

TEST(ScriptPathTest, ScriptPathsBecomeNativeAndStayInsideTheirFolders)
{
    EXPECT_EQ(NativePath("/opt/x\\Skin\\Main.skn"), "/opt/x/Skin/Main.skn");
    EXPECT_EQ(JoinPath("/opt/x\\", "\\sub/a.dll"), "/opt/x/sub/a.dll");
    EXPECT_EQ(RemoveTrailingSeparator("/opt/x\\"), "/opt/x");
    EXPECT_EQ(RemoveTrailingSeparator("/opt/x//"), "/opt/x/");
    EXPECT_EQ(NormalPath("/opt//x\\.\\y\\..\\z/"), "/opt/x/z");
    EXPECT_TRUE(IsInsideFolder("/opt/x/a", "/opt/x"));
    EXPECT_TRUE(IsInsideFolder("/opt/x\\sub\\..\\a", "/opt/x/"));
    EXPECT_FALSE(IsInsideFolder("/opt/x\\..\\..\\etc\\passwd", "/opt/x"));
    EXPECT_FALSE(IsInsideFolder("/opt/xy/a", "/opt/x"));
    EXPECT_FALSE(IsInsideFolder("/opt/x", "/opt/x"));
    EXPECT_TRUE(IsInsideFolder("/opt/x/.", "/opt/x", true));
    EXPECT_FALSE(IsInsideFolder("relative/a", "/opt"));
    EXPECT_FALSE(IsInsideFolder("", "/opt"));
}

TEST(FolderResolverTest, EnvironmentExpansionIsWindowsLike)
{
    setenv("VELMOR_T1", "one", 1);
    EXPECT_EQ(CFolderResolver::ExpandEnvironment("%VELMOR_T1%\\%VELMOR_T1%", 260), "one\\one");
    EXPECT_EQ(CFolderResolver::ExpandEnvironment("100%%VELMOR_T1%", 260), "100%one");
    EXPECT_EQ(CFolderResolver::ExpandEnvironment("%NO_SUCH_VAR_X%%VELMOR_T1%", 260), "%NO_SUCH_VAR_X%one");
    EXPECT_EQ(CFolderResolver::ExpandEnvironment("%", 260), "%");
    // "one" and its terminating zero take 4 bytes.
    EXPECT_EQ(CFolderResolver::ExpandEnvironment("%VELMOR_T1%", 3), std::nullopt);
    EXPECT_EQ(CFolderResolver::ExpandEnvironment("%VELMOR_T1%", 4), "one");
    unsetenv("VELMOR_T1");
}
