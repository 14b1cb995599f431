#include "platform/FileVersion.h"

#include "RunProgram.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace platform;

namespace {

// A PE file written byte by byte: DOS header, PE header, two sections, and in
// the second (.rsrc) a resource tree with an icon, a named resource and the
// version resource, whose VS_VERSIONINFO block ends the file.
struct PeOptions {
    bool pe32plus = false;
    FileVersion version{4, 3, 0, 0};
    std::uint32_t signature = 0xFEEF04BD;
};

class PeBuilder {
public:
    explicit PeBuilder(const PeOptions &o) : m_o(o) {}

    std::string Build()
    {
        const std::uint32_t optionalSize = m_o.pe32plus ? 240 : 224;
        const std::uint32_t pe = 0x80;
        const std::uint32_t sectionTable = pe + 24 + optionalSize;
        const std::uint32_t rsrcOffset = 0x400;
        const std::uint32_t rsrcRva = 0x3000;

        // The resource section, offsets relative to its start.
        std::string r;
        auto dir = [&](std::uint16_t named, std::uint16_t ids) {
            Put32(r, 0), Put32(r, 0), Put16(r, 4), Put16(r, 0), Put16(r, named), Put16(r, ids);
        };
        // Root: a named type, RT_ICON (3), then RT_VERSION (16).
        dir(1, 2);
        Put32(r, 0x80000000u | 0x100), Put32(r, 0x80000000u | 0x30); // named -> level 2
        Put32(r, 3), Put32(r, 0x80000000u | 0x30);                   // RT_ICON -> level 2
        Put32(r, 16), Put32(r, 0x80000000u | 0x30);                  // RT_VERSION -> level 2
        Pad(r, 0x30);
        dir(0, 1); // name 1
        Put32(r, 1), Put32(r, 0x80000000u | 0x48);
        Pad(r, 0x48);
        dir(0, 1); // language 0x412
        Put32(r, 0x412), Put32(r, 0x60);
        Pad(r, 0x60);
        // The data entry: the block's address in the image, its size.
        const std::uint32_t blockAt = 0x120;
        const std::uint32_t blockSize = 40 + 52;
        Put32(r, rsrcRva + blockAt), Put32(r, blockSize), Put32(r, 0), Put32(r, 0);
        Pad(r, 0x100);
        Put16(r, 4), Put16(r, 'I'), Put16(r, 'C'), Put16(r, 'O'), Put16(r, 'N'); // the type's name
        Pad(r, blockAt);
        Put16(r, blockSize), Put16(r, 52), Put16(r, 0);
        for (char16_t c : std::u16string(u"VS_VERSION_INFO"))
            Put16(r, c);
        Put16(r, 0);
        Pad(r, blockAt + 40);
        Put32(r, m_o.signature), Put32(r, 0x10000);
        Put32(r, (std::uint32_t(m_o.version[0]) << 16) | m_o.version[1]);
        Put32(r, (std::uint32_t(m_o.version[2]) << 16) | m_o.version[3]);
        for (int i = 0; i < 9; ++i)
            Put32(r, 0);

        std::string f;
        Put16(f, 0x5A4D);
        Pad(f, 0x3C);
        Put32(f, pe);
        Pad(f, pe);
        f += std::string("PE\0\0", 4);
        Put16(f, m_o.pe32plus ? 0x8664 : 0x14C), Put16(f, 2), Put32(f, 0), Put32(f, 0), Put32(f, 0);
        Put16(f, static_cast<std::uint16_t>(optionalSize)), Put16(f, 0x2102);
        const std::size_t optional = f.size();
        Put16(f, m_o.pe32plus ? 0x20B : 0x10B);
        Pad(f, optional + (m_o.pe32plus ? 108 : 92));
        Put32(f, 16);
        for (int i = 0; i < 16; ++i) {
            Put32(f, i == 2 ? rsrcRva : 0);
            Put32(f, i == 2 ? static_cast<std::uint32_t>(r.size()) : 0);
        }
        Pad(f, sectionTable);
        Section(f, ".text", 0x1000, 0x10, 0x200, 0x200);
        Section(f, ".rsrc", rsrcRva, static_cast<std::uint32_t>(r.size()),
                static_cast<std::uint32_t>(r.size()), rsrcOffset);
        Pad(f, 0x200);
        f += std::string(0x10, '\xC3');
        Pad(f, rsrcOffset);
        return f + r;
    }

    // File offsets of fields a test may spoil.
    static constexpr std::size_t kPeOffsetField = 0x3C;
    static constexpr std::size_t kRootCounts = 0x400 + 12;
    static constexpr std::size_t kRootVersionId = 0x400 + 16 + 2 * 8;
    static constexpr std::size_t kLevel3Entry = 0x400 + 0x48 + 16 + 4;
    static constexpr std::size_t kDataEntryRva = 0x400 + 0x60;

private:
    static void Put16(std::string &s, std::uint16_t v)
    {
        s.push_back(static_cast<char>(v & 0xFF));
        s.push_back(static_cast<char>(v >> 8));
    }
    static void Put32(std::string &s, std::uint32_t v)
    {
        Put16(s, static_cast<std::uint16_t>(v & 0xFFFF));
        Put16(s, static_cast<std::uint16_t>(v >> 16));
    }
    static void Pad(std::string &s, std::size_t to)
    {
        ASSERT_LE(s.size(), to);
        s.resize(to, '\0');
    }
    static void Section(std::string &s, const char *name, std::uint32_t va, std::uint32_t vsize,
                        std::uint32_t rawSize, std::uint32_t rawOffset)
    {
        std::string n(name);
        n.resize(8, '\0');
        s += n;
        Put32(s, vsize), Put32(s, va), Put32(s, rawSize), Put32(s, rawOffset);
        s += std::string(16, '\0');
    }

    PeOptions m_o;
};

void Poke32(std::string &s, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string Slurp(const std::string &path)
{
    return TestDir::Read(path);
}

} // namespace

TEST(FileVersion, PeVersionResourceOfBothPeKinds)
{
    PeOptions o;
    o.version = {4, 3, 0, 0};
    std::optional<FileVersion> v = ReadFileVersionFromBytes(PeBuilder(o).Build());
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(FormatFileVersion(*v), "4.3.0.0");

    o.pe32plus = true;
    o.version = {65535, 1, 2, 40000};
    v = ReadFileVersionFromBytes(PeBuilder(o).Build());
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(FormatFileVersion(*v), "65535.1.2.40000");

    // The same through a file on disk, named as the engine finds it.
    TestDir dir("fileversion");
    std::ofstream(dir.file("ActSkn43.ocx"), std::ios::binary) << PeBuilder(o).Build();
    v = ReadFileVersion(dir.file("ActSkn43.ocx"));
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(FormatFileVersion(*v), "65535.1.2.40000");
}

TEST(FileVersion, PeWithSpoiledFieldsHasNoVersion)
{
    const std::string good = PeBuilder(PeOptions{}).Build();
    auto spoiled = [&](std::size_t at, std::uint32_t value) {
        std::string bytes = good;
        Poke32(bytes, at, value);
        return ReadFileVersionFromBytes(bytes);
    };
    PeOptions wrongSignature;
    wrongSignature.signature = 0xFEEF04BE;
    EXPECT_FALSE(ReadFileVersionFromBytes(PeBuilder(wrongSignature).Build()).has_value());
    EXPECT_FALSE(spoiled(PeBuilder::kPeOffsetField, 0xFFFFFFFFu).has_value());
    EXPECT_FALSE(spoiled(PeBuilder::kPeOffsetField, 0xFFFFFFF0u).has_value());
    // Entry counts that run far past the section: the entries that are
    // there are still found, and the search stops at the section's end.
    EXPECT_TRUE(spoiled(PeBuilder::kRootCounts, 0xFFFFFFFFu).has_value());
    std::string noVersion = good;
    Poke32(noVersion, PeBuilder::kRootCounts, 0xFFFFFFFFu);
    Poke32(noVersion, PeBuilder::kRootVersionId, 17);
    EXPECT_FALSE(ReadFileVersionFromBytes(noVersion).has_value());
    // A data entry where a directory belongs, and the other way round.
    EXPECT_FALSE(spoiled(PeBuilder::kLevel3Entry, 0x80000000u).has_value());
    EXPECT_FALSE(spoiled(PeBuilder::kLevel3Entry, 0x7FFFFFF0u).has_value());
    // The version block outside every section, or straddling its end.
    EXPECT_FALSE(spoiled(PeBuilder::kDataEntryRva, 0x10).has_value());
    EXPECT_FALSE(spoiled(PeBuilder::kDataEntryRva, 0xFFFFFFF0u).has_value());
    EXPECT_FALSE(spoiled(PeBuilder::kDataEntryRva, 0x3000 + 0x130).has_value());
    EXPECT_TRUE(spoiled(PeBuilder::kDataEntryRva, 0x3000 + 0x120).has_value());
}

TEST(FileVersion, AnyBytesGiveAVersionOrNone)
{
    const std::string good = PeBuilder(PeOptions{}).Build();
    // Cut at every length: the version block ends the file, so every cut
    // loses it.
    for (std::size_t n = 0; n < good.size(); ++n)
        ASSERT_FALSE(ReadFileVersionFromBytes(std::string_view(good).substr(0, n)).has_value()) << n;

    std::mt19937 random(12);
    // A few bytes changed anywhere: a version (maybe another one) or none.
    for (int round = 0; round < 4000; ++round) {
        std::string bytes = good;
        for (int k = 0; k < 1 + round % 4; ++k)
            bytes[random() % bytes.size()] = static_cast<char>(random());
        ReadFileVersionFromBytes(bytes);
    }
    // Plain garbage, with and without the magic numbers in front.
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 700, '\0');
        for (char &c : bytes)
            c = static_cast<char>(random());
        if (round % 3 == 1 && bytes.size() >= 2)
            bytes.replace(0, 2, "MZ");
        if (round % 3 == 2 && bytes.size() >= 4)
            bytes.replace(0, 4,
                          "\x7F"
                          "ELF");
        ReadFileVersionFromBytes(bytes);
    }
    TestDir dir("fileversion");
    EXPECT_FALSE(ReadFileVersion(dir.file("missing.ocx")).has_value());
    EXPECT_FALSE(ReadFileVersion(dir.path().string()).has_value());
    std::ofstream(dir.file("empty.dll")).close();
    EXPECT_FALSE(ReadFileVersion(dir.file("empty.dll")).has_value());
}

TEST(FileVersion, OurBuildStampsItsProgramsAndLibraries)
{
    std::optional<FileVersion> reg = ReadFileVersion(ProgramPath("reg.exe"));
    ASSERT_TRUE(reg.has_value());
    EXPECT_EQ(FormatFileVersion(*reg), VELMOR_PROJECT_VERSION);
    // Velmor.exe is not built for these tests alone; when it is there, it is
    // stamped the same way.
    if (std::filesystem::exists(ProgramPath("Velmor.exe"))) {
        std::optional<FileVersion> velmor = ReadFileVersion(ProgramPath("Velmor.exe"));
        ASSERT_TRUE(velmor.has_value());
        EXPECT_EQ(FormatFileVersion(*velmor), VELMOR_PROJECT_VERSION);
    }

    // A shared library given its own version, and one left without.
    std::optional<FileVersion> component = ReadFileVersion(TEST_COMPONENT_A);
    ASSERT_TRUE(component.has_value());
    EXPECT_EQ(FormatFileVersion(*component), "4.3.0.0");
    EXPECT_FALSE(ReadFileVersion(TEST_COMPONENT_B).has_value());

    // A stamped library cut anywhere gives its own version or none.
    const std::string bytes = Slurp(TEST_COMPONENT_A);
    ASSERT_FALSE(bytes.empty());
    for (std::size_t n = 0; n < bytes.size(); n += 1 + n / 64) {
        std::optional<FileVersion> v = ReadFileVersionFromBytes(std::string_view(bytes).substr(0, n));
        if (v) {
            ASSERT_EQ(FormatFileVersion(*v), "4.3.0.0") << n;
        }
    }
}
