#pragma once
// The cabinet extractor: unpacks every file of a Microsoft cabinet ("MSCF";
// stored, MSZIP, Quantum and LZX folders), and of the cabinets that continue
// its set, into a destination folder. libmspack decodes; this class gives it
// its file and memory operations through the seven callbacks below and
// reports what happens through the notifications, which a derived class may
// override (CCabFileExtractor takes a single named file that way).
//
// One extractor is used by one thread at a time; separate extractors may run
// on separate threads at once.
#include "platform/Win32Types.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct mscab_decompressor;
struct mscabd_cabinet;
struct mscabd_file;

// Error codes of the error record, in the numbering of the cabinet
// decompression interface.
enum FDIERROR : int {
    FDIERROR_NONE = 0,
    FDIERROR_CABINET_NOT_FOUND = 1, // a cabinet of the set cannot be found or opened
    FDIERROR_NOT_A_CABINET = 2,     // no cabinet signature
    FDIERROR_CORRUPT_CABINET = 4,   // headers or data damaged or cut short
    FDIERROR_ALLOC_FAIL = 5,        // out of memory, or no decoder
    FDIERROR_BAD_COMPR_TYPE = 6,    // a folder uses an unknown compression method
    FDIERROR_MDI_FAIL = 7,          // compressed data that does not decode
    FDIERROR_TARGET_FILE = 8,       // a file cannot be written where it belongs
    FDIERROR_WRONG_CABINET = 10,    // the next cabinet belongs to another set
    FDIERROR_USER_ABORT = 11,       // a notification refused
};

// The error record of the last extraction.
struct ERF {
    int erfOper = FDIERROR_NONE; // FDIERROR code
    int erfType = 0;             // errno of the failed file operation, 0 when there is none
    BOOL fError = 0;             // 1 when the extraction failed
};

class CCabExtractor {
public:
    // C-runtime style open flags and permissions that Open takes.
    static constexpr int CRT_O_RDONLY = 0x0000;
    static constexpr int CRT_O_WRONLY = 0x0001;
    static constexpr int CRT_O_RDWR = 0x0002;
    static constexpr int CRT_O_APPEND = 0x0008;
    static constexpr int CRT_O_RANDOM = 0x0010;
    static constexpr int CRT_O_SEQUENTIAL = 0x0020;
    static constexpr int CRT_O_TEMPORARY = 0x0040;
    static constexpr int CRT_O_CREAT = 0x0100;
    static constexpr int CRT_O_TRUNC = 0x0200;
    static constexpr int CRT_O_EXCL = 0x0400;
    static constexpr int CRT_O_SHORT_LIVED = 0x1000;
    static constexpr int CRT_O_TEXT = 0x4000;
    static constexpr int CRT_O_BINARY = 0x8000;
    static constexpr int CRT_S_IREAD = 0x0100;
    static constexpr int CRT_S_IWRITE = 0x0080;

    // File attributes as a cabinet stores them.
    static constexpr unsigned CAB_ATTRIB_READONLY = 0x01;
    static constexpr unsigned CAB_ATTRIB_HIDDEN = 0x02;
    static constexpr unsigned CAB_ATTRIB_SYSTEM = 0x04;
    static constexpr unsigned CAB_ATTRIB_ARCHIVE = 0x20;
    static constexpr unsigned CAB_ATTRIB_NAME_IS_UTF = 0x80;

    // Creates the decoder. When that fails, HasDecoder() is false and every
    // extraction fails at once.
    CCabExtractor();
    virtual ~CCabExtractor();
    CCabExtractor(const CCabExtractor &) = delete;
    CCabExtractor &operator=(const CCabExtractor &) = delete;

    // Where files go, kept with a trailing "/". Initially the temporary
    // folder; an empty folder means the current one. Missing levels are
    // created when the first file is written.
    void SetDestination(const std::string &folder);
    const std::string &GetDestination() const { return m_strDestination; }

    // Extracts every file of the cabinet at `cabinetPath`, and of the
    // cabinets that continue its set (looked for in the same folder, without
    // regard to letter case), into the destination. `flag` is accepted in the
    // callers' form and changes nothing. Returns 1 when every file was
    // extracted and 0 otherwise; GetError() tells why. Files extracted before
    // a failure stay; a file that failed leaves nothing behind.
    BOOL Extract(const std::string &cabinetPath, int flag);

    const ERF &GetError() const { return m_erf; }
    bool HasDecoder() const;

    // Memory for the decoder: malloc and free. Both run for the decoder's own
    // record while this class is being built and destroyed, so overrides must
    // stay compatible with malloc and free.
    virtual void *Alloc(std::size_t bytes);
    virtual void Free(void *memory);

    // File operations for the decoder, on file descriptors, with C-runtime
    // flags (CRT_O_*, CRT_S_*) and error numbers left in errno: 2 not found,
    // 24 too many open files, 13 access denied, 17 exists, 22 invalid, 9 bad
    // handle, 28 disk full. Read and Write return the byte count or
    // 0xFFFFFFFF; Open, Close and Seek return -1 on failure.
    virtual std::intptr_t Open(const char *path, int oflag, int pmode);
    virtual unsigned Read(std::intptr_t hf, void *buffer, unsigned bytes);
    virtual unsigned Write(std::intptr_t hf, const void *buffer, unsigned bytes);
    virtual int Close(std::intptr_t hf);
    virtual std::int64_t Seek(std::intptr_t hf, std::int64_t offset, int origin);

    // The stored name of a file made a relative path with "/" separators, or
    // false when it would lead outside the folder it is extracted into (an
    // absolute name, a drive letter, a ".." component) or is empty. "\" and
    // "/" both separate folders.
    static bool RelativeName(const std::string &stored, std::string &relative);

protected:
    // Notifications, in the order the extraction raises them. Names are the
    // names stored in the cabinet, in UTF-8. Returning false refuses, which
    // ends the extraction with FDIERROR_USER_ABORT.

    // A cabinet of the set was opened. `nextCabinet` is empty for the last.
    virtual bool OnCabinetInfo(const std::string &nextCabinet, const std::string &nextDisk,
                               const std::string &cabinetFolder, unsigned setId, unsigned index);
    // A file of the first cabinet that began in an earlier cabinet of the
    // set; it is passed over.
    virtual bool OnPartialFile(const std::string &name, const std::string &firstCabinet,
                               const std::string &firstDisk);
    // Where to write a file; an empty path passes over it. The default is the
    // destination folder followed by the stored name.
    virtual std::string OnCopyFile(const std::string &name, std::uint32_t bytes);
    // A file was written completely; its time and attributes come next.
    virtual bool OnCloseFileInfo(const std::string &name, std::uint16_t dosDate, std::uint16_t dosTime,
                                 std::uint16_t attributes);
    // A file is in place at `path`.
    virtual bool OnFileExtracted(const std::string &name, const std::string &path);
    // Every file of one folder of the set has been handled.
    virtual bool OnEnumerate();
    // The set continues in `name`, looked for in `folder`, which the
    // notification may change. `error` is 0 before the first look and the
    // FDIERROR of a failed look; after a failed look that is accepted, the
    // cabinet is looked for once more.
    virtual bool OnNextCabinet(const std::string &name, const std::string &disk, std::string &folder,
                               int error);

    // The file being written, for the notifications.
    const std::string &GetWritingPath() const { return m_strWritingPath; }
    // Marks the extraction failed, for derived classes with checks of their own.
    void SetError(int oper, int type);

private:
    struct Bridge;
    class CabinetSet;

    bool Run(const std::string &cabinetPath);
    bool NoteCabinet(const mscabd_cabinet *cab);
    int AttachSuccessor(CabinetSet &set, mscabd_cabinet *last, int &type);
    int OpenSuccessor(CabinetSet &set, mscabd_cabinet *last, const std::string &folder, int &type);
    int MapOpenError(int mspackError, const std::string &path);
    bool StartsWithSignature(const std::string &path);
    bool ExtractFiles(mscabd_cabinet *first, const ERF &setError);
    bool IsPartialFile(mscabd_file *file);
    bool ExtractOne(mscabd_file *file, const std::string &name, const std::string &target);
    int MapExtractError(int mspackError, const mscabd_file *file) const;
    bool Fail(int oper, int type);

    std::unique_ptr<Bridge> m_bridge;
    ERF m_erf;
    std::string m_strDestination;

    std::string m_strCabPath; // folder of the current cabinet, with its trailing "/"
    std::string m_strCabName;
    std::string m_strNextCabPath;
    std::string m_strNextCabName;
    std::string m_strNextDisk;
    unsigned m_setId = 0;
    unsigned m_iCabinet = 0;
    bool m_bLastCabinet = false;
    std::string m_strWritingPath;

    // What the decoder's file operations saw during one file's extraction.
    const char *m_pOutputName = nullptr; // the temporary file being written
    bool m_bOutputTried = false;
    bool m_bOutputOpened = false;
    int m_outputErrno = 0;
    int m_inputErrno = 0;
    bool m_bProbe = false;        // asking whether a file can be decoded at all
    bool m_bProbeReached = false; // the decoder got as far as opening the output
};
