// reg.exe as a user or a script runs it, against values written through the
// library in a private store.
#include "platform/Registry.h"

#include "RunProgram.h"
#include "TestDir.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

class RegProgram : public testing::Test {
protected:
    void SetUp() override { setenv("VELMOR_REGISTRY_DIR", m_store.path().c_str(), 1); }

    ProgramResult Reg(const std::vector<std::string> &args)
    {
        return RunProgram(ProgramPath("reg.exe"), args, m_cwd.path(),
                          {"VELMOR_REGISTRY_DIR=" + m_store.path().string()});
    }

    TestDir m_store{"reg-store"};
    TestDir m_cwd{"reg-cwd"};
};

const char *kKey = "Software\\Quenta\\Velmor";

} // namespace

TEST_F(RegProgram, QueryShowsWhatTheLibraryWrote)
{
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKLM, kKey, key), S_OK);
    ASSERT_EQ(key.WriteString("", "기본 값"), S_OK);
    ASSERT_EQ(key.WriteString("install_path", "/opt/Velmor Dir"), S_OK);
    ASSERT_EQ(key.WriteDword("Count", 26), S_OK);
    RegistryKey sub;
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKLM, "Software\\Quenta\\Velmor\\Launch_GUID", sub), S_OK);

    ProgramResult all = Reg({"query", "HKLM\\Software\\Quenta\\Velmor"});
    EXPECT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(all.out, "\nHKEY_LOCAL_MACHINE\\Software\\Quenta\\Velmor\n"
                       "    (기본값)    REG_SZ    기본 값\n"
                       "    install_path    REG_SZ    /opt/Velmor Dir\n"
                       "    Count    REG_DWORD    0x1a\n"
                       "\n"
                       "HKEY_LOCAL_MACHINE\\Software\\Quenta\\Velmor\\Launch_GUID\n"
                       "\n");

    ProgramResult one = Reg({"QUERY", "HKEY_LOCAL_MACHINE/software/quenta/velmor", "/V", "INSTALL_PATH"});
    EXPECT_EQ(one.exitCode, 0) << one.err;
    EXPECT_EQ(one.out, "\nHKEY_LOCAL_MACHINE\\software\\quenta\\velmor\n"
                       "    install_path    REG_SZ    /opt/Velmor Dir\n\n");

    ProgramResult def = Reg({"query", "HKLM\\Software\\Quenta\\Velmor", "/ve"});
    EXPECT_EQ(def.exitCode, 0) << def.err;
    EXPECT_NE(def.out.find("    (기본값)    REG_SZ    기본 값\n"), std::string::npos);

    ProgramResult deep = Reg({"query", "HKLM\\Software", "/s"});
    EXPECT_EQ(deep.exitCode, 0) << deep.err;
    EXPECT_NE(deep.out.find("HKEY_LOCAL_MACHINE\\Software\\Quenta\\Velmor\n    (기본값)"), std::string::npos);
    EXPECT_NE(deep.out.find("HKEY_LOCAL_MACHINE\\Software\\Quenta\\Velmor\\Launch_GUID\n"),
              std::string::npos);

    for (const std::vector<std::string> &missing :
         {std::vector<std::string>{"query", "HKLM\\Software\\Nothing"},
          std::vector<std::string>{"query", "HKCU\\Software\\Quenta\\Velmor"},
          std::vector<std::string>{"query", "HKLM\\Software\\Quenta\\Velmor", "/v", "nothing"}}) {
        ProgramResult r = Reg(missing);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("오류: 지정한 레지스트리 키 또는 값을 찾을 수 없습니다."), std::string::npos)
            << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(RegProgram, AddWritesValuesTheLibraryReads)
{
    ProgramResult r =
        Reg({"add", "HKCU\\Software\\Quenta\\New", "/v", "Size", "/t", "REG_DWORD", "/d", "0x10", "/f"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = Reg({"add", "HKCU\\Software\\Quenta\\New", "/v", "Ten", "/t", "reg_dword", "/d", "10"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = Reg({"add", "HKU\\Software\\Quenta\\New", "/v", "이름", "/d", "방장 \"1\""});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = Reg({"add", "HKCC\\Empty\\Key"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = Reg({"add", "hkpd\\Software", "/ve", "/d", "perf"});
    EXPECT_EQ(r.exitCode, 0) << r.err;

    RegistryKey key;
    ASSERT_EQ(RegistryKey::Open(RegRoot::HKCU, "Software\\Quenta\\New", key), S_OK);
    EXPECT_EQ(key.ReadDword("Size"), 16u);
    EXPECT_EQ(key.ReadDword("Ten"), 10u);
    ASSERT_EQ(RegistryKey::Open(RegRoot::HKU, "Software\\Quenta\\New", key), S_OK);
    EXPECT_EQ(key.ReadString("이름"), "방장 \"1\"");
    EXPECT_EQ(RegistryKey::Open(RegRoot::HKCC, "Empty\\Key", key), S_OK);
    EXPECT_TRUE(key.EnumValues().empty());
    ASSERT_EQ(RegistryKey::Open(RegRoot::HKPD, "Software", key), S_OK);
    EXPECT_EQ(key.ReadString(""), "perf");

    // An existing value without /f asks; no answer (end of input) keeps it.
    r = Reg({"add", "HKCU\\Software\\Quenta\\New", "/v", "SIZE", "/t", "REG_DWORD", "/d", "1"});
    EXPECT_EQ(r.exitCode, 1);
    ASSERT_EQ(RegistryKey::Open(RegRoot::HKCU, "Software\\Quenta\\New", key), S_OK);
    EXPECT_EQ(key.ReadDword("Size"), 16u);

    // Bad data and unsupported types change nothing.
    for (const std::vector<std::string> &bad :
         {std::vector<std::string>{"add", "HKCU\\Software\\Quenta\\New", "/v", "X", "/t", "REG_DWORD", "/d",
                                   "12ab", "/f"},
          std::vector<std::string>{"add", "HKCU\\Software\\Quenta\\New", "/v", "X", "/t", "REG_DWORD", "/d",
                                   "0x100000000", "/f"},
          std::vector<std::string>{"add", "HKCU\\Software\\Quenta\\New", "/v", "X", "/t", "REG_DWORD", "/d",
                                   "-1", "/f"},
          std::vector<std::string>{"add", "HKCU\\Software\\Quenta\\New", "/v", "X", "/t", "REG_BINARY", "/d",
                                   "00", "/f"}}) {
        r = Reg(bad);
        EXPECT_EQ(r.exitCode, 1) << bad[7];
        EXPECT_NE(r.err.find("오류: "), std::string::npos);
    }
    EXPECT_FALSE(key.ReadDword("X").has_value());
    EXPECT_FALSE(key.ReadString("X").has_value());
}

TEST_F(RegProgram, DeleteRemovesValuesAndWholeKeys)
{
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKLM, kKey, key), S_OK);
    ASSERT_EQ(key.WriteString("", "d"), S_OK);
    ASSERT_EQ(key.WriteString("a", "1"), S_OK);
    ASSERT_EQ(key.WriteString("b", "2"), S_OK);
    RegistryKey sub;
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKLM, "Software\\Quenta\\Velmor\\Sub\\Deeper", sub), S_OK);

    ProgramResult r = Reg({"delete", "HKLM\\Software\\Quenta\\Velmor", "/v", "A", "/f"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(key.ReadString("a").has_value());
    EXPECT_EQ(key.ReadString("b"), "2");
    r = Reg({"delete", "HKLM\\Software\\Quenta\\Velmor", "/ve", "/f"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(key.ReadString("").has_value());
    r = Reg({"delete", "HKLM\\Software\\Quenta\\Velmor", "/v", "a", "/f"});
    EXPECT_EQ(r.exitCode, 1);

    // Without /f and without a yes nothing goes.
    r = Reg({"delete", "HKLM\\Software\\Quenta\\Velmor"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(key.ReadString("b"), "2");

    r = Reg({"delete", "HKLM\\Software\\Quenta\\Velmor", "/f"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    RegistryKey gone;
    EXPECT_TRUE(FAILED(RegistryKey::Open(RegRoot::HKLM, "Software\\Quenta\\Velmor\\Sub\\Deeper", gone)));
    EXPECT_EQ(RegistryKey::Open(RegRoot::HKLM, "Software\\Quenta", gone), S_OK);
    r = Reg({"delete", "HKLM\\Software\\Quenta\\Velmor", "/f"});
    EXPECT_EQ(r.exitCode, 1);
    r = Reg({"delete", "HKLM", "/f"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(RegistryKey::Open(RegRoot::HKLM, "Software\\Quenta", gone), S_OK);
}

TEST_F(RegProgram, BadArgumentsAreRefusedWithTheUsage)
{
    for (const std::vector<std::string> &bad :
         {std::vector<std::string>{}, std::vector<std::string>{"list", "HKLM\\x"},
          std::vector<std::string>{"query"}, std::vector<std::string>{"query", "HKXX\\Software"},
          std::vector<std::string>{"query", "\\\\host\\HKLM\\Software"},
          std::vector<std::string>{"query", "HKLM\\Software", "/v"},
          std::vector<std::string>{"query", "HKLM\\Software", "/v", "a", "/ve"},
          std::vector<std::string>{"query", "HKLM\\Software", "/f"},
          std::vector<std::string>{"add", "HKLM\\Software", "/d"},
          std::vector<std::string>{"delete", "HKLM\\Software", "/t", "REG_SZ"}}) {
        ProgramResult r = Reg(bad);
        EXPECT_EQ(r.exitCode, 1) << (bad.empty() ? "" : bad[0]);
        EXPECT_NE(r.err.find("사용법:"), std::string::npos) << r.err;
    }
    ProgramResult help = Reg({"/?"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("reg.exe query"), std::string::npos);
    // Nothing was written by any of them.
    EXPECT_FALSE(std::filesystem::exists(m_store.path() / "HKEY_LOCAL_MACHINE.reg"));
}
