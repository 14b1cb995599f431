#include "CCabExtractor.h"

#include "CabLog.h"
#include "MspackHolders.h"
#include "platform/CodePage.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <new>

namespace fs = std::filesystem;

// The error numbers the file operations leave in errno are the C runtime's;
// on this system they have the same values.
static_assert(ENOENT == 2 && EMFILE == 24 && EACCES == 13 && EEXIST == 17 && EINVAL == 22 && EBADF == 9 &&
              ENOSPC == 28);

namespace {

// The decoders' input buffer and the copy buffer of stored folders. The
// default (4 KiB) costs a system call per 4 KiB written for stored files.
constexpr int kDecodeBufferBytes = 64 * 1024;
constexpr unsigned kReadFailed = 0xFFFFFFFFu;
// Longest folder a next-cabinet notification may give back.
constexpr std::size_t kMaxCabinetFolder = 260;
// The attributes that carry over to extracted files.
constexpr unsigned kKeptAttributes = 0x27;

// The extractor whose construction, extraction or destruction runs on this
// thread. The decoder asks for memory and opens files with copies of its
// operation table, so these two calls find their extractor here.
thread_local CCabExtractor *t_current = nullptr;

class CurrentExtractor {
public:
    explicit CurrentExtractor(CCabExtractor *extractor) : m_previous(t_current) { t_current = extractor; }
    ~CurrentExtractor() { t_current = m_previous; }
    CurrentExtractor(const CurrentExtractor &) = delete;
    CurrentExtractor &operator=(const CurrentExtractor &) = delete;

private:
    CCabExtractor *m_previous;
};

// Every block handed to the decoder starts with the extractor that made it,
// so the release, which the decoder calls without any context, reaches it.
struct alignas(std::max_align_t) BlockHeader {
    CCabExtractor *owner;
};

// errno of a failed open in the C runtime's terms.
int MapOpenErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ENOENT;
    case EMFILE:
    case ENFILE:
        return EMFILE;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EBUSY:
    case EISDIR:
        return EACCES;
    case EEXIST:
        return EEXIST;
    case EINVAL:
        return EINVAL;
    default:
        return error;
    }
}

bool ValidDescriptor(std::intptr_t hf)
{
    return hf >= 0 && hf <= INT_MAX;
}

std::string FolderOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name the cabinet stores: UTF-8 when flagged so, CP949 otherwise.
std::string StoredName(const mscabd_file *file)
{
    if (file->attribs & CCabExtractor::CAB_ATTRIB_NAME_IS_UTF)
        return file->filename;
    return platform::AnsiToUtf8(file->filename);
}

std::string CabinetText(const char *text)
{
    return text ? platform::AnsiToUtf8(text) : std::string();
}

// The regular file `name` in `folder`, matched without regard to letter case
// as the cabinet's own system would; empty when there is none. Only a bare
// file name is looked for: a set never continues in another folder.
std::string FindCabinetFile(const std::string &folder, const std::string &name)
{
    if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos)
        return {};
    struct stat st {};
    const std::string exact = folder + name;
    if (::stat(exact.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return exact;
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec), end;
         !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (::strcasecmp(entry.c_str(), name.c_str()) != 0)
            continue;
        const std::string found = folder + entry;
        if (::stat(found.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return found;
    }
    return {};
}

// The DOS date and time a cabinet stores, read as local time.
std::time_t DosToLocalTime(std::uint16_t dosDate, std::uint16_t dosTime)
{
    std::tm local{};
    local.tm_sec = (dosTime & 0x1F) * 2;
    local.tm_min = (dosTime >> 5) & 0x3F;
    local.tm_hour = dosTime >> 11;
    local.tm_mday = dosDate & 0x1F;
    local.tm_mon = ((dosDate >> 5) & 0x0F) - 1;
    local.tm_year = (dosDate >> 9) + 80;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

// Removes a temporary file unless it was put in place.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile() { Remove(); }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;
    void Own(const std::string &path)
    {
        m_path = path;
        m_owned = true;
    }
    void Release() { m_owned = false; }
    void Remove()
    {
        if (m_owned)
            ::unlink(m_path.c_str());
        m_owned = false;
    }

private:
    std::string m_path;
    bool m_owned = false;
};

} // namespace

// libmspack's operation table and the decoder built on it. Its functions turn
// the decoder's calls into the extractor's callbacks; none lets an exception
// through.
struct CCabExtractor::Bridge {
    mspack_system system{};
    MscabDecompressorPtr decoder;

    // What the decoder holds for an open file.
    struct File {
        CCabExtractor *owner;
        std::intptr_t handle;
    };

    static File *FileOf(mspack_file *file) { return reinterpret_cast<File *>(file); }

    static mspack_file *OpenFile(mspack_system *, const char *name, int mode);
    static void CloseFile(mspack_file *file);
    static int ReadFile(mspack_file *file, void *buffer, int bytes);
    static int WriteFile(mspack_file *file, void *buffer, int bytes);
    static int SeekFile(mspack_file *file, off_t offset, int mode);
    static off_t TellFile(mspack_file *file);
    static void Message(mspack_file *file, const char *format, ...) __attribute__((format(printf, 2, 3)));
    static void *AllocMemory(mspack_system *, std::size_t bytes);
    static void FreeMemory(void *memory);
    static void CopyMemory(void *source, void *target, std::size_t bytes);

    Bridge()
    {
        system.open = &OpenFile;
        system.close = &CloseFile;
        system.read = &ReadFile;
        system.write = &WriteFile;
        system.seek = &SeekFile;
        system.tell = &TellFile;
        system.message = &Message;
        system.alloc = &AllocMemory;
        system.free = &FreeMemory;
        system.copy = &CopyMemory;
        system.null_ptr = nullptr;
    }

    // A fresh decoder; the old one, with whatever it still holds, goes.
    void Renew()
    {
        decoder.reset();
        decoder.reset(mspack_create_cab_decompressor(&system));
        if (decoder)
            decoder->set_param(decoder.get(), MSCABD_PARAM_DECOMPBUF, kDecodeBufferBytes);
    }
};

mspack_file *CCabExtractor::Bridge::OpenFile(mspack_system *, const char *name, int mode)
{
    CCabExtractor *owner = t_current;
    if (!owner || !name)
        return nullptr;
    if (mode == MSPACK_SYS_OPEN_WRITE && owner->m_bProbe) {
        owner->m_bProbeReached = true;
        return nullptr;
    }
    // The file being extracted gets a fresh name of its own, so it is
    // created exclusively and never follows a link planted under that name.
    const bool output = mode == MSPACK_SYS_OPEN_WRITE && name == owner->m_pOutputName;
    int oflag = 0;
    switch (mode) {
    case MSPACK_SYS_OPEN_READ:
        oflag = CRT_O_RDONLY | CRT_O_SEQUENTIAL | CRT_O_BINARY;
        break;
    case MSPACK_SYS_OPEN_WRITE:
        oflag = CRT_O_WRONLY | CRT_O_CREAT | (output ? CRT_O_EXCL : CRT_O_TRUNC) | CRT_O_SEQUENTIAL |
                CRT_O_BINARY;
        break;
    case MSPACK_SYS_OPEN_UPDATE:
        oflag = CRT_O_RDWR | CRT_O_BINARY;
        break;
    case MSPACK_SYS_OPEN_APPEND:
        oflag = CRT_O_WRONLY | CRT_O_CREAT | CRT_O_APPEND | CRT_O_BINARY;
        break;
    default:
        return nullptr;
    }
    try {
        if (output)
            owner->m_bOutputTried = true;
        errno = 0;
        const std::intptr_t hf = owner->Open(name, oflag, CRT_S_IREAD | CRT_S_IWRITE);
        if (hf == -1) {
            (output ? owner->m_outputErrno : owner->m_inputErrno) = errno;
            return nullptr;
        }
        if (output)
            owner->m_bOutputOpened = true;
        File *file = new (std::nothrow) File{owner, hf};
        if (!file)
            owner->Close(hf);
        return reinterpret_cast<mspack_file *>(file);
    } catch (...) {
        return nullptr;
    }
}

void CCabExtractor::Bridge::CloseFile(mspack_file *file)
{
    File *open = FileOf(file);
    if (!open)
        return;
    try {
        open->owner->Close(open->handle);
    } catch (...) {
    }
    delete open;
}

int CCabExtractor::Bridge::ReadFile(mspack_file *file, void *buffer, int bytes)
{
    File *open = FileOf(file);
    if (!open || bytes < 0)
        return -1;
    try {
        const unsigned got = open->owner->Read(open->handle, buffer, static_cast<unsigned>(bytes));
        if (got == kReadFailed) {
            open->owner->m_inputErrno = errno;
            return -1;
        }
        return static_cast<int>(got);
    } catch (...) {
        return -1;
    }
}

int CCabExtractor::Bridge::WriteFile(mspack_file *file, void *buffer, int bytes)
{
    File *open = FileOf(file);
    if (!open || bytes < 0)
        return -1;
    try {
        const unsigned put = open->owner->Write(open->handle, buffer, static_cast<unsigned>(bytes));
        if (put == kReadFailed) {
            open->owner->m_outputErrno = errno;
            return -1;
        }
        return static_cast<int>(put);
    } catch (...) {
        return -1;
    }
}

int CCabExtractor::Bridge::SeekFile(mspack_file *file, off_t offset, int mode)
{
    File *open = FileOf(file);
    if (!open)
        return -1;
    try {
        return open->owner->Seek(open->handle, offset, mode) == -1 ? -1 : 0;
    } catch (...) {
        return -1;
    }
}

off_t CCabExtractor::Bridge::TellFile(mspack_file *file)
{
    File *open = FileOf(file);
    if (!open)
        return -1;
    try {
        return static_cast<off_t>(open->owner->Seek(open->handle, 0, SEEK_CUR));
    } catch (...) {
        return -1;
    }
}

void CCabExtractor::Bridge::Message(mspack_file *, const char *format, ...)
{
    // The decoder passes its own records as the file at times, so the file
    // is never looked at. Messages of a probe are expected refusals.
    if (t_current && t_current->m_bProbe)
        return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    CABLOG("Decoder: %s\n", text);
}

void *CCabExtractor::Bridge::AllocMemory(mspack_system *, std::size_t bytes)
{
    if (bytes > SIZE_MAX - sizeof(BlockHeader))
        return nullptr;
    CCabExtractor *owner = t_current;
    void *block = nullptr;
    try {
        block = owner ? owner->Alloc(sizeof(BlockHeader) + bytes) : std::malloc(sizeof(BlockHeader) + bytes);
    } catch (...) {
        block = nullptr;
    }
    if (!block)
        return nullptr;
    BlockHeader *header = new (block) BlockHeader{owner};
    return header + 1;
}

void CCabExtractor::Bridge::FreeMemory(void *memory)
{
    if (!memory)
        return;
    BlockHeader *header = static_cast<BlockHeader *>(memory) - 1;
    CCabExtractor *owner = header->owner;
    try {
        if (owner)
            owner->Free(header);
        else
            std::free(header);
    } catch (...) {
    }
}

void CCabExtractor::Bridge::CopyMemory(void *source, void *target, std::size_t bytes)
{
    std::memcpy(target, source, bytes);
}

// The cabinets of one extraction, joined into a set as they are found. The
// decoder keeps pointing at each cabinet's path until the set is closed.
class CCabExtractor::CabinetSet {
public:
    explicit CabinetSet(mscab_decompressor *decoder) : m_decoder(decoder) {}
    ~CabinetSet()
    {
        if (m_first)
            m_decoder->close(m_decoder, m_first);
    }
    CabinetSet(const CabinetSet &) = delete;
    CabinetSet &operator=(const CabinetSet &) = delete;

    MscabCabinetPtr Open(const std::string &path)
    {
        m_paths.push_back(path);
        return MscabCabinetPtr(m_decoder->open(m_decoder, m_paths.back().c_str()),
                               MscabCabinetCloser{m_decoder});
    }
    // The set takes the first cabinet; the ones joined to it go with it.
    void SetFirst(MscabCabinetPtr first) { m_first = first.release(); }

private:
    mscab_decompressor *m_decoder;
    std::deque<std::string> m_paths;
    mscabd_cabinet *m_first = nullptr;
};

CCabExtractor::CCabExtractor() : m_bridge(std::make_unique<Bridge>())
{
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    SetDestination(ec ? std::string("/tmp") : temp.string());

    int selfTest = MSPACK_ERR_OK;
    MSPACK_SYS_SELFTEST(selfTest);
    if (selfTest != MSPACK_ERR_OK) {
        CABLOG("The cabinet decoder does not match this program (self test %d).\n", selfTest);
        return;
    }
    CurrentExtractor current(this);
    m_bridge->Renew();
    if (!m_bridge->decoder)
        CABLOG("The cabinet decoder could not be created.\n");
}

CCabExtractor::~CCabExtractor()
{
    CurrentExtractor current(this);
    m_bridge->decoder.reset();
}

bool CCabExtractor::HasDecoder() const
{
    return m_bridge && m_bridge->decoder;
}

void CCabExtractor::SetDestination(const std::string &folder)
{
    m_strDestination = folder.empty() ? std::string("./") : folder;
    if (m_strDestination.back() != '/')
        m_strDestination += '/';
}

void CCabExtractor::SetError(int oper, int type)
{
    Fail(oper, type);
}

bool CCabExtractor::Fail(int oper, int type)
{
    m_erf.erfOper = oper;
    m_erf.erfType = type;
    m_erf.fError = 1;
    return false;
}

BOOL CCabExtractor::Extract(const std::string &cabinetPath, int /*flag*/)
{
    m_erf = ERF{};
    m_strCabPath.clear();
    m_strCabName.clear();
    m_strNextCabPath.clear();
    m_strNextCabName.clear();
    m_strNextDisk.clear();
    m_bLastCabinet = false;
    m_strWritingPath.clear();
    if (!HasDecoder()) {
        Fail(FDIERROR_ALLOC_FAIL, 0);
        return 0;
    }

    CurrentExtractor current(this);
    bool ok = false;
    try {
        ok = Run(cabinetPath);
    } catch (const std::bad_alloc &) {
        ok = Fail(FDIERROR_ALLOC_FAIL, ENOMEM);
    } catch (...) {
        ok = Fail(FDIERROR_USER_ABORT, 0);
    }
    if (!ok) {
        CABLOG("Extraction of %s failed (error %d, errno %d).\n", cabinetPath.c_str(), m_erf.erfOper,
               m_erf.erfType);
        // After some failures the decoder still holds an input file and its
        // state; the next extraction starts with a clean one.
        try {
            m_bridge->Renew();
        } catch (...) {
        }
    }
    return ok ? 1 : 0;
}

bool CCabExtractor::Run(const std::string &cabinetPath)
{
    mscab_decompressor *decoder = m_bridge->decoder.get();
    m_strCabPath = FolderOf(cabinetPath);
    m_strCabName = NameOf(cabinetPath);

    CabinetSet set(decoder);
    m_inputErrno = 0;
    MscabCabinetPtr first = set.Open(cabinetPath);
    if (!first)
        return Fail(MapOpenError(decoder->last_error(decoder), cabinetPath), m_inputErrno);
    mscabd_cabinet *cab = first.get();
    set.SetFirst(std::move(first));
    m_setId = cab->set_id;
    if (!NoteCabinet(cab))
        return Fail(FDIERROR_USER_ABORT, 0);

    // Join the cabinets the set continues in. When one cannot be joined, the
    // files that are whole without it are still extracted, then the
    // extraction fails with the reason.
    ERF setError;
    for (mscabd_cabinet *last = cab; !m_bLastCabinet; last = last->nextcab) {
        setError.erfOper = AttachSuccessor(set, last, setError.erfType);
        if (setError.erfOper != FDIERROR_NONE)
            break;
    }
    return ExtractFiles(cab, setError);
}

bool CCabExtractor::NoteCabinet(const mscabd_cabinet *cab)
{
    const bool hasNext = (cab->flags & MSCAB_HDR_NEXTCAB) && cab->nextname;
    m_strNextCabName = hasNext ? CabinetText(cab->nextname) : std::string();
    m_strNextDisk = hasNext ? CabinetText(cab->nextinfo) : std::string();
    m_strNextCabPath = m_strCabPath;
    m_bLastCabinet = m_strNextCabName.empty();
    m_iCabinet = cab->set_index;
    return OnCabinetInfo(m_strNextCabName, m_strNextDisk, m_strCabPath, cab->set_id, cab->set_index);
}

int CCabExtractor::AttachSuccessor(CabinetSet &set, mscabd_cabinet *last, int &type)
{
    type = 0;
    std::string folder = m_strNextCabPath;
    if (!OnNextCabinet(m_strNextCabName, m_strNextDisk, folder, FDIERROR_NONE))
        return FDIERROR_USER_ABORT;
    for (int look = 0;; ++look) {
        if (folder.size() > kMaxCabinetFolder)
            folder.resize(kMaxCabinetFolder);
        if (!folder.empty() && folder.back() != '/')
            folder += '/';
        const int error = OpenSuccessor(set, last, folder, type);
        if (error == FDIERROR_NONE || error == FDIERROR_USER_ABORT || look == 1)
            return error;
        CABLOG("The next cabinet \"%s\" in \"%s\" cannot be used (error %d).\n", m_strNextCabName.c_str(),
               folder.c_str(), error);
        if (!OnNextCabinet(m_strNextCabName, m_strNextDisk, folder, error)) {
            type = 0;
            return FDIERROR_USER_ABORT;
        }
    }
}

int CCabExtractor::OpenSuccessor(CabinetSet &set, mscabd_cabinet *last, const std::string &folder, int &type)
{
    mscab_decompressor *decoder = m_bridge->decoder.get();
    const std::string path = FindCabinetFile(folder, m_strNextCabName);
    if (path.empty()) {
        type = ENOENT;
        return FDIERROR_CABINET_NOT_FOUND;
    }
    m_inputErrno = 0;
    MscabCabinetPtr next = set.Open(path);
    if (!next) {
        type = m_inputErrno;
        return MapOpenError(decoder->last_error(decoder), path);
    }
    type = 0;
    if (next->set_id != m_setId || next->set_index != m_iCabinet + 1) {
        CABLOG("%s is cabinet %u of set %u, not cabinet %u of set %u.\n", path.c_str(), next->set_index,
               next->set_id, m_iCabinet + 1, m_setId);
        return FDIERROR_WRONG_CABINET;
    }
    const int joined = decoder->append(decoder, last, next.get());
    if (joined != MSPACK_ERR_OK)
        return joined == MSPACK_ERR_NOMEMORY ? FDIERROR_ALLOC_FAIL : FDIERROR_WRONG_CABINET;
    // The set owns the joined cabinet now.
    mscabd_cabinet *cab = next.release();
    m_strCabPath = FolderOf(path);
    m_strCabName = NameOf(path);
    return NoteCabinet(cab) ? FDIERROR_NONE : FDIERROR_USER_ABORT;
}

int CCabExtractor::MapOpenError(int mspackError, const std::string &path)
{
    switch (mspackError) {
    case MSPACK_ERR_OPEN:
        return FDIERROR_CABINET_NOT_FOUND;
    case MSPACK_ERR_SIGNATURE:
        return FDIERROR_NOT_A_CABINET;
    case MSPACK_ERR_NOMEMORY:
        return FDIERROR_ALLOC_FAIL;
    default:
        // Headers cut short or inconsistent: a damaged cabinet when it
        // begins like one, otherwise no cabinet at all (an empty file, a
        // few bytes of text).
        return StartsWithSignature(path) ? FDIERROR_CORRUPT_CABINET : FDIERROR_NOT_A_CABINET;
    }
}

bool CCabExtractor::StartsWithSignature(const std::string &path)
{
    const std::intptr_t hf = Open(path.c_str(), CRT_O_RDONLY | CRT_O_BINARY, 0);
    if (hf == -1)
        return false;
    char signature[4] = {};
    const bool found = Read(hf, signature, sizeof signature) == sizeof signature &&
                       std::memcmp(signature, "MSCF", sizeof signature) == 0;
    Close(hf);
    return found;
}

bool CCabExtractor::ExtractFiles(mscabd_cabinet *first, const ERF &setError)
{
    // A first cabinet that continues a set begins with the end of a folder
    // whose start is in the cabinet before; files of that folder that cannot
    // be decoded without it are partial.
    const bool continuation = (first->flags & MSCAB_HDR_PREVCAB) != 0;
    const mscabd_folder *firstFolder = first->folders;
    const std::string firstCabinet = continuation ? CabinetText(first->prevname) : std::string();
    const std::string firstDisk = continuation ? CabinetText(first->previnfo) : std::string();
    // When the set ends early, its last folder continues in the cabinet that
    // is missing.
    const mscabd_folder *lastFolder = first->folders;
    while (lastFolder && lastFolder->next)
        lastFolder = lastFolder->next;

    bool skippedUnsafe = false;
    for (mscabd_file *file = first->files; file; file = file->next) {
        const std::string name = StoredName(file);
        std::string relative;
        if (continuation && file->folder == firstFolder && IsPartialFile(file)) {
            if (!OnPartialFile(name, firstCabinet, firstDisk))
                return Fail(FDIERROR_USER_ABORT, 0);
        } else if (!RelativeName(name, relative)) {
            CABLOG("Skipped \"%s\": it would be written outside the destination folder.\n", name.c_str());
            skippedUnsafe = true;
        } else {
            const std::string target = OnCopyFile(name, file->length);
            if (!target.empty() && !ExtractOne(file, name, target)) {
                if (setError.erfOper != FDIERROR_NONE && file->folder == lastFolder)
                    return Fail(setError.erfOper, setError.erfType);
                return false;
            }
        }
        if (!file->next || file->next->folder != file->folder) {
            if (!OnEnumerate())
                return Fail(FDIERROR_USER_ABORT, 0);
        }
    }
    if (setError.erfOper != FDIERROR_NONE)
        return Fail(setError.erfOper, setError.erfType);
    if (skippedUnsafe)
        return Fail(FDIERROR_TARGET_FILE, EINVAL);
    return true;
}

bool CCabExtractor::IsPartialFile(mscabd_file *file)
{
    // Ask the decoder to extract the file without letting it open an output:
    // it refuses before that point exactly when the folder needs an earlier
    // cabinet.
    mscab_decompressor *decoder = m_bridge->decoder.get();
    m_bProbe = true;
    m_bProbeReached = false;
    const int result = decoder->extract(decoder, file, "");
    m_bProbe = false;
    return result == MSPACK_ERR_DECRUNCH && !m_bProbeReached;
}

bool CCabExtractor::ExtractOne(mscabd_file *file, const std::string &name, const std::string &target)
{
    static std::atomic<unsigned> s_serial{0};
    mscab_decompressor *decoder = m_bridge->decoder.get();
    m_strWritingPath = target;

    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
    if (slash != std::string::npos && slash > 0) {
        std::error_code ec;
        fs::create_directories(fs::path(target.substr(0, slash)), ec);
        if (ec) {
            CABLOG("Cannot create the folder of %s (errno %d).\n", target.c_str(), ec.value());
            return Fail(FDIERROR_TARGET_FILE, ec.value());
        }
    }

    // The file is written under a temporary name beside its target and
    // renamed into place when whole: a failure never leaves a half file under
    // the real name, and an existing file (even a read-only one, or a running
    // program) is replaced rather than rewritten.
    TemporaryFile temporary;
    std::string temp;
    int result = MSPACK_ERR_OPEN;
    for (int attempt = 0; attempt < 16; ++attempt) {
        temp = (slash == std::string::npos ? std::string() : folder) + ".cab-" + std::to_string(::getpid()) +
               "-" + std::to_string(++s_serial) + ".tmp";
        m_pOutputName = temp.c_str();
        m_bOutputTried = false;
        m_bOutputOpened = false;
        m_outputErrno = 0;
        m_inputErrno = 0;
        result = decoder->extract(decoder, file, temp.c_str());
        m_pOutputName = nullptr;
        if (m_bOutputOpened)
            temporary.Own(temp);
        if (!(result == MSPACK_ERR_OPEN && m_bOutputTried && !m_bOutputOpened && m_outputErrno == EEXIST))
            break;
    }
    if (result != MSPACK_ERR_OK) {
        const int oper = MapExtractError(result, file);
        const int type = oper == FDIERROR_TARGET_FILE ? m_outputErrno : m_inputErrno;
        CABLOG("Cannot extract \"%s\" (error %d, errno %d).\n", name.c_str(), oper, type);
        return Fail(oper, type);
    }

    const std::uint16_t dosDate = static_cast<std::uint16_t>(
        ((file->date_y - 1980) & 0x7F) << 9 | (file->date_m & 0x0F) << 5 | (file->date_d & 0x1F));
    const std::uint16_t dosTime = static_cast<std::uint16_t>((file->time_h & 0x1F) << 11 |
                                                             (file->time_m & 0x3F) << 5 | (file->time_s / 2));
    const std::uint16_t attributes = static_cast<std::uint16_t>(file->attribs);
    if (!OnCloseFileInfo(name, dosDate, dosTime, attributes))
        return Fail(FDIERROR_USER_ABORT, 0);

    // Time stamps: modification and access time from the stored local time.
    const std::time_t stamp = DosToLocalTime(dosDate, dosTime);
    if (stamp != static_cast<std::time_t>(-1)) {
        const struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
        if (::utimensat(AT_FDCWD, temp.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
            CABLOG("Cannot set the time of %s (errno %d).\n", target.c_str(), errno);
    }
    // Attributes: read-only becomes a mode without write permission. Hidden,
    // system and archive have no meaning for these files and are dropped.
    if (attributes & kKeptAttributes & CAB_ATTRIB_READONLY) {
        struct stat st {};
        if (::stat(temp.c_str(), &st) == 0)
            ::chmod(temp.c_str(), st.st_mode & 07555);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int error = errno;
        CABLOG("Cannot put %s in place (errno %d).\n", target.c_str(), error);
        return Fail(FDIERROR_TARGET_FILE, error);
    }
    temporary.Release();
    if (!OnFileExtracted(name, target))
        return Fail(FDIERROR_USER_ABORT, 0);
    return true;
}

int CCabExtractor::MapExtractError(int mspackError, const mscabd_file *file) const
{
    switch (mspackError) {
    case MSPACK_ERR_OPEN:
        return m_bOutputTried && !m_bOutputOpened ? FDIERROR_TARGET_FILE : FDIERROR_CABINET_NOT_FOUND;
    case MSPACK_ERR_WRITE:
        return FDIERROR_TARGET_FILE;
    case MSPACK_ERR_NOMEMORY:
        return FDIERROR_ALLOC_FAIL;
    case MSPACK_ERR_DECRUNCH:
        return FDIERROR_MDI_FAIL;
    case MSPACK_ERR_DATAFORMAT:
        if (file->folder && MSCABD_COMP_METHOD(file->folder->comp_type) > MSCAB_COMP_LZX)
            return FDIERROR_BAD_COMPR_TYPE;
        return FDIERROR_CORRUPT_CABINET;
    default:
        return FDIERROR_CORRUPT_CABINET;
    }
}

bool CCabExtractor::RelativeName(const std::string &stored, std::string &relative)
{
    relative.clear();
    if (stored.empty() || stored[0] == '/' || stored[0] == '\\')
        return false;
    const unsigned char drive = static_cast<unsigned char>(stored[0]);
    if (stored.size() >= 2 && stored[1] == ':' &&
        ((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')))
        return false;
    std::size_t start = 0;
    while (start <= stored.size()) {
        std::size_t end = stored.find_first_of("/\\", start);
        if (end == std::string::npos)
            end = stored.size();
        const std::string part = stored.substr(start, end - start);
        if (part == "..")
            return false;
        if (!part.empty() && part != ".") {
            if (!relative.empty())
                relative += '/';
            relative += part;
        }
        start = end + 1;
    }
    return !relative.empty();
}

// Memory and file operations.

void *CCabExtractor::Alloc(std::size_t bytes)
{
    return std::malloc(bytes);
}

void CCabExtractor::Free(void *memory)
{
    std::free(memory);
}

std::intptr_t CCabExtractor::Open(const char *path, int oflag, int pmode)
{
    if (oflag & CRT_O_TEXT) {
        errno = EINVAL;
        return -1;
    }
    int flags = O_CLOEXEC;
    if (oflag & CRT_O_WRONLY)
        flags |= O_WRONLY;
    else if (oflag & CRT_O_RDWR)
        flags |= O_RDWR;
    else
        flags |= O_RDONLY;
    if (oflag & CRT_O_CREAT) {
        flags |= O_CREAT;
        if (oflag & CRT_O_EXCL)
            flags |= O_EXCL;
        else if (oflag & CRT_O_TRUNC)
            flags |= O_TRUNC;
    } else if (oflag & CRT_O_TRUNC) {
        flags |= O_TRUNC;
    }
    // Without write permission a new file is read-only.
    const mode_t mode = (pmode & CRT_S_IWRITE) ? 0666 : 0444;
    int fd = -1;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        errno = MapOpenErrno(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EACCES;
        return -1;
    }
    if (oflag & CRT_O_RANDOM)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    else if (oflag & CRT_O_SEQUENTIAL)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    // A temporary file disappears with its last handle: its name goes now.
    // (A short-lived file needs nothing: the page cache already keeps it.)
    if ((oflag & CRT_O_CREAT) && (oflag & CRT_O_TEMPORARY))
        ::unlink(path);
    if ((oflag & CRT_O_APPEND) && ::lseek(fd, 0, SEEK_END) < 0) {
        const int error = errno;
        ::close(fd);
        errno = error == EINVAL ? EINVAL : EBADF;
        return -1;
    }
    return fd;
}

unsigned CCabExtractor::Read(std::intptr_t hf, void *buffer, unsigned bytes)
{
    if (!ValidDescriptor(hf)) {
        errno = EBADF;
        return kReadFailed;
    }
    unsigned done = 0;
    while (done < bytes) {
        const ssize_t got = ::read(static_cast<int>(hf), static_cast<char *>(buffer) + done, bytes - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            errno = EBADF;
            return kReadFailed;
        }
        if (got == 0)
            break;
        done += static_cast<unsigned>(got);
    }
    return done;
}

unsigned CCabExtractor::Write(std::intptr_t hf, const void *buffer, unsigned bytes)
{
    if (!ValidDescriptor(hf)) {
        errno = EBADF;
        return kReadFailed;
    }
    unsigned done = 0;
    while (done < bytes) {
        const ssize_t put =
            ::write(static_cast<int>(hf), static_cast<const char *>(buffer) + done, bytes - done);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            errno = (errno == ENOSPC || errno == EDQUOT) ? ENOSPC : EBADF;
            return kReadFailed;
        }
        done += static_cast<unsigned>(put);
    }
    return done;
}

int CCabExtractor::Close(std::intptr_t hf)
{
    if (!ValidDescriptor(hf) || ::close(static_cast<int>(hf)) != 0) {
        errno = EBADF;
        return -1;
    }
    return 0;
}

std::int64_t CCabExtractor::Seek(std::intptr_t hf, std::int64_t offset, int origin)
{
    int whence = SEEK_SET;
    switch (origin) {
    case 0:
        whence = SEEK_SET;
        break;
    case 1:
        whence = SEEK_CUR;
        break;
    case 2:
        whence = SEEK_END;
        break;
    default:
        errno = EINVAL;
        return -1;
    }
    if (!ValidDescriptor(hf)) {
        errno = EBADF;
        return -1;
    }
    const off_t position = ::lseek(static_cast<int>(hf), static_cast<off_t>(offset), whence);
    if (position < 0) {
        errno = errno == EINVAL ? EINVAL : EBADF;
        return -1;
    }
    return position;
}

// The notifications' defaults: everything is accepted, and files go to the
// destination folder under their stored names.

bool CCabExtractor::OnCabinetInfo(const std::string &, const std::string &, const std::string &, unsigned,
                                  unsigned)
{
    return true;
}

bool CCabExtractor::OnPartialFile(const std::string &, const std::string &, const std::string &)
{
    return true;
}

std::string CCabExtractor::OnCopyFile(const std::string &name, std::uint32_t)
{
    std::string relative;
    if (!RelativeName(name, relative))
        return {};
    return m_strDestination + relative;
}

bool CCabExtractor::OnCloseFileInfo(const std::string &, std::uint16_t, std::uint16_t, std::uint16_t)
{
    return true;
}

bool CCabExtractor::OnFileExtracted(const std::string &, const std::string &)
{
    return true;
}

bool CCabExtractor::OnEnumerate()
{
    return true;
}

bool CCabExtractor::OnNextCabinet(const std::string &, const std::string &, std::string &, int)
{
    return true;
}
