#include "platform/Registry.h"

#include "TestDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>

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

TEST(RegistryRoots, ShortAndLongNamesWithoutCase)
{
    EXPECT_EQ(ParseRegRoot("HKCR"), RegRoot::HKCR);
    EXPECT_EQ(ParseRegRoot("hkcu"), RegRoot::HKCU);
    EXPECT_EQ(ParseRegRoot("HKLM"), RegRoot::HKLM);
    EXPECT_EQ(ParseRegRoot("HKU"), RegRoot::HKU);
    EXPECT_EQ(ParseRegRoot("HKUS"), RegRoot::HKU);
    EXPECT_EQ(ParseRegRoot("HKCC"), RegRoot::HKCC);
    EXPECT_EQ(ParseRegRoot("HKPD"), RegRoot::HKPD);
    for (RegRoot root :
         {RegRoot::HKCR, RegRoot::HKCU, RegRoot::HKLM, RegRoot::HKU, RegRoot::HKCC, RegRoot::HKPD})
        EXPECT_EQ(ParseRegRoot(RegRootName(root)), root) << RegRootName(root);
    EXPECT_EQ(ParseRegRoot("hkey_local_machine"), RegRoot::HKLM);
    for (const char *bad : {"", "HK", "HKLMX", "HKXX", "%HKLM%", "HKLM\\"})
        EXPECT_FALSE(ParseRegRoot(bad).has_value()) << bad;
}

TEST_F(RegistryTest, EverySixRootsKeepsItsOwnValues)
{
    const RegRoot roots[] = {RegRoot::HKCR, RegRoot::HKCU, RegRoot::HKLM,
                             RegRoot::HKU,  RegRoot::HKCC, RegRoot::HKPD};
    for (RegRoot root : roots) {
        RegistryKey key;
        ASSERT_EQ(RegistryKey::Create(root, "Software\\Quenta", key), S_OK);
        ASSERT_EQ(key.WriteString("Root", RegRootName(root)), S_OK);
    }
    for (RegRoot root : roots) {
        RegistryKey key;
        ASSERT_EQ(RegistryKey::Open(root, "Software\\Quenta", key), S_OK);
        EXPECT_EQ(key.ReadString("root"), RegRootName(root));
        EXPECT_TRUE(std::filesystem::exists(m_dir.path() / (std::string(RegRootName(root)) + ".reg")));
    }
}

TEST_F(RegistryTest, DeleteValueRemovesOnlyThatValue)
{
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKLM, "Software\\Quenta\\Velmor", key), S_OK);
    ASSERT_EQ(key.WriteString("", "기본"), S_OK);
    ASSERT_EQ(key.WriteString("Path", "/opt/velmor"), S_OK);
    ASSERT_EQ(key.WriteDword("Count", 3), S_OK);

    EXPECT_EQ(key.DeleteValue("PATH"), S_OK);
    EXPECT_FALSE(key.ReadString("Path").has_value());
    EXPECT_EQ(key.DeleteValue("Path"), HRESULT_FROM_ERRNO(ENOENT));
    EXPECT_EQ(key.ReadString(""), "기본");
    EXPECT_EQ(key.ReadDword("Count"), 3u);

    EXPECT_EQ(key.DeleteValue(""), S_OK);
    EXPECT_FALSE(key.ReadString("").has_value());
    EXPECT_EQ(key.ReadDword("Count"), 3u);

    // The key itself stays, and a key deleted by someone else has no values.
    RegistryKey again;
    EXPECT_EQ(RegistryKey::Open(RegRoot::HKLM, "Software\\Quenta\\Velmor", again), S_OK);
    EXPECT_EQ(RegistryKey::DeleteKey(RegRoot::HKLM, "Software\\Quenta\\Velmor"), S_OK);
    EXPECT_EQ(key.DeleteValue("Count"), HRESULT_FROM_ERRNO(ENOENT));
    EXPECT_TRUE(key.EnumValues().empty());
    EXPECT_EQ(RegistryKey().DeleteValue("x"), E_UNEXPECTED);
}

TEST_F(RegistryTest, EnumerationListsDirectChildrenAndValuesInOrder)
{
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKLM, "Software\\Quenta", key), S_OK);
    RegistryKey sub;
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKLM, "Software\\Quenta\\Velmor\\Launch_GUID\\{A}", sub), S_OK);
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKLM, "software\\quenta\\방송", sub), S_OK);
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKLM, "Software\\QuentaOther", sub), S_OK);
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKLM, "SOFTWARE\\QUENTA\\VELMOR\\Second", sub), S_OK);
    ASSERT_EQ(key.WriteDword("z", 26), S_OK);
    ASSERT_EQ(key.WriteString("", "default"), S_OK);
    ASSERT_EQ(key.WriteString("이름", "값"), S_OK);

    EXPECT_EQ(key.EnumKeys(), (std::vector<std::string>{"Velmor", "방송"}));
    const std::vector<RegistryValue> values = key.EnumValues();
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].name, "z");
    EXPECT_TRUE(values[0].isDword);
    EXPECT_EQ(values[0].dword, 26u);
    EXPECT_EQ(values[1].name, "");
    EXPECT_FALSE(values[1].isDword);
    EXPECT_EQ(values[1].text, "default");
    EXPECT_EQ(values[2].name, "이름");
    EXPECT_EQ(values[2].text, "값");

    RegistryKey root;
    ASSERT_EQ(RegistryKey::Open(RegRoot::HKLM, "", root), S_OK);
    EXPECT_EQ(root.EnumKeys(), (std::vector<std::string>{"Software"}));
    RegistryKey velmor;
    ASSERT_EQ(RegistryKey::Open(RegRoot::HKLM, "Software\\Quenta\\Velmor", velmor), S_OK);
    EXPECT_EQ(velmor.EnumKeys(), (std::vector<std::string>{"Launch_GUID", "Second"}));
    EXPECT_TRUE(velmor.EnumValues().empty());
    EXPECT_TRUE(RegistryKey().EnumKeys().empty());
}

TEST_F(RegistryTest, HandWrittenFileWithOnlyDeepKeysShowsTheirParents)
{
    {
        std::ofstream out(m_dir.path() / "HKEY_LOCAL_MACHINE.reg", std::ios::binary);
        out << "[Software\\A\\B\\C]\n\"v\"=\"1\"\n[Software\\A\\D]\n";
    }
    RegistryKey a;
    ASSERT_EQ(RegistryKey::Open(RegRoot::HKLM, "Software\\A", a), S_OK);
    EXPECT_EQ(a.EnumKeys(), (std::vector<std::string>{"B", "D"}));
    RegistryKey b;
    EXPECT_EQ(RegistryKey::Open(RegRoot::HKLM, "software\\a\\b", b), S_OK);
    EXPECT_EQ(RegistryKey::DeleteKey(RegRoot::HKLM, "Software\\A\\B"), S_OK);
    EXPECT_EQ(a.EnumKeys(), (std::vector<std::string>{"D"}));
}

TEST_F(RegistryTest, DeleteKeyTakesTheSubtreeButNotNamesThatMerelyStartAlike)
{
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKCU, "Software\\Quenta\\Velmor\\Launch_GUID\\{A}", key), S_OK);
    ASSERT_EQ(key.WriteString("", "{A}"), S_OK);
    RegistryKey sibling;
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKCU, "Software\\Quenta\\VelmorX", sibling), S_OK);
    ASSERT_EQ(sibling.WriteDword("keep", 1), S_OK);
    RegistryKey other;
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKLM, "Software\\Quenta\\Velmor", other), S_OK);

    EXPECT_EQ(RegistryKey::DeleteKey(RegRoot::HKCU, "software\\QUENTA\\velmor\\"), S_OK);
    RegistryKey gone;
    EXPECT_TRUE(FAILED(RegistryKey::Open(RegRoot::HKCU, "Software\\Quenta\\Velmor", gone)));
    EXPECT_TRUE(FAILED(RegistryKey::Open(RegRoot::HKCU, "Software\\Quenta\\Velmor\\Launch_GUID\\{A}", gone)));
    EXPECT_EQ(sibling.ReadDword("keep"), 1u);
    EXPECT_EQ(RegistryKey::Open(RegRoot::HKLM, "Software\\Quenta\\Velmor", other), S_OK);

    EXPECT_EQ(RegistryKey::DeleteKey(RegRoot::HKCU, "Software\\Quenta\\Velmor"), HRESULT_FROM_ERRNO(ENOENT));
    // The root itself is never deleted.
    EXPECT_EQ(RegistryKey::DeleteKey(RegRoot::HKCU, ""), E_INVALIDARG);
    EXPECT_EQ(RegistryKey::DeleteKey(RegRoot::HKCU, "\\\\"), E_INVALIDARG);
    EXPECT_EQ(sibling.ReadDword("keep"), 1u);
}

TEST_F(RegistryTest, ValuesOfTheRootItself)
{
    RegistryKey root;
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKCU, "", root), S_OK);
    EXPECT_EQ(root.WriteString("top", "level"), S_OK);
    RegistryKey again;
    ASSERT_EQ(RegistryKey::Open(RegRoot::HKCU, "\\", again), S_OK);
    EXPECT_EQ(again.ReadString("TOP"), "level");
    EXPECT_TRUE(again.EnumKeys().empty());
}

// A writer killed at any moment (here: SIGKILL at a random point of a loop of
// large writes) leaves the old or the new file, never a mix: every value
// written before is still there and the changing value is whole.
TEST_F(RegistryTest, KilledWriterLeavesTheOldOrTheNewHive)
{
    constexpr int kFiller = 400;
    {
        RegistryKey key;
        ASSERT_EQ(RegistryKey::Create(RegRoot::HKLM, "Software\\Big", key), S_OK);
        // One write of a large file by hand keeps the setup quick.
        std::string hive = "[Software]\n[Software\\Big]\n";
        for (int i = 0; i < kFiller; ++i)
            hive += "\"v" + std::to_string(i) + "\"=\"" + std::string(500, char('a' + i % 26)) + "\"\n";
        std::ofstream(m_dir.path() / "HKEY_LOCAL_MACHINE.reg", std::ios::binary) << hive;
    }
    std::mt19937 random(static_cast<unsigned>(::getpid()));
    bool hadGeneration = false;
    for (int round = 0; round < 12; ++round) {
        // The child reports each finished write on a pipe, so the parent can
        // time one write and kill the child at a random point of a later one,
        // however fast or slow this build writes.
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(pipeFds[0]);
            RegistryKey key;
            if (FAILED(RegistryKey::Open(RegRoot::HKLM, "Software\\Big", key)))
                _exit(1);
            for (int n = 0;; ++n) {
                // Each generation is one long run of one letter.
                key.WriteString("Generation", std::string(20000, char('A' + (round * 7 + n) % 26)));
                if (::write(pipeFds[1], "w", 1) != 1)
                    _exit(2);
            }
        }
        ::close(pipeFds[1]);
        char done = 0;
        ASSERT_EQ(::read(pipeFds[0], &done, 1), 1);
        const auto first = std::chrono::steady_clock::now();
        ASSERT_EQ(::read(pipeFds[0], &done, 1), 1);
        const auto oneWrite = std::chrono::steady_clock::now() - first;
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(oneWrite).count();
        ::usleep(static_cast<useconds_t>(random() % static_cast<unsigned>(us + 1)));
        ::kill(pid, SIGKILL);
        ::close(pipeFds[0]);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);

        RegistryKey key;
        ASSERT_EQ(RegistryKey::Open(RegRoot::HKLM, "Software\\Big", key), S_OK);
        const std::vector<RegistryValue> values = key.EnumValues();
        ASSERT_GE(values.size(), std::size_t(kFiller)) << "round " << round;
        for (int i = 0; i < kFiller; ++i) {
            ASSERT_EQ(values[i].name, "v" + std::to_string(i));
            ASSERT_EQ(values[i].text, std::string(500, char('a' + i % 26)));
        }
        std::optional<std::string> generation = key.ReadString("Generation");
        if (hadGeneration) {
            ASSERT_TRUE(generation.has_value()) << "round " << round;
        }
        if (generation) {
            hadGeneration = true;
            ASSERT_EQ(generation->size(), 20000u);
            ASSERT_EQ(generation->find_first_not_of((*generation)[0]), std::string::npos);
        }
    }
    EXPECT_TRUE(hadGeneration);
    // After the last kill the store still takes writes, and no temporary file
    // stays behind once a write has finished.
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Open(RegRoot::HKLM, "Software\\Big", key), S_OK);
    EXPECT_EQ(key.WriteDword("after", 1), S_OK);
    EXPECT_EQ(key.ReadDword("after"), 1u);
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() / "HKEY_LOCAL_MACHINE.reg.tmp"));
}
