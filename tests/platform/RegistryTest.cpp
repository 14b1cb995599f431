#include "platform/Registry.h"

#include "TestDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

using namespace platform;

namespace {

// Points the store at a fresh folder for one test.
class RegistryTest : public testing::Test {
protected:
    void SetUp() override { setenv("VELMOR_REGISTRY_DIR", m_dir.path().c_str(), 1); }
    TestDir m_dir{"registry"};
};

const char *kPosition = "Software\\Quenta\\ControlWindowArea\\Position";

} // namespace

TEST_F(RegistryTest, ValuesSurviveReopeningAndIgnoreLetterCase)
{
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKCU, kPosition, key), S_OK);
    EXPECT_EQ(key.WriteDword("Left", 0xFFFFFFFFu), S_OK);
    EXPECT_EQ(key.WriteDword("Top", 12), S_OK);
    EXPECT_EQ(key.WriteString("Title", "텍스트창 \"1\"\\"), S_OK);

    RegistryKey again;
    ASSERT_EQ(RegistryKey::Open(RegRoot::HKCU, "software\\QUENTA\\controlwindowarea\\position", again), S_OK);
    EXPECT_EQ(again.ReadDword("LEFT"), 0xFFFFFFFFu);
    EXPECT_EQ(static_cast<int>(*again.ReadDword("left")), -1);
    EXPECT_EQ(again.ReadDword("top"), 12u);
    EXPECT_EQ(again.ReadString("title"), "텍스트창 \"1\"\\");
    // Missing names and values of the other type read as absent.
    EXPECT_FALSE(again.ReadDword("Right").has_value());
    EXPECT_FALSE(again.ReadString("Top").has_value());
    EXPECT_FALSE(again.ReadDword("Title").has_value());

    // Overwriting under another case keeps one value, not two.
    EXPECT_EQ(again.WriteDword("TOP", 40), S_OK);
    EXPECT_EQ(key.ReadDword("Top"), 40u);
    const std::string file = TestDir::Read(m_dir.path() / "HKEY_CURRENT_USER.reg");
    EXPECT_EQ(file.find("\"TOP\""), std::string::npos);
}

TEST_F(RegistryTest, CreateMakesParentsAndRootsAreSeparate)
{
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKLM, "Software\\Quenta\\\\Velmor\\", key), S_OK);
    RegistryKey parent;
    EXPECT_EQ(RegistryKey::Open(RegRoot::HKLM, "Software\\Quenta", parent), S_OK);
    RegistryKey other;
    EXPECT_TRUE(FAILED(RegistryKey::Open(RegRoot::HKCU, "Software\\Quenta", other)));
    EXPECT_FALSE(other.IsOpen());
    EXPECT_FALSE(other.ReadDword("x").has_value());
    EXPECT_EQ(other.WriteDword("x", 1), E_UNEXPECTED);

    // The default value (empty name) is a value of its own.
    EXPECT_EQ(key.WriteString("", "기본값"), S_OK);
    EXPECT_EQ(key.WriteString("a\nb", "줄\r\n바꿈"), S_OK);
    EXPECT_EQ(key.ReadString(""), "기본값");
    EXPECT_EQ(key.ReadString("a\nb"), "줄\r\n바꿈");
    EXPECT_EQ(RegistryKey::Create(RegRoot::HKLM, "bad\nkey", other), E_INVALIDARG);
}

TEST_F(RegistryTest, StringsAreStoredAsCp949OnDisk)
{
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKCU, "Software\\Quenta", key), S_OK);
    ASSERT_EQ(key.WriteString("이름", "방장"), S_OK);
    const std::string file = TestDir::Read(m_dir.path() / "HKEY_CURRENT_USER.reg");
    EXPECT_NE(file.find("\"\xC0\xCC\xB8\xA7\"=\"\xB9\xE6\xC0\xE5\""), std::string::npos);
    EXPECT_EQ(file.find("방장"), std::string::npos);
    // No temporary file is left behind.
    for (const auto &entry : std::filesystem::directory_iterator(m_dir.path()))
        EXPECT_EQ(entry.path().extension(), entry.path().filename() == ".lock" ? "" : ".reg");
}

TEST_F(RegistryTest, DamagedLinesAreSkippedAndTheRestIsRead)
{
    {
        std::ofstream out(m_dir.path() / "HKEY_CURRENT_USER.reg", std::ios::binary);
        out << "[Software\\Quenta]\r\n\"A\"=dword:0000002a\r\n\"B\"=dword:zz\r\n\"C\"=\"open\r\n"
               "garbage\r\n\"D\"=\"fine\"\r\n[Broken\r\n\"E\"=dword:1\r\n";
    }
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Open(RegRoot::HKCU, "Software\\Quenta", key), S_OK);
    EXPECT_EQ(key.ReadDword("A"), 42u);
    EXPECT_FALSE(key.ReadDword("B").has_value());
    EXPECT_FALSE(key.ReadString("C").has_value());
    EXPECT_EQ(key.ReadString("D"), "fine");
    EXPECT_FALSE(key.ReadDword("E").has_value());
}

// Writers in several processes at once: each read-modify-write is serialised
// by the lock, so no process loses another one's values.
TEST_F(RegistryTest, ConcurrentWritersFromSeveralProcessesLoseNothing)
{
    constexpr int kProcesses = 4;
    constexpr int kValues = 25;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            RegistryKey key;
            if (FAILED(RegistryKey::Create(RegRoot::HKCU, "Software\\Quenta\\Load", key)))
                _exit(1);
            for (int i = 0; i < kValues; ++i)
                if (FAILED(key.WriteDword("p" + std::to_string(p) + "v" + std::to_string(i), DWORD(i))))
                    _exit(2);
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Open(RegRoot::HKCU, "Software\\Quenta\\Load", key), S_OK);
    for (int p = 0; p < kProcesses; ++p)
        for (int i = 0; i < kValues; ++i)
            EXPECT_EQ(key.ReadDword("p" + std::to_string(p) + "v" + std::to_string(i)), DWORD(i));
}

TEST(RegistryPlace, FollowsTheEnvironment)
{
    const std::string saved = std::getenv("VELMOR_REGISTRY_DIR") ? std::getenv("VELMOR_REGISTRY_DIR") : "";
    setenv("VELMOR_REGISTRY_DIR", "/tmp/velmor-reg-x", 1);
    EXPECT_EQ(RegistryDirectory(), "/tmp/velmor-reg-x");
    unsetenv("VELMOR_REGISTRY_DIR");
    setenv("XDG_DATA_HOME", "/tmp/xdg", 1);
    EXPECT_EQ(RegistryDirectory(), "/tmp/xdg/velmor/registry");
    unsetenv("XDG_DATA_HOME");
    setenv("VELMOR_REGISTRY_DIR", saved.c_str(), 1);
}
