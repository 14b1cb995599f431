// The extractor on cabinets the tests write byte by byte: names that try to
// leave the destination, attributes and local times, code pages, cabinet sets
// that end early or mix sets, the notifications, damaged cabinets, and the
// single-file extractor of the install worker.
#include "CCabExtractor.h"
#include "CCabFileExtractor.h"
#include "CabBuilder.h"
#include "CabTestSupport.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace cabtest;

namespace {

std::string Extracted(const fs::path &root, const std::string &name)
{
    return ReadFile(root / name);
}

// Seconds since the epoch of a UTC date.
std::int64_t Utc(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return static_cast<std::int64_t>(timegm(&t));
}

TEST(CabinetNames, NamesThatLeaveTheFolderAreSkippedAndTheRestExtracted)
{
    TestDir sandbox("cabhostile");
    const fs::path out = sandbox.path() / "deep" / "out";
    WriteFile(sandbox.path() / "hostile.cab", CabBuilder::Stored({
                                                  {"..\\escape1.txt", "x"},
                                                  {"../escape2.txt", "x"},
                                                  {"sub\\..\\..\\escape3.txt", "x"},
                                                  {"/tmp-escape4.txt", "x"},
                                                  {"\\escape5.txt", "x"},
                                                  {"C:\\escape6.txt", "x"},
                                                  {"c:escape7.txt", "x"},
                                                  {"\\\\server\\share\\escape8.txt", "x"},
                                                  {"..", "x"},
                                                  {"good.txt", "good"},
                                                  {"sub\\inner.txt", "inner"},
                                                  {"a/./b//c.txt", "c"},
                                              }));
    CCabExtractor extractor;
    extractor.SetDestination(out.string());
    EXPECT_EQ(extractor.Extract((sandbox.path() / "hostile.cab").string(), 1), 0);
    EXPECT_EQ(extractor.GetError().erfOper, FDIERROR_TARGET_FILE);
    EXPECT_EQ(extractor.GetError().erfType, EINVAL);

    const std::set<std::string> expected = {"hostile.cab",       "deep",         "deep/out",
                                            "deep/out/good.txt", "deep/out/sub", "deep/out/sub/inner.txt",
                                            "deep/out/a",        "deep/out/a/b", "deep/out/a/b/c.txt"};
    EXPECT_EQ(Entries(sandbox.path()), expected);
    EXPECT_EQ(Extracted(out, "sub/inner.txt"), "inner");
    EXPECT_FALSE(fs::exists("/tmp-escape4.txt"));
}

TEST(CabinetNames, RelativeNameKeepsFoldersAndRefusesWhatLeaves)
{
    std::string relative;
    EXPECT_TRUE(CCabExtractor::RelativeName("dir\\sub\\file.txt", relative));
    EXPECT_EQ(relative, "dir/sub/file.txt");
    EXPECT_TRUE(CCabExtractor::RelativeName(".\\a..b\\...\\x", relative));
    EXPECT_EQ(relative, "a..b/.../x");
    for (const char *bad : {"", "\\", "/", ".", "..", "a\\..\\b", "a/../../b", "/etc/passwd", "D:x", "z:\\x"})
        EXPECT_FALSE(CCabExtractor::RelativeName(bad, relative)) << bad;
}

TEST(CabinetNames, Cp949AndUtf8NamesBecomeUtf8FileNames)
{
    TestDir sandbox("cabnames");
    CabBuilder cab;
    cab.AddStoredFolder({{platform::Utf8ToAnsi("설치\\한글 파일.txt"), "cp949"}});
    cab.AddStoredFolder({{"日本語.txt", "utf8"}}, 0x20 | CCabExtractor::CAB_ATTRIB_NAME_IS_UTF);
    WriteFile(sandbox.path() / "names.cab", cab.Build());

    CCabExtractor extractor;
    extractor.SetDestination((sandbox.path() / "out").string());
    ASSERT_EQ(extractor.Extract((sandbox.path() / "names.cab").string(), 1), 1);
    EXPECT_EQ(Extracted(sandbox.path() / "out", "설치/한글 파일.txt"), "cp949");
    EXPECT_EQ(Extracted(sandbox.path() / "out", "日本語.txt"), "utf8");
}

TEST(CabinetFiles, LocalTimesAndReadOnlyCarryOverAndReadOnlyTargetsAreReplaced)
{
    TestDir sandbox("cabattr");
    CabBuilder cab;
    cab.AddStoredFolder({{"summer.txt", "new summer"}, {"winter.txt", "new winter"}});
    cab.files[0].attributes = CCabExtractor::CAB_ATTRIB_READONLY | CCabExtractor::CAB_ATTRIB_HIDDEN |
                              CCabExtractor::CAB_ATTRIB_SYSTEM | CCabExtractor::CAB_ATTRIB_ARCHIVE;
    cab.files[0].date = CabBuilder::DosDate(2003, 7, 5);
    cab.files[0].time = CabBuilder::DosTime(6, 7, 8);
    cab.files[1].attributes = CCabExtractor::CAB_ATTRIB_ARCHIVE;
    cab.files[1].date = CabBuilder::DosDate(2003, 1, 5);
    cab.files[1].time = CabBuilder::DosTime(23, 59, 58);
    WriteFile(sandbox.path() / "attr.cab", cab.Build());

    const fs::path out = sandbox.path() / "out";
    WriteFile(out / "summer.txt", "old summer");
    WriteFile(out / "winter.txt", "old winter");
    ::chmod((out / "summer.txt").c_str(), 0444);
    ::chmod((out / "winter.txt").c_str(), 0444);

    CCabExtractor extractor;
    extractor.SetDestination(out.string());
    ASSERT_EQ(extractor.Extract((sandbox.path() / "attr.cab").string(), 1), 1);
    const std::map<std::string, Entry> tree = Tree(out);
    ASSERT_EQ(tree.size(), 2u);
    EXPECT_EQ(tree.at("summer.txt").bytes, "new summer");
    EXPECT_EQ(tree.at("winter.txt").bytes, "new winter");
    // Stored as local time: CEST (+2) in summer, CET (+1) in winter.
    EXPECT_EQ(tree.at("summer.txt").mtime, Utc(2003, 7, 5, 4, 7, 8));
    EXPECT_EQ(tree.at("winter.txt").mtime, Utc(2003, 1, 5, 22, 59, 58));
    EXPECT_EQ(tree.at("summer.txt").mode & 0222u, 0u);
    EXPECT_NE(tree.at("winter.txt").mode & 0200u, 0u);
}

// Three cabinets of one set: one.txt whole in the first, two.txt running from
// the first into the second, four.txt from the second into the third.
struct ThreePartSet {
    std::string one = "one\n";
    std::string two = std::string(1000, 'a') + std::string(2000, 'b');
    std::string four = std::string(500, 'c') + std::string(1500, 'd');
    CabBuilder part[3];

    ThreePartSet()
    {
        for (int i = 0; i < 3; ++i)
            part[i].index = static_cast<std::uint16_t>(i);
        CabBuilder &p1 = part[0];
        p1.nextName = "Set_2.cab";
        p1.nextDisk = "Disk 2";
        p1.AddStoredFolder({{"one.txt", one}});
        p1.folders.push_back({0, {{two.substr(0, 1000), 0}}});
        p1.files.push_back({"two.txt", 3000, 0, CabBuilder::kContinuedToNext});

        CabBuilder &p2 = part[1];
        p2.prevName = "Set_1.cab";
        p2.prevDisk = "Disk 1";
        p2.nextName = "Set_3.cab";
        p2.nextDisk = "Disk 3";
        p2.folders.push_back({0, {{two.substr(1000), 3000}}});
        p2.files.push_back({"two.txt", 3000, 0, CabBuilder::kContinuedFromPrev});
        p2.folders.push_back({0, {{four.substr(0, 500), 0}}});
        p2.files.push_back({"four.txt", 2000, 0, CabBuilder::kContinuedToNext});

        CabBuilder &p3 = part[2];
        p3.prevName = "Set_2.cab";
        p3.prevDisk = "Disk 2";
        p3.folders.push_back({0, {{four.substr(500), 2000}}});
        p3.files.push_back({"four.txt", 2000, 0, CabBuilder::kContinuedFromPrev});
    }

    // Writes the parts in lower case, skipping the ones not wanted.
    void Write(const fs::path &folder, std::set<int> skip = {}) const
    {
        for (int i = 0; i < 3; ++i)
            if (!skip.count(i + 1))
                WriteFile(folder / ("set_" + std::to_string(i + 1) + ".cab"), part[i].Build());
    }
};

TEST(CabinetSets, WholeSetAndSetsThatEndEarlyOrMix)
{
    struct Case {
        const char *what;
        std::set<int> missing;
        int wrongPart = 0; // this part belongs to another set
        bool textPart = false;
        int error;
        std::set<std::string> files;
    };
    const Case cases[] = {
        {"whole", {}, 0, false, FDIERROR_NONE, {"one.txt", "two.txt", "four.txt"}},
        {"third missing", {3}, 0, false, FDIERROR_CABINET_NOT_FOUND, {"one.txt", "two.txt"}},
        {"second missing", {2}, 0, false, FDIERROR_CABINET_NOT_FOUND, {"one.txt"}},
        {"third of another set", {}, 3, false, FDIERROR_WRONG_CABINET, {"one.txt", "two.txt"}},
        {"second not a cabinet", {}, 2, true, FDIERROR_NOT_A_CABINET, {"one.txt"}},
    };
    for (const Case &c : cases) {
        TestDir sandbox("cabset");
        ThreePartSet set;
        if (c.wrongPart && !c.textPart)
            set.part[c.wrongPart - 1].setId = 0x9999;
        set.Write(sandbox.path() / "in", c.missing);
        if (c.textPart)
            WriteFile(sandbox.path() / "in" / ("set_" + std::to_string(c.wrongPart) + ".cab"),
                      "not a cabinet");

        CCabExtractor extractor;
        extractor.SetDestination((sandbox.path() / "out").string());
        EXPECT_EQ(extractor.Extract((sandbox.path() / "in" / "set_1.cab").string(), 1),
                  c.error == FDIERROR_NONE ? 1 : 0)
            << c.what;
        EXPECT_EQ(extractor.GetError().erfOper, c.error) << c.what;
        const std::map<std::string, Entry> tree = Tree(sandbox.path() / "out");
        std::set<std::string> names;
        for (const auto &[name, entry] : tree)
            names.insert(name);
        EXPECT_EQ(names, c.files) << c.what;
        if (tree.count("two.txt")) {
            EXPECT_EQ(tree.at("two.txt").bytes, set.two) << c.what;
        }
        if (tree.count("four.txt")) {
            EXPECT_EQ(tree.at("four.txt").bytes, set.four) << c.what;
        }
        EXPECT_EQ(Leftovers(sandbox.path()), std::vector<std::string>{}) << c.what;
    }
}

// Records every notification as one line of text.
class RecordingExtractor : public CCabExtractor {
public:
    std::vector<std::string> log;
    bool refuseNext = false;
    bool refuseExtracted = false;
    std::string skip;
    std::string otherFolder; // where a missing next cabinet is found

protected:
    bool OnCabinetInfo(const std::string &next, const std::string &disk, const std::string &, unsigned setId,
                       unsigned index) override
    {
        log.push_back("cabinet " + std::to_string(index) + " of " + std::to_string(setId) + " next " + next +
                      " (" + disk + ")");
        return true;
    }
    bool OnPartialFile(const std::string &name, const std::string &first, const std::string &disk) override
    {
        log.push_back("partial " + name + " from " + first + " (" + disk + ")");
        return true;
    }
    std::string OnCopyFile(const std::string &name, std::uint32_t bytes) override
    {
        log.push_back("copy " + name + " " + std::to_string(bytes));
        return name == skip ? std::string() : CCabExtractor::OnCopyFile(name, bytes);
    }
    bool OnCloseFileInfo(const std::string &name, std::uint16_t date, std::uint16_t time,
                         std::uint16_t attributes) override
    {
        log.push_back("close " + name + " " + std::to_string(date) + " " + std::to_string(time) + " " +
                      std::to_string(attributes) + " " + GetWritingPath().substr(GetDestination().size()));
        return true;
    }
    bool OnFileExtracted(const std::string &name, const std::string &path) override
    {
        log.push_back("extracted " + name + " " + path.substr(GetDestination().size()));
        return !refuseExtracted;
    }
    bool OnEnumerate() override
    {
        log.push_back("enumerate");
        return true;
    }
    bool OnNextCabinet(const std::string &name, const std::string &disk, std::string &folder,
                       int error) override
    {
        log.push_back("next " + name + " (" + disk + ") error " + std::to_string(error));
        if (error != FDIERROR_NONE && !otherFolder.empty())
            folder = otherFolder;
        return !refuseNext;
    }
};

TEST(CabinetNotifications, ComeInOrderWithTheStoredDetails)
{
    TestDir sandbox("cabnotify");
    ThreePartSet set;
    set.Write(sandbox.path());
    RecordingExtractor extractor;
    extractor.skip = "two.txt";
    extractor.SetDestination((sandbox.path() / "out").string());
    ASSERT_EQ(extractor.Extract((sandbox.path() / "set_1.cab").string(), 1), 1);
    const std::string dosDate = std::to_string(CabBuilder::DosDate(2001, 2, 3));
    const std::string dosTime = std::to_string(CabBuilder::DosTime(4, 5, 6));
    const std::vector<std::string> expected = {
        "cabinet 0 of 4660 next Set_2.cab (Disk 2)",
        "next Set_2.cab (Disk 2) error 0",
        "cabinet 1 of 4660 next Set_3.cab (Disk 3)",
        "next Set_3.cab (Disk 3) error 0",
        "cabinet 2 of 4660 next  ()",
        "copy one.txt 4",
        "close one.txt " + dosDate + " " + dosTime + " 32 one.txt",
        "extracted one.txt one.txt",
        "enumerate",
        "copy two.txt 3000",
        "enumerate",
        "copy four.txt 2000",
        "close four.txt " + dosDate + " " + dosTime + " 32 four.txt",
        "extracted four.txt four.txt",
        "enumerate",
    };
    EXPECT_EQ(extractor.log, expected);
    EXPECT_FALSE(fs::exists(sandbox.path() / "out" / "two.txt"));
}

TEST(CabinetNotifications, RefusalsFailAndAMovedCabinetIsFoundWhereTheNotificationSays)
{
    TestDir sandbox("cabrefuse");
    ThreePartSet set;
    set.Write(sandbox.path() / "in", {2, 3});
    set.Write(sandbox.path() / "elsewhere", {1});

    // The next-cabinet notification refuses: the whole files come out, then
    // the extraction ends as aborted.
    RecordingExtractor refusing;
    refusing.refuseNext = true;
    refusing.SetDestination((sandbox.path() / "out1").string());
    EXPECT_EQ(refusing.Extract((sandbox.path() / "in" / "set_1.cab").string(), 1), 0);
    EXPECT_EQ(refusing.GetError().erfOper, FDIERROR_USER_ABORT);
    EXPECT_TRUE(fs::exists(sandbox.path() / "out1" / "one.txt"));

    // It points at the folder holding the rest of the set.
    RecordingExtractor pointing;
    pointing.otherFolder = (sandbox.path() / "elsewhere").string();
    pointing.SetDestination((sandbox.path() / "out2").string());
    ASSERT_EQ(pointing.Extract((sandbox.path() / "in" / "set_1.cab").string(), 1), 1);
    EXPECT_EQ(Extracted(sandbox.path() / "out2", "four.txt"), set.four);
    EXPECT_NE(std::find(pointing.log.begin(), pointing.log.end(), "next Set_2.cab (Disk 2) error 1"),
              pointing.log.end());

    // The file-extracted notification refuses: the file stays, the
    // extraction stops there.
    RecordingExtractor stopping;
    stopping.refuseExtracted = true;
    stopping.SetDestination((sandbox.path() / "out3").string());
    EXPECT_EQ(stopping.Extract((sandbox.path() / "elsewhere" / "set_2.cab").string(), 1), 0);
    EXPECT_EQ(stopping.GetError().erfOper, FDIERROR_USER_ABORT);
    EXPECT_EQ(Entries(sandbox.path() / "out3"), std::set<std::string>{"four.txt"});
}

TEST(CabinetSets, StartingAtALaterCabinetPassesOverFilesThatBeganBefore)
{
    TestDir sandbox("cabpartial");
    ThreePartSet set;
    set.Write(sandbox.path());
    RecordingExtractor extractor;
    extractor.SetDestination((sandbox.path() / "out").string());
    ASSERT_EQ(extractor.Extract((sandbox.path() / "set_2.cab").string(), 1), 1);
    EXPECT_NE(
        std::find(extractor.log.begin(), extractor.log.end(), "partial two.txt from Set_1.cab (Disk 1)"),
        extractor.log.end());
    EXPECT_EQ(Entries(sandbox.path() / "out"), std::set<std::string>{"four.txt"});
    EXPECT_EQ(Extracted(sandbox.path() / "out", "four.txt"), set.four);
}

// A cabinet gcab makes of a few files, and those files' contents.
std::string GcabCabinet(const TestDir &sandbox, bool mszip, std::map<std::string, std::string> &contents)
{
    std::string text;
    while (text.size() < 70000)
        text += "a line of text number " + std::to_string(text.size()) + "\n";
    contents = {{"first.txt", text.substr(0, 20000)}, {"second.txt", text}, {"third.txt", "short"}};
    std::vector<std::string> names;
    for (const auto &[name, bytes] : contents) {
        WriteFile(sandbox.path() / "src" / name, bytes);
        names.push_back(name);
    }
    const fs::path cab = sandbox.path() / (mszip ? "made-z.cab" : "made.cab");
    const ProgramResult made = Gcab(cab, sandbox.path() / "src", names, mszip);
    EXPECT_EQ(made.exitCode, 0) << made.err;
    return ReadFile(cab);
}

// Whatever a damaged cabinet does, what is left is whole files only, inside
// the destination.
void ExpectOnlyWholeFiles(const TestDir &sandbox, const fs::path &out,
                          const std::map<std::string, std::string> &src, const std::string &what)
{
    for (const auto &[name, entry] : Tree(out)) {
        ASSERT_TRUE(src.count(name)) << what << " made " << name;
        EXPECT_TRUE(entry.bytes == src.at(name)) << what << ": " << name << " is not whole";
    }
    EXPECT_EQ(Leftovers(sandbox.path()), std::vector<std::string>{}) << what;
}

TEST(CabinetDamage, TruncatedCabinetsFailLeavingOnlyWholeFiles)
{
    for (const bool mszip : {false, true}) {
        TestDir sandbox("cabtrunc");
        std::map<std::string, std::string> src;
        const std::string whole = GcabCabinet(sandbox, mszip, src);
        ASSERT_GT(whole.size(), 1000u);
        const std::size_t step = std::max<std::size_t>(1, whole.size() / 300);
        for (std::size_t length = 0; length < whole.size(); length += (length < 200 ? 1 : step)) {
            const fs::path cab = sandbox.path() / "cut.cab";
            const fs::path out = sandbox.path() / "out";
            fs::remove_all(out);
            WriteFile(cab, whole.substr(0, length));
            CCabExtractor extractor;
            extractor.SetDestination(out.string());
            const std::string what = (mszip ? "mszip cut at " : "stored cut at ") + std::to_string(length);
            EXPECT_EQ(extractor.Extract(cab.string(), 1), 0) << what;
            EXPECT_TRUE(extractor.GetError().fError) << what;
            ExpectOnlyWholeFiles(sandbox, out, src, what);
        }
    }
}

TEST(CabinetDamage, CorruptDataFailsAsCorruptAndHeaderDamageNeverEscapes)
{
    TestDir sandbox("cabcorrupt");
    std::map<std::string, std::string> src;
    const std::string whole = GcabCabinet(sandbox, true, src);
    const std::size_t dataStart = static_cast<unsigned char>(whole[0x24]) |
                                  static_cast<unsigned char>(whole[0x25]) << 8 |
                                  static_cast<unsigned char>(whole[0x26]) << 16; // first folder's data
    ASSERT_LT(dataStart, whole.size());
    for (std::size_t at = 0; at < whole.size(); at += (at < dataStart ? 1 : 997)) {
        std::string damaged = whole;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
        const fs::path cab = sandbox.path() / "bad.cab";
        const fs::path out = sandbox.path() / "out";
        fs::remove_all(out);
        WriteFile(cab, damaged);
        CCabExtractor extractor;
        extractor.SetDestination(out.string());
        const BOOL ok = extractor.Extract(cab.string(), 1);
        const std::string what = "byte " + std::to_string(at);
        if (at >= dataStart + 8) {
            // Block checksums catch every change of the compressed data.
            EXPECT_EQ(ok, 0) << what;
            EXPECT_EQ(extractor.GetError().erfOper, FDIERROR_CORRUPT_CABINET) << what;
        }
        if (ok) {
            // A changed header field may still describe a cabinet (a time,
            // an attribute, a name): then it extracts inside the folder.
            for (const auto &[name, entry] : Tree(out))
                EXPECT_FALSE(name.empty()) << what;
            EXPECT_EQ(Leftovers(sandbox.path()), std::vector<std::string>{}) << what;
        } else {
            ExpectOnlyWholeFiles(sandbox, out, src, what);
        }
        for (const std::string &entry : Entries(sandbox.path()))
            EXPECT_TRUE(entry == "bad.cab" || entry == "made-z.cab" || entry.rfind("src", 0) == 0 ||
                        entry.rfind("out", 0) == 0)
                << what << " left " << entry;
    }
}

TEST(CabinetDamage, UnwritableTargetsFailAsTargetFileErrors)
{
    TestDir sandbox("cabtarget");
    WriteFile(sandbox.path() / "a.cab", CabBuilder::Stored({{"dir\\file.txt", "data"}, {"plain.txt", "p"}}));

    // The destination is a file.
    WriteFile(sandbox.path() / "occupied", "a file");
    CCabExtractor extractor;
    extractor.SetDestination((sandbox.path() / "occupied").string());
    EXPECT_EQ(extractor.Extract((sandbox.path() / "a.cab").string(), 1), 0);
    EXPECT_EQ(extractor.GetError().erfOper, FDIERROR_TARGET_FILE);
    EXPECT_NE(extractor.GetError().erfType, 0);
    EXPECT_EQ(ReadFile(sandbox.path() / "occupied"), "a file");

    // A folder stands where the file goes.
    fs::create_directories(sandbox.path() / "out" / "dir" / "file.txt");
    extractor.SetDestination((sandbox.path() / "out").string());
    EXPECT_EQ(extractor.Extract((sandbox.path() / "a.cab").string(), 1), 0);
    EXPECT_EQ(extractor.GetError().erfOper, FDIERROR_TARGET_FILE);
    EXPECT_EQ(Leftovers(sandbox.path()), std::vector<std::string>{});
}

TEST(CabinetFileExtractor, TakesOneNamedFileWhateverItsCaseOrFolder)
{
    TestDir sandbox("cabone");
    CabBuilder cab;
    cab.AddStoredFolder(
        {{"readme.txt", "read me"}, {"bin\\Velmor.EXE", "program"}, {"other\\velmor.exe", "2nd"}});
    WriteFile(sandbox.path() / "pkg.cab", cab.Build());

    CCabFileExtractor one("velmor.exe");
    one.SetDestination((sandbox.path() / "tmp").string());
    ASSERT_EQ(one.Extract((sandbox.path() / "pkg.cab").string(), 1), 1);
    EXPECT_EQ(one.GetExtractedPath(), (sandbox.path() / "tmp" / "bin" / "Velmor.EXE").string());
    EXPECT_EQ(Entries(sandbox.path() / "tmp"), (std::set<std::string>{"bin", "bin/Velmor.EXE"}));
    EXPECT_EQ(Extracted(sandbox.path() / "tmp", "bin/Velmor.EXE"), "program");

    CCabFileExtractor byPath("OTHER\\VELMOR.EXE");
    byPath.SetDestination((sandbox.path() / "tmp2").string());
    ASSERT_EQ(byPath.Extract((sandbox.path() / "pkg.cab").string(), 1), 1);
    EXPECT_EQ(Extracted(sandbox.path() / "tmp2", "other/velmor.exe"), "2nd");

    CCabFileExtractor missing("absent.dll");
    missing.SetDestination((sandbox.path() / "tmp3").string());
    EXPECT_EQ(missing.Extract((sandbox.path() / "pkg.cab").string(), 1), 0);
    EXPECT_EQ(missing.GetError().erfOper, FDIERROR_TARGET_FILE);
    EXPECT_EQ(missing.GetError().erfType, ENOENT);
    EXPECT_TRUE(missing.GetExtractedPath().empty());
    EXPECT_FALSE(fs::exists(sandbox.path() / "tmp3"));
}

} // namespace
