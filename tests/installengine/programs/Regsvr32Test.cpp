// regsvr32.exe as a setup file or a user runs it: the skin control
// ActSkn43.ocx registered and unregistered in a private registry store and
// looked at with reg.exe, and each way a registration can fail, with the
// message it shows (written to standard error, as there is no display).
#include "platform/Registry.h"

#include "RunProgram.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace platform;

namespace {

const char kServerKey[] = "HKCR\\CLSID\\{BA8C584B-209C-4D54-8BB1-8AB5F1DCA18E}\\InprocServer32";

class Regsvr32 : public testing::Test {
protected:
    // A started program takes the first of two settings of one variable:
    // the private store goes into this process's environment for the test.
    void SetUp() override
    {
        const char *old = std::getenv("VELMOR_REGISTRY_DIR");
        m_oldStore = old ? old : "";
        setenv("VELMOR_REGISTRY_DIR", m_store.path().c_str(), 1);
    }
    void TearDown() override { setenv("VELMOR_REGISTRY_DIR", m_oldStore.c_str(), 1); }

    ProgramResult Run(const std::string &program, const std::vector<std::string> &args,
                      const std::filesystem::path &cwd, const std::vector<std::string> &env = {})
    {
        std::vector<std::string> all{"VELMOR_REGISTRY_DIR=" + m_store.path().string()};
        all.insert(all.end(), env.begin(), env.end());
        return RunProgram(ProgramPath(program), args, cwd, all);
    }
    ProgramResult Regsvr32Run(const std::vector<std::string> &args, const std::vector<std::string> &env = {})
    {
        return Run("regsvr32.exe", args, m_cwd.path(), env);
    }

    std::string m_oldStore;
    TestDir m_store{"regsvr32-store"};
    TestDir m_cwd{"regsvr32-cwd"};
};

} // namespace

// The acceptance run: in the bin folder, "regsvr32.exe ActSkn43.ocx", then
// reg.exe shows the key with the control's full path; "/u" removes it.
TEST_F(Regsvr32, RegistersTheSkinControlAndRemovesIt)
{
    const std::filesystem::path binDir = std::filesystem::path(ProgramPath("ActSkn43.ocx")).parent_path();
    const std::string ocx = std::filesystem::canonical(binDir / "ActSkn43.ocx").string();

    ProgramResult reg = Run("regsvr32.exe", {"ActSkn43.ocx"}, binDir);
    EXPECT_EQ(reg.exitCode, 0) << reg.err;
    EXPECT_EQ(reg.err, "[RegSvr32] ActSkn43.ocx의 DllRegisterServer이(가) 성공했습니다.\n");

    ProgramResult query = Run("reg.exe", {"query", kServerKey}, m_cwd.path());
    EXPECT_EQ(query.exitCode, 0) << query.err;
    EXPECT_NE(query.out.find("    (기본값)    REG_SZ    " + ocx + "\n"), std::string::npos) << query.out;
    EXPECT_NE(query.out.find("    ThreadingModel    REG_SZ    Apartment\n"), std::string::npos) << query.out;

    // Registering again, by full path and silently, leaves one key.
    ProgramResult again = Regsvr32Run({"/s", ocx});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.err, "");
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Open(RegRoot::HKCR,
                                "CLSID\\{BA8C584B-209C-4d54-8BB1-8AB5F1DCA18E}\\InprocServer32", key),
              S_OK);
    EXPECT_EQ(key.ReadString(""), ocx);

    ProgramResult unreg = Regsvr32Run({"/U", ocx});
    EXPECT_EQ(unreg.exitCode, 0) << unreg.err;
    EXPECT_EQ(unreg.err, "[RegSvr32] " + ocx + "의 DllUnregisterServer이(가) 성공했습니다.\n");
    ProgramResult gone =
        Run("reg.exe", {"query", "HKCR\\CLSID\\{BA8C584B-209C-4D54-8BB1-8AB5F1DCA18E}"}, m_cwd.path());
    EXPECT_EQ(gone.exitCode, 1) << gone.out;

    // Unregistering what is not registered is no failure.
    EXPECT_EQ(Regsvr32Run({"-u", "-s", ocx}).exitCode, 0);
}

TEST_F(Regsvr32, ReportsEachFailureWithItsStatus)
{
    // No such file.
    ProgramResult missing = Regsvr32Run({"nothing.ocx"});
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_NE(missing.err.find("[RegSvr32] 모듈 \"nothing.ocx\"을(를) 로드하지 못했습니다."),
              std::string::npos)
        << missing.err;
    EXPECT_NE(missing.err.find("지정된 모듈을 찾을 수 없습니다."), std::string::npos);

    // A file that is no library: the loader's reason follows the text.
    {
        std::ofstream(m_cwd.file("text.ocx")) << "not a library\n";
    }
    ProgramResult text = Regsvr32Run({"text.ocx"});
    EXPECT_EQ(text.exitCode, 3);
    EXPECT_NE(text.err.find("모듈 \"text.ocx\"을(를) 로드하지 못했습니다."), std::string::npos) << text.err;
    EXPECT_NE(text.err.find("text.ocx"), text.err.rfind("text.ocx")) << "the loader's reason is missing";

    // A library without the entry point.
    ProgramResult noEntry = Regsvr32Run({COMPONENT_NO_ENTRY});
    EXPECT_EQ(noEntry.exitCode, 4);
    EXPECT_NE(noEntry.err.find("로드되었지만 진입점 DllRegisterServer을(를) 찾을 수 없습니다."),
              std::string::npos)
        << noEntry.err;
    ProgramResult noEntryU = Regsvr32Run({"/u", COMPONENT_NO_ENTRY});
    EXPECT_EQ(noEntryU.exitCode, 4);
    EXPECT_NE(noEntryU.err.find("진입점 DllUnregisterServer을(를)"), std::string::npos) << noEntryU.err;

    // An entry point that fails: its code in the message.
    ProgramResult fails = Regsvr32Run({COMPONENT_FAILS});
    EXPECT_EQ(fails.exitCode, 5);
    EXPECT_NE(fails.err.find("DllRegisterServer 호출이 오류 코드 0x80070005(으)로 실패했습니다."),
              std::string::npos)
        << fails.err;

    // Silent: nothing shown, the reason on standard error only, the status kept.
    ProgramResult silent = Regsvr32Run({"/s", COMPONENT_FAILS});
    EXPECT_EQ(silent.exitCode, 5);
    EXPECT_EQ(silent.err.find("[RegSvr32]"), std::string::npos) << silent.err;
    EXPECT_NE(silent.err.find("regsvr32: "), std::string::npos);

    // Arguments.
    ProgramResult none = Regsvr32Run({});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("사용법: regsvr32"), std::string::npos) << none.err;
    ProgramResult flag = Regsvr32Run({"/x", "ActSkn43.ocx"});
    EXPECT_EQ(flag.exitCode, 1);
    EXPECT_NE(flag.err.find("인식할 수 없는 플래그: /x"), std::string::npos) << flag.err;

    // Several paths: each is tried, the first failure decides the status.
    ProgramResult several = Regsvr32Run({"/s", COMPONENT_NO_ENTRY, COMPONENT_FAILS});
    EXPECT_EQ(several.exitCode, 4);
    EXPECT_NE(several.err.find("0x80070005"), std::string::npos) << several.err;
}

// A program component is started with /RegServer or /UnregServer and its
// exit status decides.
TEST_F(Regsvr32, StartsProgramsWithTheirRegistrationSwitch)
{
    std::filesystem::copy_file(REGSERVER_PROBE, m_cwd.path() / "Probe.exe");
    const std::string log = m_cwd.file("probe.log");
    ProgramResult reg = Regsvr32Run({"Probe.exe"}, {"PROBE_LOG=" + log});
    EXPECT_EQ(reg.exitCode, 0) << reg.err;
    EXPECT_EQ(reg.err, "[RegSvr32] Probe.exe의 /RegServer이(가) 성공했습니다.\n");
    ProgramResult unreg = Regsvr32Run({"/s", "/u", "Probe.exe"}, {"PROBE_LOG=" + log});
    EXPECT_EQ(unreg.exitCode, 0) << unreg.err;
    EXPECT_EQ(TestDir::Read(log), "/RegServer\n/UnregServer\n");

    ProgramResult failing = Regsvr32Run({"Probe.exe"}, {"PROBE_LOG=" + log, "PROBE_EXIT=7"});
    EXPECT_EQ(failing.exitCode, 5);
    EXPECT_NE(failing.err.find("종료 코드 7"), std::string::npos) << failing.err;

    ProgramResult absent = Regsvr32Run({"Absent.EXE"});
    EXPECT_EQ(absent.exitCode, 3);
    EXPECT_NE(absent.err.find("\"Absent.EXE\"을(를) 시작하지 못했습니다."), std::string::npos) << absent.err;
}
