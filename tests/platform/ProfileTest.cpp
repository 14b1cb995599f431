#include "platform/Profile.h"

#include "platform/CodePage.h"

#include "TestDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <thread>

using namespace platform;

namespace {

class ProfileTest : public testing::Test {
protected:
    std::string Write(const std::string &name, const std::string &bytes)
    {
        const std::string path = m_dir.file(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::string Read(const std::string &path) { return TestDir::Read(path); }

    TestDir m_dir{"profile"};
};

} // namespace

TEST_F(ProfileTest, ValuesAreFoundAsWindowsFindsThem)
{
    const std::string file = Write("Mirvane.cfg", "; made by hand\r\n"
                                                  "[config]\r\n"
                                                  "  KorName  =  " +
                                                      Utf8ToAnsi("미르반") +
                                                      "  \r\n"
                                                      "EngName=\"Mirvane Updater\"\r\n"
                                                      "Quoted=\"left only\r\n"
                                                      "Inner=a \"b\" c\r\n"
                                                      "Empty=\r\n"
                                                      "PlainLine\r\n"
                                                      ";Version=9\r\n"
                                                      "Version=1.0\r\n"
                                                      "version=2.0\r\n"
                                                      "[Other]\r\n"
                                                      "Version=3.0\n"
                                                      "[CONFIG]\n"
                                                      "Online=yes\n");
    EXPECT_EQ(GetPrivateProfileString("config", "KorName", "제목없음", 1024, file), "미르반");
    EXPECT_EQ(GetPrivateProfileString("CONFIG", "engname", "", 1024, file), "Mirvane Updater");
    EXPECT_EQ(GetPrivateProfileString("config", "Quoted", "", 1024, file), "\"left only");
    EXPECT_EQ(GetPrivateProfileString("config", "Inner", "", 1024, file), "a \"b\" c");
    // A key that is present but empty is not replaced by the default.
    EXPECT_EQ(GetPrivateProfileString("config", "Empty", "dflt", 1024, file), "");
    EXPECT_EQ(GetPrivateProfileString("config", "PlainLine", "dflt", 1024, file), "");
    // Comments are not keys; the first of a key or a section wins.
    EXPECT_EQ(GetPrivateProfileString("config", "Version", "0", 1024, file), "1.0");
    EXPECT_EQ(GetPrivateProfileString("Other", "Version", "0", 1024, file), "3.0");
    EXPECT_EQ(GetPrivateProfileString("config", "Online", "no", 1024, file), "no");
    // Defaults for a missing key, section and file.
    EXPECT_EQ(GetPrivateProfileString("config", "Skin", "제목없음", 1024, file), "제목없음");
    EXPECT_EQ(GetPrivateProfileString("nothing", "Version", "0", 1024, file), "0");
    EXPECT_EQ(GetPrivateProfileString("config", "Version", "0", 1024, m_dir.file("missing.cfg")), "0");
}

TEST_F(ProfileTest, BufferSizeCutsValuesAndDefaults)
{
    const std::string korean = Utf8ToAnsi("가나다라"); // 8 bytes in CP949
    const std::string file = Write("s.ini", "[s]\nlong=" + std::string(9000, 'x') + "\nkor=" + korean + "\n");
    EXPECT_EQ(GetPrivateProfileString("s", "long", "", 1024, file), std::string(1023, 'x'));
    EXPECT_EQ(GetPrivateProfileString("s", "long", "", 8192, file), std::string(8191, 'x'));
    EXPECT_EQ(GetPrivateProfileString("s", "long", "", 1, file), "");
    EXPECT_EQ(GetPrivateProfileString("s", "long", "", 0, file), "");
    // Never half a two-byte character.
    EXPECT_EQ(GetPrivateProfileString("s", "kor", "", 6, file), "가나");
    EXPECT_EQ(GetPrivateProfileString("s", "kor", "", 5, file), "가나");
    EXPECT_EQ(GetPrivateProfileString("s", "kor", "", 9, file), "가나다라");
    EXPECT_EQ(GetPrivateProfileString("s", "none", "abcdef", 4, file), "abc");
}

TEST_F(ProfileTest, SectionsListEveryLineAndStopAtTheBufferSize)
{
    const std::string file = Write("list.ini", "[Install]\r\n"
                                               "FileItem1\r\n"
                                               "\r\n"
                                               "; a comment\r\n"
                                               "  Key = \"Value\" \r\n"
                                               "HKLM,\"software\\x\",\"name\"\r\n"
                                               "%49000%\\sub\r\n"
                                               "[Next]\r\n"
                                               "x=1\r\n");
    EXPECT_EQ(GetPrivateProfileSection("install", 8192, file),
              (std::vector<std::string>{"FileItem1", "Key=\"Value\"", "HKLM,\"software\\x\",\"name\"",
                                        "%49000%\\sub"}));
    EXPECT_TRUE(GetPrivateProfileSection("missing", 8192, file).empty());
    EXPECT_TRUE(GetPrivateProfileSection("Install", 8192, m_dir.file("none.ini")).empty());
    // "FileItem1" takes 10 bytes and the list one more: 11 hold just it.
    EXPECT_EQ(GetPrivateProfileSection("Install", 11, file), std::vector<std::string>{"FileItem1"});
    EXPECT_EQ(GetPrivateProfileSection("Install", 10, file), std::vector<std::string>{});

    std::string many = "[big]\n";
    for (int i = 0; i < 2000; ++i)
        many += "Item" + std::to_string(i) + "\n";
    const std::string big = Write("big.ini", many);
    std::size_t bytes = 1;
    for (const std::string &line : GetPrivateProfileSection("big", 8192, big))
        bytes += line.size() + 1;
    EXPECT_LE(bytes, 8192u);
    EXPECT_GT(bytes, 8192u - 12);
}

TEST_F(ProfileTest, WritesCreateChangeAndDeleteWhileKeepingOtherBytes)
{
    const std::string file = m_dir.file("new.ini");
    ASSERT_TRUE(WritePrivateProfileString("Version", "Signature", "$CHICAGO$", file));
    ASSERT_TRUE(WritePrivateProfileString("Version", "AdvancedINF",
                                          "2.5,\"You need a newer version of AdvPack.DLL!\"", file));
    ASSERT_TRUE(WritePrivateProfileString("Strings", "KorName", "펠룬", file));
    EXPECT_EQ(Read(file), "[Version]\r\n"
                          "Signature=$CHICAGO$\r\n"
                          "AdvancedINF=2.5,\"You need a newer version of AdvPack.DLL!\"\r\n"
                          "\r\n"
                          "[Strings]\r\n"
                          "KorName=" +
                              Utf8ToAnsi("펠룬") + "\r\n");

    // A hand-made LF file keeps its comments, odd lines and line ends.
    const std::string original = "# not a comment to us, but kept\n"
                                 "[config]\n"
                                 "; keep me\n"
                                 "VERSION = 1.0   \n"
                                 "junk line \xff\xfe\n"
                                 "\n"
                                 "[other]\n"
                                 "a=b";
    const std::string cfg = Write("Mirvane.cfg", original);
    ASSERT_TRUE(WritePrivateProfileString("config", "version", "1.1", cfg));
    ASSERT_TRUE(WritePrivateProfileString("Config", "Online", "yes", cfg));
    ASSERT_TRUE(WritePrivateProfileString("other", "c", "%%KorName%%", cfg));
    EXPECT_EQ(Read(cfg), "# not a comment to us, but kept\n"
                         "[config]\n"
                         "; keep me\n"
                         "VERSION=1.1\n"
                         "junk line \xff\xfe\n"
                         "Online=yes\n"
                         "\n"
                         "[other]\n"
                         "a=b\n"
                         "c=%%KorName%%\n");
    EXPECT_EQ(GetPrivateProfileString("other", "c", "", 1024, cfg), "%%KorName%%");

    // Null value deletes the key, null key the section; missing ones are fine.
    ASSERT_TRUE(WritePrivateProfileString("config", "online", nullptr, cfg));
    ASSERT_TRUE(WritePrivateProfileString("config", "absent", nullptr, cfg));
    ASSERT_TRUE(WritePrivateProfileString("absent", nullptr, nullptr, cfg));
    ASSERT_TRUE(WritePrivateProfileString("CONFIG", nullptr, nullptr, cfg));
    EXPECT_EQ(Read(cfg), "# not a comment to us, but kept\n"
                         "[other]\n"
                         "a=b\n"
                         "c=%%KorName%%\n");
    // Deleting in a file that does not exist does not create it.
    ASSERT_TRUE(WritePrivateProfileString("s", nullptr, nullptr, m_dir.file("ghost.ini")));
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("ghost.ini")));
}

TEST_F(ProfileTest, SectionWritesReplaceEveryLine)
{
    const std::string file = Write("inf.INF", "[A]\r\nold1\r\n;c\r\nold2=x\r\n\r\n[B]\r\nb=1\r\n");
    ASSERT_TRUE(WritePrivateProfileSection("a", {"Dest0", "HKLM,\"k\",\"v\"", "k=v"}, file));
    ASSERT_TRUE(WritePrivateProfileSection("C", {",,,,\"/opt/x\""}, file));
    EXPECT_EQ(Read(file),
              "[A]\r\nDest0\r\nHKLM,\"k\",\"v\"\r\nk=v\r\n\r\n[B]\r\nb=1\r\n\r\n[C]\r\n,,,,\"/opt/x\"\r\n");
    EXPECT_EQ(GetPrivateProfileSection("C", 8192, file), std::vector<std::string>{",,,,\"/opt/x\""});
}

TEST_F(ProfileTest, WritesThatWouldReadBackAsSomethingElseAreRefused)
{
    const std::string file = Write("r.ini", "[s]\r\nk=v\r\n");
    EXPECT_FALSE(WritePrivateProfileString("s", "k", "two\r\nlines", file));
    EXPECT_FALSE(WritePrivateProfileString("s", "a=b", "v", file));
    EXPECT_FALSE(WritePrivateProfileString("s]x", "k", "v", file));
    EXPECT_FALSE(WritePrivateProfileString("s", "[t]", "v", file));
    EXPECT_FALSE(WritePrivateProfileSection("s", {"a", "[t]"}, file));
    EXPECT_FALSE(WritePrivateProfileString("s", "k", "v", m_dir.file("no-such-folder/x.ini")));
    EXPECT_EQ(Read(file), "[s]\r\nk=v\r\n");
}

TEST_F(ProfileTest, ConcurrentWritersLoseNothingAndLeaveNoFilesBehind)
{
    const std::filesystem::path folder = m_dir.path() / "product";
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "UnInstall.INF").string();
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i)
                WritePrivateProfileString("UnInstallFile",
                                          ("/opt/f" + std::to_string(t) + "_" + std::to_string(i)).c_str(),
                                          "install", file);
        });
    for (std::thread &w : writers)
        w.join();
    EXPECT_EQ(GetPrivateProfileSection("UnInstallFile", 65536, file).size(), 160u);
    // Only the file itself: no lock or temporary file stays in the folder.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator(folder))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST_F(ProfileTest, AnyBytesAndHugeLinesNeverCrash)
{
    std::mt19937 random(12);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(static_cast<std::size_t>(random() % 600), '\0');
        for (char &c : bytes) {
            const unsigned pick = random() % 10;
            c = pick == 0   ? '['
                : pick == 1 ? ']'
                : pick == 2 ? '='
                : pick == 3 ? '\n'
                            : static_cast<char>(random());
        }
        const std::string file = Write("fuzz.ini", bytes);
        GetPrivateProfileString("a", "b", "d", 1024, file);
        GetPrivateProfileSection("", 8192, file);
        ASSERT_TRUE(WritePrivateProfileString("a", "b", "c", file));
        EXPECT_EQ(GetPrivateProfileString("a", "b", "", 1024, file), "c") << round;
    }
    const std::string hugeLine(100000, 'k');
    const std::string file =
        Write("huge.ini", "[" + hugeLine + "]\n" + hugeLine + "=" + hugeLine + "\n[s]\nk=" + hugeLine);
    EXPECT_EQ(GetPrivateProfileString(hugeLine, hugeLine, "", 8192, file).size(), 8191u);
    EXPECT_EQ(GetPrivateProfileSection(hugeLine, 8192, file).size(), 0u);
    EXPECT_EQ(GetPrivateProfileSection(hugeLine, 300000, file).size(), 1u);
    ASSERT_TRUE(WritePrivateProfileString("s", "k2", "v", file));
    EXPECT_EQ(GetPrivateProfileString("s", "k", "", 200000, file), hugeLine);
}

// A writer killed at any moment leaves the old or the new file, never a mix.
TEST_F(ProfileTest, KilledWriterLeavesOldOrNewContent)
{
    const std::string file = m_dir.file("crash.ini");
    const std::string a(20000, 'a');
    const std::string b(30000, 'b');
    ASSERT_TRUE(WritePrivateProfileString("s", "k", a.c_str(), file));
    ASSERT_TRUE(WritePrivateProfileString("t", "k", "kept", file));
    std::mt19937 random(7);
    for (int round = 0; round < 25; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i)
                WritePrivateProfileString("s", "k", (i % 2 ? a : b).c_str(), file);
        }
        usleep(1000 + static_cast<useconds_t>(random() % 20000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const std::string value = GetPrivateProfileString("s", "k", "", 65536, file);
        ASSERT_TRUE(value == a || value == b) << "round " << round << " size " << value.size();
        ASSERT_EQ(GetPrivateProfileString("t", "k", "", 1024, file), "kept");
    }
    // A later write in the same folder still works over a left temporary file.
    ASSERT_TRUE(WritePrivateProfileString("s", "k", "done", file));
    EXPECT_EQ(GetPrivateProfileString("s", "k", "", 1024, file), "done");
}

TEST_F(ProfileTest, ReadsFollowEveryChangeOfAFileTheyHaveReadBefore)
{
    // Read once (and kept), then changed in every way a file can change.
    const std::string file = Write("script.kus", "[application]\r\nversion=1.0\r\n[a]\r\nx=1\r\n");
    EXPECT_EQ(GetPrivateProfileString("application", "version", "", 64, file), "1.0");

    // Rewritten in place by another program, same length.
    std::ofstream(file, std::ios::binary | std::ios::in | std::ios::out) << "[application]\r\nversion=1.1";
    EXPECT_EQ(GetPrivateProfileString("application", "version", "", 64, file), "1.1");

    // Replaced through a rename, as the profile functions and downloads do.
    const std::string other = Write("other.kus", "[APPLICATION]\r\nVersion=2.0\r\n[A]\r\ny=2\r\n");
    ASSERT_EQ(::rename(other.c_str(), file.c_str()), 0);
    EXPECT_EQ(GetPrivateProfileString("application", "version", "", 64, file), "2.0");
    EXPECT_EQ(GetPrivateProfileSection("a", 64, file), std::vector<std::string>{"y=2"});

    // Written through the profile functions.
    ASSERT_TRUE(WritePrivateProfileString("application", "version", "3.0", file));
    EXPECT_EQ(GetPrivateProfileString("application", "version", "", 64, file), "3.0");

    // Gone.
    ASSERT_EQ(::unlink(file.c_str()), 0);
    EXPECT_EQ(GetPrivateProfileString("application", "version", "none", 64, file), "none");
    EXPECT_TRUE(GetPrivateProfileSection("a", 64, file).empty());
}

TEST_F(ProfileTest, AFileOfManySectionsFindsTheFirstOfEachName)
{
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "[Item" + std::to_string(i) + "]\r\nVersion=" + std::to_string(i) + "\r\n";
    text += "[item7]\r\nVersion=second\r\n[\xB0\xA1Item]\r\nVersion=korean\r\n";
    const std::string file = Write("many.kus", text);
    for (int i = 0; i < 20000; i += 997)
        EXPECT_EQ(GetPrivateProfileString("ITEM" + std::to_string(i), "version", "", 64, file), std::to_string(i));
    EXPECT_EQ(GetPrivateProfileString("item7", "Version", "", 64, file), "7");
    EXPECT_EQ(GetPrivateProfileString(AnsiToUtf8("\xB0\xA1item"), "Version", "", 64, file), "korean");
    EXPECT_EQ(GetPrivateProfileString("Item20000", "Version", "no", 64, file), "no");
}
