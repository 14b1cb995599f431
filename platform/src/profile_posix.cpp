#include "platform/Profile.h"

#include "platform/CodePage.h"
#include "platform/NewFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace platform {
namespace {

// One line of a profile file exactly as it was read: its bytes and the line
// end that followed them ("\r\n", "\n", or nothing for a last line without
// one). Writing the lines back in order reproduces the file byte for byte.
struct Line {
    std::string text;
    std::string eol;
};

enum class LineKind { Blank, Comment, Section, Entry };

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

LineKind KindOf(std::string_view text)
{
    const std::string_view t = Trim(text);
    if (t.empty())
        return LineKind::Blank;
    if (t.front() == ';')
        return LineKind::Comment;
    if (t.front() == '[')
        return LineKind::Section;
    return LineKind::Entry;
}

// The name of a section header: what stands between "[" and the first "]"
// (the rest of the line when it has none), without surrounding blanks.
std::string_view SectionName(std::string_view text)
{
    std::string_view t = Trim(text);
    t.remove_prefix(1);
    const std::size_t close = t.find(']');
    if (close != std::string_view::npos)
        t = t.substr(0, close);
    return Trim(t);
}

// An entry line split at its first "=": the key and the value without
// surrounding blanks. A line without "=" is all key and has no value.
struct Entry {
    std::string_view key;
    std::string_view value;
    bool hasValue = false;
};

Entry SplitEntry(std::string_view text)
{
    Entry e;
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        e.key = Trim(text);
        return e;
    }
    e.key = Trim(text.substr(0, eq));
    e.value = Trim(text.substr(eq + 1));
    e.hasValue = true;
    return e;
}

// Compares two CP949 names without regard to the case of ASCII letters. The
// second byte of a two-byte character may fall in the ASCII letter range, so
// the bytes of a two-byte character are compared exactly.
bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]);
        const unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 0x81 && x <= 0xFE) {
            if (x != y || i + 1 >= a.size())
                return x == y;
            ++i;
            if (a[i] != b[i])
                return false;
            continue;
        }
        const unsigned char lx = (x >= 'A' && x <= 'Z') ? static_cast<unsigned char>(x + 32) : x;
        const unsigned char ly = (y >= 'A' && y <= 'Z') ? static_cast<unsigned char>(y + 32) : y;
        if (lx != ly)
            return false;
    }
    return true;
}

// The longest prefix of `text` of at most `limit` bytes that does not end
// inside a two-byte CP949 character.
std::string_view CutAnsi(std::string_view text, std::size_t limit)
{
    std::size_t at = 0;
    while (at < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        const std::size_t width = (c >= 0x81 && c <= 0xFE && at + 1 < text.size()) ? 2 : 1;
        if (at + width > limit)
            break;
        at += width;
    }
    return text.substr(0, at);
}

bool HasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

std::vector<Line> SplitLines(const std::string &data)
{
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < data.size()) {
        const std::size_t nl = data.find('\n', start);
        if (nl == std::string::npos) {
            lines.push_back(Line{data.substr(start), {}});
            break;
        }
        std::size_t end = nl;
        if (end > start && data[end - 1] == '\r')
            --end;
        lines.push_back(Line{data.substr(start, end - start), data.substr(end, nl + 1 - end)});
        start = nl + 1;
    }
    return lines;
}

std::optional<std::string> ReadWholeFile(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string data;
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            if (n < 0)
                return std::nullopt;
            return data;
        }
        data.append(buf, static_cast<std::size_t>(n));
    }
}

// A profile file in memory: its lines, with the positions of sections found
// the way the profile functions find them (first of a name wins).
class ProfileDocument {
public:
    explicit ProfileDocument(const std::string &data) : m_lines(SplitLines(data)) {}

    // Index of the header line of the first section called `name`.
    std::optional<std::size_t> FindSection(std::string_view name) const
    {
        for (std::size_t i = 0; i < m_lines.size(); ++i)
            if (KindOf(m_lines[i].text) == LineKind::Section && SameName(SectionName(m_lines[i].text), name))
                return i;
        return std::nullopt;
    }

    // Index of the first section header at or after `from`.
    std::optional<std::size_t> NextSection(std::size_t from) const
    {
        for (std::size_t i = from; i < m_lines.size(); ++i)
            if (KindOf(m_lines[i].text) == LineKind::Section)
                return i;
        return std::nullopt;
    }

    // One past the last line of the section whose header is at `header`.
    std::size_t SectionEnd(std::size_t header) const
    {
        std::size_t i = header + 1;
        while (i < m_lines.size() && KindOf(m_lines[i].text) != LineKind::Section)
            ++i;
        return i;
    }

    // Index of the first entry line called `key` in the section at `header`.
    std::optional<std::size_t> FindKey(std::size_t header, std::string_view key) const
    {
        const std::size_t end = SectionEnd(header);
        for (std::size_t i = header + 1; i < end; ++i)
            if (KindOf(m_lines[i].text) == LineKind::Entry && SameName(SplitEntry(m_lines[i].text).key, key))
                return i;
        return std::nullopt;
    }

    const Line &At(std::size_t i) const { return m_lines[i]; }

    // The line end new lines get: the file's own, CRLF for a new file.
    std::string NewLineEnd() const
    {
        for (const Line &l : m_lines)
            if (!l.eol.empty())
                return l.eol;
        return "\r\n";
    }

    // Inserts `texts` as lines before index `at`.
    void Insert(std::size_t at, const std::vector<std::string> &texts)
    {
        const std::string eol = NewLineEnd();
        if (at > 0 && m_lines[at - 1].eol.empty())
            m_lines[at - 1].eol = eol;
        std::vector<Line> add;
        add.reserve(texts.size());
        for (const std::string &t : texts)
            add.push_back(Line{t, eol});
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), add.begin(), add.end());
    }

    void Erase(std::size_t from, std::size_t to)
    {
        m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(from),
                      m_lines.begin() + static_cast<std::ptrdiff_t>(to));
    }

    void Replace(std::size_t i, std::string text) { m_lines[i].text = std::move(text); }

    // Where a new line of the section at `header` goes: after its last line
    // that is not blank, so the blank lines that part it from the next
    // section stay in front of that section.
    std::size_t AppendPosition(std::size_t header) const
    {
        std::size_t end = SectionEnd(header);
        while (end > header + 1 && KindOf(m_lines[end - 1].text) == LineKind::Blank)
            --end;
        return end;
    }

    // Adds a new section with `body` at the end of the file, parted from
    // what comes before by one blank line.
    void AppendSection(std::string_view name, const std::vector<std::string> &body)
    {
        std::vector<std::string> texts;
        bool hasContent = false;
        for (const Line &l : m_lines)
            if (KindOf(l.text) != LineKind::Blank)
                hasContent = true;
        if (hasContent && KindOf(m_lines.back().text) != LineKind::Blank)
            texts.emplace_back();
        texts.push_back("[" + std::string(name) + "]");
        texts.insert(texts.end(), body.begin(), body.end());
        Insert(m_lines.size(), texts);
    }

    std::string Serialise() const
    {
        std::string out;
        for (const Line &l : m_lines) {
            out += l.text;
            out += l.eol;
        }
        return out;
    }

private:
    std::vector<Line> m_lines;
};

// A section name with ASCII letters folded the way SameName() ignores their
// case (the second byte of a two-byte character stays as it is).
std::string FoldName(std::string_view name)
{
    std::string out(name);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(out[i]);
        if (c >= 0x81 && c <= 0xFE)
            ++i;
        else if (c >= 'A' && c <= 'Z')
            out[i] = static_cast<char>(c + 32);
    }
    return out;
}

// A file as the read functions see it: its lines, and the first header of
// every section name indexed, so a value is found without walking the file.
// An update script lists thousands of item sections and is read key by key;
// splitting the whole file again for every value would take minutes.
class ReadDocument {
public:
    explicit ReadDocument(const std::string &data) : m_doc(data)
    {
        for (std::size_t i = 0;; ++i) {
            const std::optional<std::size_t> next = m_doc.NextSection(i);
            if (!next)
                break;
            i = *next;
            m_sections.try_emplace(FoldName(SectionName(m_doc.At(i).text)), i);
        }
    }

    std::optional<std::size_t> FindSection(std::string_view name) const
    {
        const auto at = m_sections.find(FoldName(name));
        if (at == m_sections.end())
            return std::nullopt;
        return at->second;
    }

    const ProfileDocument &Doc() const { return m_doc; }

private:
    ProfileDocument m_doc;
    std::unordered_map<std::string, std::size_t> m_sections;
};

// The files read last, each kept while it stays the same file: same inode,
// size and change times. A write replaces a file through a rename (a new
// inode) and drops it here, so a file changed here is always read anew. File
// times move in steps of a clock tick, so a file changed in place by another
// program within one tick of an earlier version looks the same: a file
// changed less than two seconds before it was read has its bytes compared
// again on every read until it has settled. A few entries, because an
// installation reads its script between writes of its setup files.
struct ReadCache {
    struct Entry {
        std::string path;
        struct stat st {};
        bool settled = false;
        std::string data;
        std::shared_ptr<const ReadDocument> doc;
    };
    static constexpr std::size_t kEntries = 4;
    std::mutex lock;
    std::vector<Entry> entries; // most recently used first
};

ReadCache &TheReadCache()
{
    static ReadCache cache;
    return cache;
}

bool SameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Whether the file's last change lies two seconds or more in the past.
bool Settled(const struct stat &st)
{
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto latest = std::max(st.st_mtim.tv_sec, st.st_ctim.tv_sec);
    return now.tv_sec - latest >= 2;
}

// The file for reading; null when it cannot be read.
std::shared_ptr<const ReadDocument> LoadForRead(const std::string &file)
{
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return nullptr;
    ReadCache &cache = TheReadCache();
    std::string unsettledData;
    std::shared_ptr<const ReadDocument> unsettledDoc;
    {
        std::lock_guard guard(cache.lock);
        for (std::size_t i = 0; i < cache.entries.size(); ++i) {
            ReadCache::Entry &entry = cache.entries[i];
            if (entry.path != file || !SameFile(entry.st, st))
                continue;
            if (!entry.settled) {
                unsettledData = entry.data;
                unsettledDoc = entry.doc;
                break;
            }
            std::rotate(cache.entries.begin(), cache.entries.begin() + static_cast<std::ptrdiff_t>(i),
                        cache.entries.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            return cache.entries.front().doc;
        }
    }
    const bool settled = Settled(st);
    std::optional<std::string> data = ReadWholeFile(file);
    if (!data)
        return nullptr;
    std::shared_ptr<const ReadDocument> doc =
        unsettledDoc && *data == unsettledData ? unsettledDoc : std::make_shared<const ReadDocument>(*data);
    std::lock_guard guard(cache.lock);
    std::erase_if(cache.entries, [&](const ReadCache::Entry &e) { return e.path == file; });
    ReadCache::Entry entry{file, st, settled, settled ? std::string() : std::move(*data), doc};
    cache.entries.insert(cache.entries.begin(), std::move(entry));
    if (cache.entries.size() > ReadCache::kEntries)
        cache.entries.pop_back();
    return doc;
}

// Drops what the cache holds of `file` (it is about to change).
void ForgetRead(const std::string &file)
{
    ReadCache &cache = TheReadCache();
    std::lock_guard guard(cache.lock);
    std::erase_if(cache.entries, [&](const ReadCache::Entry &e) { return e.path == file; });
}

// Holds an exclusive flock() on a folder for one change of a file in it.
class FolderLock {
public:
    explicit FolderLock(const std::string &folder)
    {
        m_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd < 0)
            return;
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~FolderLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // closing releases the lock
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;
    bool Held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// Writes `data` to a temporary file beside `path`, flushes it to disk and
// renames it over `path`. The temporary name is fixed per file: the folder
// lock makes it ours, and one left behind by a crash (or a link planted
// under that name) is replaced, never written through.
bool ReplaceFile(const std::filesystem::path &path, const std::string &data)
{
    const std::filesystem::path temp = path.parent_path() / ("." + path.filename().string() + ".velmor-tmp");
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        mode = st.st_mode & 07777;
    const int fd = CreateNewFile(temp.string(), 0600);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, data) == 0;
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(temp.c_str());
    return false;
}

// Runs `change` on the file's lines under the lock of its folder and writes
// the result back when `change` returns true. False when the folder cannot
// be locked or the file cannot be written.
template <typename F> bool ModifyProfile(const std::string &file, F &&change)
{
    std::filesystem::path path(file);
    std::error_code ec;
    // A link is followed, so the file it names is changed, not replaced by a
    // plain file.
    if (std::filesystem::is_symlink(path, ec)) {
        const std::filesystem::path target = std::filesystem::canonical(path, ec);
        if (ec)
            return false;
        path = target;
    }
    std::filesystem::path folder = path.parent_path();
    if (folder.empty())
        folder = ".";
    FolderLock lock(folder.string());
    if (!lock.Held())
        return false;
    ForgetRead(file);
    ForgetRead(path.string());
    const std::optional<std::string> data = ReadWholeFile(path.string());
    if (!data && errno != ENOENT)
        return false;
    ProfileDocument doc(data ? *data : std::string());
    if (!change(doc))
        return true;
    return ReplaceFile(path, doc.Serialise());
}

bool IsValidSectionName(std::string_view ansi)
{
    return !HasLineBreak(ansi) && ansi.find(']') == std::string_view::npos;
}

// A key that would read back as something else is refused: a line break, an
// "=", or a first character that makes the line a header or a comment.
bool IsValidKey(std::string_view ansi)
{
    if (HasLineBreak(ansi) || ansi.find('=') != std::string_view::npos)
        return false;
    const std::string_view t = Trim(ansi);
    return t.empty() || (t.front() != '[' && t.front() != ';');
}

} // namespace

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, std::size_t bufferSize,
                                    const std::string &file)
{
    const std::size_t limit = bufferSize > 0 ? bufferSize - 1 : 0;
    if (const std::shared_ptr<const ReadDocument> read = LoadForRead(file)) {
        const ProfileDocument &doc = read->Doc();
        const std::string ansiSection = Utf8ToAnsi(section);
        const std::string ansiKey = Utf8ToAnsi(key);
        if (const std::optional<std::size_t> header = read->FindSection(ansiSection)) {
            if (const std::optional<std::size_t> line = doc.FindKey(*header, ansiKey)) {
                std::string_view value = SplitEntry(doc.At(*line).text).value;
                if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                    value = value.substr(1, value.size() - 2);
                return AnsiToUtf8(CutAnsi(value, limit));
            }
        }
    }
    return AnsiToUtf8(CutAnsi(Utf8ToAnsi(defaultValue), limit));
}

std::vector<std::string> GetPrivateProfileSection(std::string_view section, std::size_t bufferSize,
                                                  const std::string &file)
{
    std::vector<std::string> lines;
    const std::shared_ptr<const ReadDocument> read = LoadForRead(file);
    if (!read)
        return lines;
    const ProfileDocument &doc = read->Doc();
    const std::optional<std::size_t> header = read->FindSection(Utf8ToAnsi(section));
    if (!header)
        return lines;
    // The list ends with one more zero byte than its lines take.
    std::size_t used = 1;
    const std::size_t end = doc.SectionEnd(*header);
    for (std::size_t i = *header + 1; i < end; ++i) {
        const std::string &text = doc.At(i).text;
        if (KindOf(text) != LineKind::Entry)
            continue;
        const Entry e = SplitEntry(text);
        std::string line(e.key);
        if (e.hasValue) {
            line += '=';
            line += e.value;
        }
        if (used + line.size() + 1 > bufferSize)
            break;
        used += line.size() + 1;
        lines.push_back(AnsiToUtf8(line));
    }
    return lines;
}

bool WritePrivateProfileString(std::string_view section, const char *key, const char *value,
                               const std::string &file)
{
    const std::string ansiSection = Utf8ToAnsi(section);
    if (!IsValidSectionName(ansiSection))
        return false;
    if (!key) {
        return ModifyProfile(file, [&](ProfileDocument &doc) {
            const std::optional<std::size_t> header = doc.FindSection(ansiSection);
            if (!header)
                return false;
            // The blank lines that part it from the next section go with it.
            doc.Erase(*header, doc.SectionEnd(*header));
            return true;
        });
    }
    const std::string ansiKey = Utf8ToAnsi(key);
    if (!IsValidKey(ansiKey))
        return false;
    if (!value) {
        return ModifyProfile(file, [&](ProfileDocument &doc) {
            const std::optional<std::size_t> header = doc.FindSection(ansiSection);
            if (!header)
                return false;
            const std::optional<std::size_t> line = doc.FindKey(*header, ansiKey);
            if (!line)
                return false;
            doc.Erase(*line, *line + 1);
            return true;
        });
    }
    const std::string ansiValue = Utf8ToAnsi(value);
    if (HasLineBreak(ansiValue))
        return false;
    return ModifyProfile(file, [&](ProfileDocument &doc) {
        const std::optional<std::size_t> header = doc.FindSection(ansiSection);
        if (!header) {
            doc.AppendSection(ansiSection, {ansiKey + "=" + ansiValue});
            return true;
        }
        if (const std::optional<std::size_t> line = doc.FindKey(*header, ansiKey)) {
            // The key keeps the spelling it already has in the file.
            const std::string text = std::string(SplitEntry(doc.At(*line).text).key) + "=" + ansiValue;
            if (text == doc.At(*line).text)
                return false;
            doc.Replace(*line, text);
            return true;
        }
        doc.Insert(doc.AppendPosition(*header), {ansiKey + "=" + ansiValue});
        return true;
    });
}

bool WritePrivateProfileSection(std::string_view section, const std::vector<std::string> &lines,
                                const std::string &file)
{
    const std::string ansiSection = Utf8ToAnsi(section);
    if (!IsValidSectionName(ansiSection))
        return false;
    std::vector<std::string> body;
    for (const std::string &line : lines) {
        std::string ansi = Utf8ToAnsi(line);
        if (HasLineBreak(ansi))
            return false;
        if (KindOf(ansi) == LineKind::Section)
            return false;
        if (!Trim(ansi).empty())
            body.push_back(std::move(ansi));
    }
    return ModifyProfile(file, [&](ProfileDocument &doc) {
        const std::optional<std::size_t> header = doc.FindSection(ansiSection);
        if (!header) {
            doc.AppendSection(ansiSection, body);
            return true;
        }
        // Every line of the old section goes, comments included; the blank
        // lines before the next section stay.
        const std::size_t end = doc.AppendPosition(*header);
        doc.Erase(*header + 1, end);
        doc.Insert(*header + 1, body);
        return true;
    });
}

} // namespace platform
