#include "platform/FileVersion.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string_view>
#include <vector>

namespace platform {
namespace {

// Read access to a file's bytes at any offset. Every read is checked against
// the size, so offsets and counts taken from the file itself can never reach
// outside it, whatever they hold.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Exactly `count` bytes at `offset`, or false.
    virtual bool Read(std::uint64_t offset, void *out, std::size_t count) const = 0;

    bool Fits(std::uint64_t offset, std::uint64_t count) const
    {
        return offset <= Size() && count <= Size() - offset;
    }
    std::optional<std::uint16_t> U16(std::uint64_t offset, bool bigEndian = false) const
    {
        unsigned char b[2];
        if (!Read(offset, b, sizeof b))
            return std::nullopt;
        return static_cast<std::uint16_t>(bigEndian ? (b[0] << 8) | b[1] : (b[1] << 8) | b[0]);
    }
    std::optional<std::uint32_t> U32(std::uint64_t offset, bool bigEndian = false) const
    {
        unsigned char b[4];
        if (!Read(offset, b, sizeof b))
            return std::nullopt;
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(b[bigEndian ? 3 - i : i]) << (8 * i);
        return v;
    }
    std::optional<std::uint64_t> U64(std::uint64_t offset, bool bigEndian = false) const
    {
        std::optional<std::uint32_t> first = U32(offset, bigEndian);
        std::optional<std::uint32_t> second = U32(offset + 4, bigEndian);
        if (!first || !second)
            return std::nullopt;
        return bigEndian ? (std::uint64_t(*first) << 32) | *second : (std::uint64_t(*second) << 32) | *first;
    }
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string_view bytes) : m_bytes(bytes) {}
    std::uint64_t Size() const override { return m_bytes.size(); }
    bool Read(std::uint64_t offset, void *out, std::size_t count) const override
    {
        if (!Fits(offset, count))
            return false;
        std::memcpy(out, m_bytes.data() + offset, count);
        return true;
    }

private:
    std::string_view m_bytes;
};

class FileSource final : public ByteSource {
public:
    explicit FileSource(const std::string &path) : m_in(path, std::ios::binary)
    {
        if (m_in && m_in.seekg(0, std::ios::end)) {
            const std::streamoff end = m_in.tellg();
            m_size = end > 0 ? static_cast<std::uint64_t>(end) : 0;
        }
    }
    std::uint64_t Size() const override { return m_size; }
    bool Read(std::uint64_t offset, void *out, std::size_t count) const override
    {
        if (!Fits(offset, count))
            return false;
        m_in.clear();
        if (!m_in.seekg(static_cast<std::streamoff>(offset)))
            return false;
        return static_cast<bool>(m_in.read(static_cast<char *>(out), static_cast<std::streamsize>(count)));
    }

private:
    mutable std::ifstream m_in;
    std::uint64_t m_size = 0;
};

FileVersion FromFixedInfo(std::uint32_t ms, std::uint32_t ls)
{
    return {static_cast<std::uint16_t>(ms >> 16), static_cast<std::uint16_t>(ms & 0xFFFF),
            static_cast<std::uint16_t>(ls >> 16), static_cast<std::uint16_t>(ls & 0xFFFF)};
}

// ---- PE version resources -------------------------------------------------

constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kResourceDirectoryIndex = 2;

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t virtualSize;
    std::uint32_t rawSize;
    std::uint32_t rawOffset;
};

// Where an address of the loaded image lies in the file, if it lies in a
// section's raw data with `count` bytes after it. `available` receives how
// many bytes of that raw data the file holds from there on.
std::optional<std::uint64_t> RvaToOffset(const ByteSource &src, const std::vector<Section> &sections,
                                         std::uint32_t rva, std::uint32_t count,
                                         std::uint64_t *available = nullptr)
{
    for (const Section &s : sections) {
        const std::uint64_t extent = std::max(s.virtualSize, s.rawSize);
        if (rva < s.virtualAddress || rva - s.virtualAddress >= extent)
            continue;
        const std::uint64_t within = rva - s.virtualAddress;
        if (within + count > s.rawSize)
            return std::nullopt;
        const std::uint64_t offset = std::uint64_t(s.rawOffset) + within;
        if (!src.Fits(offset, count))
            return std::nullopt;
        if (available)
            *available = std::min<std::uint64_t>(s.rawSize - within, src.Size() - offset);
        return offset;
    }
    return std::nullopt;
}

// One entry of a resource directory: the entry with `id` (or the first entry
// when `id` is empty). Returns its OffsetToData field.
std::optional<std::uint32_t> FindResourceEntry(const ByteSource &src, std::uint64_t resourceBase,
                                               std::uint64_t resourceSize, std::uint32_t directory,
                                               std::optional<std::uint32_t> id)
{
    if (directory > resourceSize || resourceSize - directory < 16)
        return std::nullopt;
    const std::uint64_t at = resourceBase + directory;
    std::optional<std::uint16_t> named = src.U16(at + 12);
    std::optional<std::uint16_t> ids = src.U16(at + 14);
    if (!named || !ids)
        return std::nullopt;
    const std::uint32_t count = std::uint32_t(*named) + *ids;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t entry = 16 + std::uint64_t(directory) + 8ull * i;
        if (entry + 8 > resourceSize)
            return std::nullopt;
        std::optional<std::uint32_t> name = src.U32(resourceBase + entry);
        std::optional<std::uint32_t> data = src.U32(resourceBase + entry + 4);
        if (!name || !data)
            return std::nullopt;
        if (!id || (!(*name & 0x80000000u) && *name == *id))
            return *data;
    }
    return std::nullopt;
}

std::optional<FileVersion> ReadPeVersion(const ByteSource &src)
{
    std::optional<std::uint16_t> mz = src.U16(0);
    if (!mz || *mz != 0x5A4D) // "MZ"
        return std::nullopt;
    std::optional<std::uint32_t> peOffset = src.U32(0x3C);
    if (!peOffset)
        return std::nullopt;
    const std::uint64_t pe = *peOffset;
    std::optional<std::uint32_t> signature = src.U32(pe);
    if (!signature || *signature != 0x00004550) // "PE\0\0"
        return std::nullopt;
    std::optional<std::uint16_t> sectionCount = src.U16(pe + 6);
    std::optional<std::uint16_t> optionalSize = src.U16(pe + 20);
    if (!sectionCount || !optionalSize)
        return std::nullopt;
    const std::uint64_t optional = pe + 24;
    std::optional<std::uint16_t> magic = src.U16(optional);
    if (!magic)
        return std::nullopt;
    std::uint64_t countField = 0;
    std::uint64_t directories = 0;
    if (*magic == 0x10B) { // PE32
        countField = 92;
        directories = 96;
    } else if (*magic == 0x20B) { // PE32+
        countField = 108;
        directories = 112;
    } else {
        return std::nullopt;
    }
    std::optional<std::uint32_t> directoryCount = src.U32(optional + countField);
    if (!directoryCount || *directoryCount <= kResourceDirectoryIndex ||
        directories + 8ull * (kResourceDirectoryIndex + 1) > *optionalSize)
        return std::nullopt;
    std::optional<std::uint32_t> resourceRva = src.U32(optional + directories + 8 * kResourceDirectoryIndex);
    std::optional<std::uint32_t> resourceSize =
        src.U32(optional + directories + 8 * kResourceDirectoryIndex + 4);
    if (!resourceRva || !resourceSize || *resourceRva == 0 || *resourceSize < 16)
        return std::nullopt;

    std::vector<Section> sections;
    const std::uint64_t table = optional + *optionalSize;
    for (std::uint32_t i = 0; i < *sectionCount; ++i) {
        const std::uint64_t at = table + 40ull * i;
        std::optional<std::uint32_t> vsize = src.U32(at + 8);
        std::optional<std::uint32_t> va = src.U32(at + 12);
        std::optional<std::uint32_t> rawSize = src.U32(at + 16);
        std::optional<std::uint32_t> rawOffset = src.U32(at + 20);
        if (!vsize || !va || !rawSize || !rawOffset)
            return std::nullopt;
        sections.push_back({*va, *vsize, *rawSize, *rawOffset});
    }

    // The resource tree: type RT_VERSION, then the first name, then the first
    // language. Offsets inside the tree are relative to its start; the high
    // bit marks a subdirectory.
    std::uint64_t treeSize = 0;
    std::optional<std::uint64_t> base = RvaToOffset(src, sections, *resourceRva, 16, &treeSize);
    if (!base)
        return std::nullopt;
    // The tree may not run past its section's raw data.
    treeSize = std::min<std::uint64_t>(treeSize, *resourceSize);
    std::uint32_t node = 0;
    for (int level = 0; level < 3; ++level) {
        std::optional<std::uint32_t> entry = FindResourceEntry(
            src, *base, treeSize, node, level == 0 ? std::optional<std::uint32_t>(kRtVersion) : std::nullopt);
        if (!entry)
            return std::nullopt;
        const bool subdirectory = (*entry & 0x80000000u) != 0;
        if (subdirectory != (level < 2))
            return std::nullopt;
        node = *entry & 0x7FFFFFFFu;
    }
    // The data entry: the version block's address and size.
    if (node > treeSize || treeSize - node < 16)
        return std::nullopt;
    std::optional<std::uint32_t> dataRva = src.U32(*base + node);
    std::optional<std::uint32_t> dataSize = src.U32(*base + node + 4);
    if (!dataRva || !dataSize)
        return std::nullopt;

    // VS_VERSIONINFO: wLength, wValueLength, wType, L"VS_VERSION_INFO", padding
    // to a 32-bit boundary, then VS_FIXEDFILEINFO.
    constexpr std::uint32_t kKeyOffset = 6;
    constexpr char16_t kKey[] = u"VS_VERSION_INFO";
    constexpr std::uint32_t kKeyBytes = sizeof kKey; // with its terminating zero
    constexpr std::uint32_t kValueOffset = (kKeyOffset + kKeyBytes + 3) & ~3u;
    constexpr std::uint32_t kFixedInfoSize = 52;
    if (*dataSize < kValueOffset + kFixedInfoSize)
        return std::nullopt;
    std::optional<std::uint64_t> block = RvaToOffset(src, sections, *dataRva, kValueOffset + kFixedInfoSize);
    if (!block)
        return std::nullopt;
    std::optional<std::uint16_t> length = src.U16(*block);
    std::optional<std::uint16_t> valueLength = src.U16(*block + 2);
    if (!length || !valueLength || *length < kValueOffset + kFixedInfoSize || *valueLength < kFixedInfoSize)
        return std::nullopt;
    for (std::uint32_t i = 0; i < kKeyBytes / 2; ++i) {
        std::optional<std::uint16_t> c = src.U16(*block + kKeyOffset + 2 * i);
        if (!c || *c != kKey[i])
            return std::nullopt;
    }
    const std::uint64_t fixed = *block + kValueOffset;
    std::optional<std::uint32_t> fixedSignature = src.U32(fixed);
    std::optional<std::uint32_t> ms = src.U32(fixed + 8);
    std::optional<std::uint32_t> ls = src.U32(fixed + 12);
    if (!fixedSignature || *fixedSignature != kFixedFileInfoSignature || !ms || !ls)
        return std::nullopt;
    return FromFixedInfo(*ms, *ls);
}

// ---- The version note of our own ELF binaries ---------------------------

// cmake/VelmorVersion.cmake writes it: owner "Velmor", type 1, four 32-bit
// numbers in the file's byte order.
constexpr std::uint32_t kVelmorNoteType = 1;
constexpr std::uint64_t kMaxNoteBytes = 1 << 20;

struct Elf {
    bool is64 = false;
    bool bigEndian = false;
};

// Walks the notes of one note area [offset, offset + size).
std::optional<FileVersion> FindVelmorNote(const ByteSource &src, const Elf &elf, std::uint64_t offset,
                                          std::uint64_t size)
{
    if (!src.Fits(offset, size))
        return std::nullopt;
    size = std::min(size, kMaxNoteBytes);
    std::uint64_t at = 0;
    while (size - at >= 12) {
        std::optional<std::uint32_t> nameSize = src.U32(offset + at, elf.bigEndian);
        std::optional<std::uint32_t> descSize = src.U32(offset + at + 4, elf.bigEndian);
        std::optional<std::uint32_t> type = src.U32(offset + at + 8, elf.bigEndian);
        if (!nameSize || !descSize || !type)
            return std::nullopt;
        const std::uint64_t namePadded = (std::uint64_t(*nameSize) + 3) & ~3ull;
        const std::uint64_t descPadded = (std::uint64_t(*descSize) + 3) & ~3ull;
        const std::uint64_t name = at + 12;
        const std::uint64_t desc = name + namePadded;
        if (desc > size || descPadded > size - desc)
            return std::nullopt;
        if (*nameSize == 7 && *type == kVelmorNoteType && *descSize == 16) {
            char owner[7];
            if (src.Read(offset + name, owner, sizeof owner) && std::memcmp(owner, "Velmor", 7) == 0) {
                FileVersion version{};
                for (int i = 0; i < 4; ++i) {
                    std::optional<std::uint32_t> part = src.U32(offset + desc + 4 * i, elf.bigEndian);
                    if (!part || *part > 0xFFFF)
                        return std::nullopt;
                    version[i] = static_cast<std::uint16_t>(*part);
                }
                return version;
            }
        }
        at = desc + descPadded;
    }
    return std::nullopt;
}

std::optional<FileVersion> ReadElfVersion(const ByteSource &src)
{
    unsigned char ident[16];
    if (!src.Read(0, ident, sizeof ident) || std::memcmp(ident,
                                                         "\x7F"
                                                         "ELF",
                                                         4) != 0)
        return std::nullopt;
    Elf elf;
    if (ident[4] == 1)
        elf.is64 = false;
    else if (ident[4] == 2)
        elf.is64 = true;
    else
        return std::nullopt;
    if (ident[5] == 1)
        elf.bigEndian = false;
    else if (ident[5] == 2)
        elf.bigEndian = true;
    else
        return std::nullopt;
    const bool be = elf.bigEndian;
    auto word = [&](std::uint64_t at) -> std::optional<std::uint64_t> {
        if (elf.is64)
            return src.U64(at, be);
        std::optional<std::uint32_t> v = src.U32(at, be);
        return v ? std::optional<std::uint64_t>(*v) : std::nullopt;
    };

    // Sections of type SHT_NOTE first (they survive strip), then the PT_NOTE
    // segments of a file whose section table is gone.
    std::optional<std::uint64_t> shoff = word(elf.is64 ? 0x28 : 0x20);
    std::optional<std::uint16_t> shentsize = src.U16(elf.is64 ? 0x3A : 0x2E, be);
    std::optional<std::uint16_t> shnum = src.U16(elf.is64 ? 0x3C : 0x30, be);
    if (shoff && shentsize && shnum && *shoff != 0 && *shentsize >= (elf.is64 ? 64 : 40)) {
        for (std::uint32_t i = 0; i < *shnum; ++i) {
            const std::uint64_t at = *shoff + std::uint64_t(*shentsize) * i;
            std::optional<std::uint32_t> type = src.U32(at + 4, be);
            if (!type)
                break;
            if (*type != 7) // SHT_NOTE
                continue;
            std::optional<std::uint64_t> offset = word(at + (elf.is64 ? 0x18 : 0x10));
            std::optional<std::uint64_t> size = word(at + (elf.is64 ? 0x20 : 0x14));
            if (offset && size)
                if (std::optional<FileVersion> v = FindVelmorNote(src, elf, *offset, *size))
                    return v;
        }
    }
    std::optional<std::uint64_t> phoff = word(elf.is64 ? 0x20 : 0x1C);
    std::optional<std::uint16_t> phentsize = src.U16(elf.is64 ? 0x36 : 0x2A, be);
    std::optional<std::uint16_t> phnum = src.U16(elf.is64 ? 0x38 : 0x2C, be);
    if (phoff && phentsize && phnum && *phoff != 0 && *phentsize >= (elf.is64 ? 56 : 32)) {
        for (std::uint32_t i = 0; i < *phnum; ++i) {
            const std::uint64_t at = *phoff + std::uint64_t(*phentsize) * i;
            std::optional<std::uint32_t> type = src.U32(at, be);
            if (!type)
                break;
            if (*type != 4) // PT_NOTE
                continue;
            std::optional<std::uint64_t> offset = word(at + (elf.is64 ? 0x08 : 0x04));
            std::optional<std::uint64_t> size = word(at + (elf.is64 ? 0x20 : 0x10));
            if (offset && size)
                if (std::optional<FileVersion> v = FindVelmorNote(src, elf, *offset, *size))
                    return v;
        }
    }
    return std::nullopt;
}

std::optional<FileVersion> ReadVersion(const ByteSource &src)
{
    if (std::optional<FileVersion> v = ReadPeVersion(src))
        return v;
    return ReadElfVersion(src);
}

} // namespace

std::optional<FileVersion> ReadFileVersion(const std::string &path)
{
    FileSource file(path);
    return ReadVersion(file);
}

std::optional<FileVersion> ReadFileVersionFromBytes(std::string_view bytes)
{
    MemorySource memory(bytes);
    return ReadVersion(memory);
}

std::string FormatFileVersion(const FileVersion &version)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", version[0], version[1], version[2], version[3]);
    return text;
}

} // namespace platform
