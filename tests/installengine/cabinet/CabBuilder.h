#pragma once
// Writes cabinets byte by byte for the tests: stored (uncompressed) folders,
// any stored names, attributes and DOS times, and the header fields that
// chain the cabinets of a set, so names and sets that no cabinet maker would
// produce can be tried.
#include <cstdint>
#include <string>
#include <vector>

class CabBuilder {
public:
    // Folder indexes of a file whose data runs across cabinets.
    static constexpr std::uint16_t kContinuedFromPrev = 0xFFFD;
    static constexpr std::uint16_t kContinuedToNext = 0xFFFE;

    struct Block {
        std::string bytes;
        std::uint16_t uncompressed = 0; // 0: the block goes on in the next cabinet
    };
    struct Folder {
        std::uint16_t compression = 0; // 0 stored, 1 MSZIP, 2 Quantum, 3 LZX
        std::vector<Block> blocks;
    };
    struct File {
        std::string name; // stored bytes, as they are
        std::uint32_t size = 0;
        std::uint32_t offset = 0; // in its folder's uncompressed data
        std::uint16_t folder = 0;
        std::uint16_t date = DosDate(2001, 2, 3);
        std::uint16_t time = DosTime(4, 5, 6);
        std::uint16_t attributes = 0x20;
    };

    std::uint16_t setId = 0x1234;
    std::uint16_t index = 0;
    std::string prevName, prevDisk, nextName, nextDisk;
    std::vector<Folder> folders;
    std::vector<File> files;

    static std::uint16_t DosDate(int year, int month, int day)
    {
        return static_cast<std::uint16_t>((year - 1980) << 9 | month << 5 | day);
    }
    static std::uint16_t DosTime(int hour, int minute, int second)
    {
        return static_cast<std::uint16_t>(hour << 11 | minute << 5 | second / 2);
    }

    // A folder of stored data holding the files in order; returns its index.
    std::uint16_t AddStoredFolder(const std::vector<std::pair<std::string, std::string>> &namedData,
                                  std::uint16_t attributes = 0x20)
    {
        const auto folder = static_cast<std::uint16_t>(folders.size());
        std::string data;
        for (const auto &[name, bytes] : namedData) {
            File file;
            file.name = name;
            file.size = static_cast<std::uint32_t>(bytes.size());
            file.offset = static_cast<std::uint32_t>(data.size());
            file.folder = folder;
            file.attributes = attributes;
            files.push_back(file);
            data += bytes;
        }
        Folder stored;
        for (std::size_t at = 0; at < data.size(); at += 32768) {
            const std::string piece = data.substr(at, 32768);
            stored.blocks.push_back({piece, static_cast<std::uint16_t>(piece.size())});
        }
        folders.push_back(stored);
        return folder;
    }

    // A cabinet of one stored folder.
    static std::string Stored(const std::vector<std::pair<std::string, std::string>> &namedData)
    {
        CabBuilder cab;
        cab.AddStoredFolder(namedData);
        return cab.Build();
    }

    std::string Build() const
    {
        std::uint16_t flags = 0;
        if (!prevName.empty())
            flags |= 0x1;
        if (!nextName.empty())
            flags |= 0x2;
        std::string names;
        if (flags & 0x1)
            names += prevName + '\0' + prevDisk + '\0';
        if (flags & 0x2)
            names += nextName + '\0' + nextDisk + '\0';
        const std::size_t headerBytes = 36 + names.size();
        const std::size_t folderBytes = 8 * folders.size();
        std::size_t fileBytes = 0;
        for (const File &f : files)
            fileBytes += 16 + f.name.size() + 1;
        std::size_t dataAt = headerBytes + folderBytes + fileBytes;

        std::string folderTable, dataArea;
        for (const Folder &folder : folders) {
            Put32(folderTable, static_cast<std::uint32_t>(dataAt + dataArea.size()));
            Put16(folderTable, static_cast<std::uint16_t>(folder.blocks.size()));
            Put16(folderTable, folder.compression);
            for (const Block &block : folder.blocks) {
                Put32(dataArea, 0); // no checksum
                Put16(dataArea, static_cast<std::uint16_t>(block.bytes.size()));
                Put16(dataArea, block.uncompressed);
                dataArea += block.bytes;
            }
        }
        std::string fileTable;
        for (const File &f : files) {
            Put32(fileTable, f.size);
            Put32(fileTable, f.offset);
            Put16(fileTable, f.folder);
            Put16(fileTable, f.date);
            Put16(fileTable, f.time);
            Put16(fileTable, f.attributes);
            fileTable += f.name;
            fileTable += '\0';
        }
        std::string cab = "MSCF";
        Put32(cab, 0);
        Put32(cab, static_cast<std::uint32_t>(dataAt + dataArea.size()));
        Put32(cab, 0);
        Put32(cab, static_cast<std::uint32_t>(headerBytes + folderBytes));
        Put32(cab, 0);
        cab += '\x03';
        cab += '\x01';
        Put16(cab, static_cast<std::uint16_t>(folders.size()));
        Put16(cab, static_cast<std::uint16_t>(files.size()));
        Put16(cab, flags);
        Put16(cab, setId);
        Put16(cab, index);
        return cab + names + folderTable + fileTable + dataArea;
    }

private:
    static void Put16(std::string &out, std::uint16_t v)
    {
        out += static_cast<char>(v & 0xFF);
        out += static_cast<char>(v >> 8);
    }
    static void Put32(std::string &out, std::uint32_t v)
    {
        Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
        Put16(out, static_cast<std::uint16_t>(v >> 16));
    }
};
