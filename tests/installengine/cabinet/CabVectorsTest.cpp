// The extractor on libmspack's test cabinets and on cabinets made by gcab,
// compared file by file with what cabextract makes of the same cabinets.
#include "CCabExtractor.h"
#include "CabTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace cabtest;

namespace {

[[maybe_unused]] ::testing::Environment *const g_timeZone =
    ::testing::AddGlobalTestEnvironment(new TimeZoneEnvironment);

// Cabinets of the test data that are whole and begin at their first byte.
const std::set<std::string> kWellFormed = {
    "hidden-files.cab",
    "mszip_lzx_qtm.cab",
    "normal_255c_filename.cab",
    "normal_2files_1folder.cab",
    "normal_2files_2folders.cab",
    "reserve_---.cab",
    "reserve_--D.cab",
    "reserve_-F-.cab",
    "reserve_-FD.cab",
    "reserve_H--.cab",
    "reserve_H-D.cab",
    "reserve_HF-.cab",
    "reserve_HFD.cab",
};

// The same files, bytes, modification times and write permission.
void ExpectSameTree(const std::map<std::string, Entry> &ours, const std::map<std::string, Entry> &reference,
                    const std::string &what)
{
    std::set<std::string> ourNames, referenceNames;
    for (const auto &[name, entry] : ours)
        ourNames.insert(name);
    for (const auto &[name, entry] : reference)
        referenceNames.insert(name);
    EXPECT_EQ(ourNames, referenceNames) << what;
    for (const auto &[name, entry] : reference) {
        const auto it = ours.find(name);
        if (it == ours.end())
            continue;
        EXPECT_TRUE(it->second.bytes == entry.bytes) << what << ": " << name;
        EXPECT_EQ(it->second.mtime, entry.mtime) << what << ": " << name;
        EXPECT_EQ(it->second.mode & 0222u, entry.mode & 0222u) << what << ": " << name;
    }
}

// Everything an extraction of in/<cab> into out/ left must be inside out/,
// with no temporary file behind.
void ExpectConfined(const TestDir &sandbox, const std::string &cab)
{
    for (const std::string &entry : Entries(sandbox.path())) {
        const bool inside =
            entry == "in" || entry == "in/" + cab || entry == "out" || entry.rfind("out/", 0) == 0;
        EXPECT_TRUE(inside) << cab << " left " << entry;
    }
    EXPECT_EQ(Leftovers(sandbox.path()), std::vector<std::string>{}) << cab;
}

TEST(CabinetVectors, EveryCabinetEndsInsideItsFolderAndWellFormedOnesMatchCabextract)
{
    std::vector<std::string> cabs;
    for (const auto &entry : fs::directory_iterator(DataDir()))
        if (entry.path().extension() == ".cab")
            cabs.push_back(entry.path().filename().string());
    std::sort(cabs.begin(), cabs.end());
    ASSERT_GE(cabs.size(), 50u);

    for (const std::string &cab : cabs) {
        TestDir sandbox("cabvec");
        const fs::path in = sandbox.path() / "in" / cab;
        fs::create_directories(in.parent_path());
        fs::copy_file(fs::path(DataDir()) / cab, in);

        CCabExtractor extractor;
        extractor.SetDestination((sandbox.path() / "out").string());
        const BOOL ok = extractor.Extract(in.string(), 1);
        const ERF &erf = extractor.GetError();
        ExpectConfined(sandbox, cab);
        EXPECT_EQ(ok == 0, erf.fError != 0) << cab;

        if (kWellFormed.count(cab)) {
            EXPECT_EQ(ok, 1) << cab << " error " << erf.erfOper;
            TestDir reference("cabref");
            const ProgramResult r = Cabextract(in, reference.path() / "ref", reference.path());
            EXPECT_EQ(r.exitCode, 0) << cab << r.err;
            ExpectSameTree(Tree(sandbox.path() / "out"), Tree(reference.path() / "ref"), cab);
        } else if (cab.rfind("multi_basic_pt", 0) != 0) {
            // Damaged, truncated and hostile cabinets are refused with a reason.
            EXPECT_EQ(ok, 0) << cab;
            EXPECT_NE(erf.erfOper, FDIERROR_NONE) << cab;
        }
    }
}

TEST(CabinetVectors, NotACabinetFailsBeforeAnythingIsWritten)
{
    TestDir sandbox("cabnot");
    const fs::path out = sandbox.path() / "out";
    for (const char *file : {"bad_signature.cab", "search_basic.cab"}) {
        CCabExtractor extractor;
        extractor.SetDestination(out.string());
        EXPECT_EQ(extractor.Extract(DataDir() + "/" + std::string(file), 1), 0) << file;
        EXPECT_EQ(extractor.GetError().erfOper, FDIERROR_NOT_A_CABINET) << file;
        EXPECT_FALSE(fs::exists(out)) << file;
    }
    // Text, an empty file and a missing one.
    WriteFile(sandbox.path() / "text.cab", "This is a text file, not a cabinet.\n");
    WriteFile(sandbox.path() / "empty.cab", "");
    CCabExtractor extractor;
    extractor.SetDestination(out.string());
    EXPECT_EQ(extractor.Extract((sandbox.path() / "text.cab").string(), 1), 0);
    EXPECT_EQ(extractor.GetError().erfOper, FDIERROR_NOT_A_CABINET);
    EXPECT_EQ(extractor.Extract((sandbox.path() / "empty.cab").string(), 1), 0);
    EXPECT_EQ(extractor.GetError().erfOper, FDIERROR_NOT_A_CABINET);
    EXPECT_EQ(extractor.Extract((sandbox.path() / "missing.cab").string(), 1), 0);
    EXPECT_EQ(extractor.GetError().erfOper, FDIERROR_CABINET_NOT_FOUND);
    EXPECT_EQ(extractor.GetError().erfType, ENOENT);
    // Headers that begin like a cabinet but are cut short.
    EXPECT_EQ(extractor.Extract(DataDir() + "/partial_shortheader.cab", 1), 0);
    EXPECT_EQ(extractor.GetError().erfOper, FDIERROR_CORRUPT_CABINET);
    EXPECT_FALSE(fs::exists(out));
}

// The five-part set, copied under the names its cabinets give each other;
// all but the first in capitals, as a set copied from a DOS disk might be.
fs::path CopyMultiBasicSet(const fs::path &folder)
{
    fs::create_directories(folder);
    fs::copy_file(DataDir() + "/multi_basic_pt1.cab", folder / "cabd_multi_basic_pt1.cab");
    for (int part = 2; part <= 5; ++part)
        fs::copy_file(DataDir() + "/multi_basic_pt" + std::to_string(part) + ".cab",
                      folder / ("CABD_MULTI_BASIC_PT" + std::to_string(part) + ".CAB"));
    return folder / "cabd_multi_basic_pt1.cab";
}

TEST(CabinetVectors, SpannedSetExtractsWholeAndFailsWithAPartMissing)
{
    TestDir sandbox("cabmulti");
    const fs::path first = CopyMultiBasicSet(sandbox.path() / "set");

    CCabExtractor extractor;
    extractor.SetDestination((sandbox.path() / "out").string());
    ASSERT_EQ(extractor.Extract(first.string(), 1), 1) << extractor.GetError().erfOper;
    const std::map<std::string, Entry> whole = Tree(sandbox.path() / "out");
    ASSERT_EQ(whole.size(), 3u);
    EXPECT_EQ(whole.at("test2.txt").bytes, "This is the data from cabinet part 3.\n");
    const ProgramResult r = Cabextract(first, sandbox.path() / "ref", sandbox.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ExpectSameTree(whole, Tree(sandbox.path() / "ref"), "multi_basic");

    // Every file of this set runs through all five parts: without the third
    // nothing can be extracted, and nothing half-made is left.
    fs::remove(sandbox.path() / "set" / "CABD_MULTI_BASIC_PT3.CAB");
    extractor.SetDestination((sandbox.path() / "out2").string());
    EXPECT_EQ(extractor.Extract(first.string(), 1), 0);
    EXPECT_EQ(extractor.GetError().erfOper, FDIERROR_CABINET_NOT_FOUND);
    EXPECT_TRUE(Tree(sandbox.path() / "out2").empty());
    EXPECT_EQ(Leftovers(sandbox.path()), std::vector<std::string>{});
}

// Source files of mixed content for gcab: text, random bytes, an empty file,
// nested folders and a name with a blank; times on even seconds, as DOS
// times keep them.
std::vector<std::string> MakeSources(const fs::path &src)
{
    std::mt19937 random(7);
    std::string noise(150000, '\0');
    for (char &c : noise)
        c = static_cast<char>(random());
    std::string text;
    while (text.size() < 300000)
        text += "line " + std::to_string(text.size()) + " of a rather repetitive text file\n";
    const std::vector<std::pair<std::string, std::string>> files = {
        {"readme.txt", "hello\n"},
        {"bin/tool.bin", noise},
        {"docs/notes/read me.txt", text},
        {"empty.dat", ""},
    };
    std::vector<std::string> names;
    std::int64_t stamp = 1700000000;
    for (const auto &[name, bytes] : files) {
        WriteFile(src / name, bytes);
        const struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
        ::utimensat(AT_FDCWD, (src / name).c_str(), times, 0);
        stamp += 86400 * 40 + 3602;
        names.push_back(name);
    }
    return names;
}

TEST(CabinetVectors, GcabCabinetsStoredAndMszipMatchCabextractAndTheSources)
{
    TestDir sandbox("cabgcab");
    const fs::path src = sandbox.path() / "src";
    const std::vector<std::string> names = MakeSources(src);
    const std::map<std::string, Entry> sources = Tree(src);

    for (const bool mszip : {false, true}) {
        const std::string kind = mszip ? "mszip" : "stored";
        const fs::path cab = sandbox.path() / (kind + ".cab");
        const ProgramResult made = Gcab(cab, src, names, mszip);
        ASSERT_EQ(made.exitCode, 0) << made.err;

        CCabExtractor extractor;
        extractor.SetDestination((sandbox.path() / (kind + "-ours")).string());
        ASSERT_EQ(extractor.Extract(cab.string(), 1), 1) << kind << " error " << extractor.GetError().erfOper;
        const std::map<std::string, Entry> ours = Tree(sandbox.path() / (kind + "-ours"));

        const ProgramResult r = Cabextract(cab, sandbox.path() / (kind + "-ref"), sandbox.path());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        ExpectSameTree(ours, Tree(sandbox.path() / (kind + "-ref")), kind);

        // gcab stores "\" between folders; the files come back in their folders.
        ASSERT_EQ(ours.size(), sources.size()) << kind;
        for (const auto &[name, entry] : sources)
            EXPECT_TRUE(ours.count(name) && ours.at(name).bytes == entry.bytes) << kind << ": " << name;
    }
}

} // namespace
