#include "platform/Registry.h"

#include "platform/CodePage.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

namespace platform {

namespace {

enum class ValueType { Dword, String };

struct Value {
    std::string name; // CP949, as on disk
    ValueType type = ValueType::String;
    DWORD dword = 0;
    std::string text; // CP949
};

struct Key {
    std::string path; // CP949, as first created
    std::vector<Value> values;
};

using Hive = std::vector<Key>;

// Letter case is folded for ASCII only: CP949 lead and trail bytes are never
// ASCII letters' lead bytes, so folding bytes below 0x80 is safe.
bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x < 0x80 && y < 0x80) {
            if (std::tolower(x) != std::tolower(y))
                return false;
        } else if (x != y) {
            return false;
        }
    }
    return true;
}

// "a\\b\\\\c\\" -> "a\\b\\c": empty components are dropped, as the registry does.
std::string NormalisePath(std::string_view path)
{
    std::string out;
    std::string part;
    auto flush = [&] {
        if (part.empty())
            return;
        if (!out.empty())
            out.push_back('\\');
        out += part;
        part.clear();
    };
    for (char c : path) {
        if (c == '\\' || c == '/')
            flush();
        else
            part.push_back(c);
    }
    flush();
    return out;
}

std::string Escape(std::string_view text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

// Reads a quoted text starting at `pos` (on the opening quote); leaves `pos`
// after the closing quote. False when the quote never closes.
bool Unquote(const std::string &line, std::size_t &pos, std::string &out)
{
    if (pos >= line.size() || line[pos] != '"')
        return false;
    out.clear();
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < line.size()) {
            char n = line[++pos];
            out.push_back(n == 'n' ? '\n' : n == 'r' ? '\r' : n);
        } else {
            out.push_back(c);
        }
    }
    return false;
}

Hive ParseHive(const std::string &data)
{
    Hive hive;
    std::istringstream in(data);
    std::string line;
    Key *current = nullptr;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            if (line.back() != ']') {
                current = nullptr;
                continue;
            }
            hive.push_back(Key{NormalisePath(line.substr(1, line.size() - 2)), {}});
            current = &hive.back();
            continue;
        }
        if (!current)
            continue;
        Value v;
        std::size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (!Unquote(line, pos, v.name)) {
            continue;
        }
        if (pos >= line.size() || line[pos] != '=')
            continue;
        ++pos;
        if (line.compare(pos, 6, "dword:") == 0) {
            char *end = nullptr;
            const std::string hex = line.substr(pos + 6);
            errno = 0;
            unsigned long n = std::strtoul(hex.c_str(), &end, 16);
            if (hex.empty() || *end != '\0' || errno != 0 || n > 0xFFFFFFFFul)
                continue;
            v.type = ValueType::Dword;
            v.dword = static_cast<DWORD>(n);
        } else if (Unquote(line, pos, v.text)) {
            v.type = ValueType::String;
        } else {
            continue;
        }
        current->values.push_back(std::move(v));
    }
    return hive;
}

std::string FormatHive(const Hive &hive)
{
    std::string out = "; Velmor registry store\n";
    for (const Key &key : hive) {
        out += "\n[" + key.path + "]\n";
        for (const Value &v : key.values) {
            out += v.name.empty() ? std::string("@") : "\"" + Escape(v.name) + "\"";
            out += '=';
            if (v.type == ValueType::Dword) {
                char hex[16];
                std::snprintf(hex, sizeof hex, "dword:%08x", static_cast<unsigned>(v.dword));
                out += hex;
            } else {
                out += "\"" + Escape(v.text) + "\"";
            }
            out += '\n';
        }
    }
    return out;
}

Key *FindKey(Hive &hive, std::string_view path)
{
    for (Key &k : hive)
        if (SameName(k.path, path))
            return &k;
    return nullptr;
}

// Holds flock() on the store's lock file for one operation.
class StoreLock {
public:
    StoreLock(const std::filesystem::path &dir, bool exclusive)
    {
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        m_fd = ::open((dir / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd < 0) {
            m_error = errno;
            return;
        }
        while (::flock(m_fd, exclusive ? LOCK_EX : LOCK_SH) != 0) {
            if (errno != EINTR) {
                m_error = errno;
                ::close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~StoreLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // closing releases the lock
    }
    StoreLock(const StoreLock &) = delete;
    StoreLock &operator=(const StoreLock &) = delete;
    bool Held() const { return m_fd >= 0; }
    int Error() const { return m_error; }

private:
    int m_fd = -1;
    int m_error = 0;
};

std::filesystem::path HiveFile(RegRoot root)
{
    return std::filesystem::path(RegistryDirectory()) / (std::string(RegRootName(root)) + ".reg");
}

Hive LoadHive(RegRoot root)
{
    std::ifstream in(HiveFile(root), std::ios::binary);
    if (!in)
        return {};
    std::ostringstream all;
    all << in.rdbuf();
    return ParseHive(all.str());
}

// Writes the hive to a temporary file, flushes it to disk and renames it over
// the old one. Called with the exclusive lock held.
HRESULT SaveHive(RegRoot root, const Hive &hive)
{
    const std::filesystem::path file = HiveFile(root);
    const std::filesystem::path temp = file.string() + ".tmp";
    const std::string data = FormatHive(hive);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return HRESULT_FROM_ERRNO(errno);
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            return HRESULT_FROM_ERRNO(err);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return HRESULT_FROM_ERRNO(err);
    }
    if (::rename(temp.c_str(), file.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return HRESULT_FROM_ERRNO(err);
    }
    // The rename itself reaches the disk with the folder's entry; without this
    // a power cut could bring back the old file after a reported success.
    if (int dir = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return S_OK;
}

// Runs `change` on the hive under the exclusive lock and saves the result
// when `change` returns true. `change` may set `result` to report a failure
// (a missing value or key) without writing anything.
template <typename F> HRESULT ModifyHive(RegRoot root, F &&change)
{
    StoreLock lock(RegistryDirectory(), true);
    if (!lock.Held())
        return HRESULT_FROM_ERRNO(lock.Error());
    Hive hive = LoadHive(root);
    HRESULT result = S_OK;
    if (!change(hive, result))
        return result;
    return SaveHive(root, hive);
}

// Whether `path` lies below `parent` ("" is the root): the rest after the
// parent's path and a separator, or nothing.
std::optional<std::string_view> BelowKey(std::string_view path, std::string_view parent)
{
    if (parent.empty())
        return path.empty() ? std::nullopt : std::optional<std::string_view>(path);
    if (path.size() <= parent.size() + 1 || path[parent.size()] != '\\' ||
        !SameName(path.substr(0, parent.size()), parent))
        return std::nullopt;
    return path.substr(parent.size() + 1);
}

// A key exists when it has a line of its own or a key below it has one (a
// hand-written file may list only the deepest keys).
bool KeyExists(Hive &hive, std::string_view path)
{
    if (FindKey(hive, path))
        return true;
    for (const Key &k : hive)
        if (BelowKey(k.path, path))
            return true;
    return false;
}

// Creates the key and every missing parent.
void EnsureKey(Hive &hive, const std::string &path, bool &changed)
{
    std::string prefix;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        prefix = path.substr(0, end);
        if (!prefix.empty() && !FindKey(hive, prefix)) {
            hive.push_back(Key{prefix, {}});
            changed = true;
        }
        start = end + 1;
    }
}

HRESULT WriteValue(RegRoot root, const std::string &path, Value value)
{
    return ModifyHive(root, [&](Hive &hive, HRESULT &) {
        bool changed = true;
        EnsureKey(hive, path, changed);
        Key *key = FindKey(hive, path);
        if (!key) {
            // Values of the root itself (an empty path) live in a "[]" section.
            hive.push_back(Key{path, {}});
            key = &hive.back();
        }
        for (Value &v : key->values) {
            if (SameName(v.name, value.name)) {
                value.name = v.name; // keep the case it was created with
                v = std::move(value);
                return true;
            }
        }
        key->values.push_back(std::move(value));
        return true;
    });
}

// The hive as it is now, read under the shared lock; nothing when the lock
// cannot be taken.
std::optional<Hive> ReadHive(RegRoot root)
{
    StoreLock lock(RegistryDirectory(), false);
    if (!lock.Held())
        return std::nullopt;
    return LoadHive(root);
}

std::optional<Value> ReadValue(RegRoot root, const std::string &path, std::string_view name)
{
    StoreLock lock(RegistryDirectory(), false);
    if (!lock.Held())
        return std::nullopt;
    Hive hive = LoadHive(root);
    Key *key = FindKey(hive, path);
    if (!key)
        return std::nullopt;
    const std::string ansiName = Utf8ToAnsi(name);
    for (const Value &v : key->values)
        if (SameName(v.name, ansiName))
            return v;
    return std::nullopt;
}

} // namespace

std::optional<RegRoot> ParseRegRoot(std::string_view text)
{
    static const struct {
        const char *name;
        RegRoot root;
    } kRoots[] = {
        {"HKCR", RegRoot::HKCR},
        {"HKEY_CLASSES_ROOT", RegRoot::HKCR},
        {"HKCU", RegRoot::HKCU},
        {"HKEY_CURRENT_USER", RegRoot::HKCU},
        {"HKLM", RegRoot::HKLM},
        {"HKEY_LOCAL_MACHINE", RegRoot::HKLM},
        {"HKU", RegRoot::HKU},
        {"HKUS", RegRoot::HKU},
        {"HKEY_USERS", RegRoot::HKU},
        {"HKCC", RegRoot::HKCC},
        {"HKEY_CURRENT_CONFIG", RegRoot::HKCC},
        {"HKPD", RegRoot::HKPD},
        {"HKEY_PERFORMANCE_DATA", RegRoot::HKPD},
    };
    for (const auto &entry : kRoots)
        if (SameName(text, entry.name))
            return entry.root;
    return std::nullopt;
}

const char *RegRootName(RegRoot root)
{
    switch (root) {
    case RegRoot::HKCR:
        return "HKEY_CLASSES_ROOT";
    case RegRoot::HKCU:
        return "HKEY_CURRENT_USER";
    case RegRoot::HKLM:
        return "HKEY_LOCAL_MACHINE";
    case RegRoot::HKU:
        return "HKEY_USERS";
    case RegRoot::HKCC:
        return "HKEY_CURRENT_CONFIG";
    case RegRoot::HKPD:
        return "HKEY_PERFORMANCE_DATA";
    }
    return "HKEY_UNKNOWN";
}

std::string RegistryDirectory()
{
    if (const char *dir = std::getenv("VELMOR_REGISTRY_DIR"); dir && *dir)
        return dir;
    if (const char *data = std::getenv("XDG_DATA_HOME"); data && *data)
        return std::string(data) + "/velmor/registry";
    const char *home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/velmor/registry";
}

HRESULT RegistryKey::Create(RegRoot root, std::string_view subKey, RegistryKey &key)
{
    // A line break would end the key's header line in the file.
    if (subKey.find_first_of("\r\n") != std::string_view::npos)
        return E_INVALIDARG;
    const std::string path = NormalisePath(Utf8ToAnsi(subKey));
    HRESULT hr = ModifyHive(root, [&](Hive &hive, HRESULT &) {
        bool changed = false;
        EnsureKey(hive, path, changed);
        return changed;
    });
    if (FAILED(hr))
        return hr;
    key.m_root = root;
    key.m_path = path;
    key.m_open = true;
    return S_OK;
}

HRESULT RegistryKey::Open(RegRoot root, std::string_view subKey, RegistryKey &key)
{
    const std::string path = NormalisePath(Utf8ToAnsi(subKey));
    StoreLock lock(RegistryDirectory(), false);
    if (!lock.Held())
        return HRESULT_FROM_ERRNO(lock.Error());
    Hive hive = LoadHive(root);
    if (!path.empty() && !KeyExists(hive, path))
        return HRESULT_FROM_ERRNO(ENOENT);
    key.m_root = root;
    key.m_path = path;
    key.m_open = true;
    return S_OK;
}

std::optional<DWORD> RegistryKey::ReadDword(std::string_view name) const
{
    if (!m_open)
        return std::nullopt;
    std::optional<Value> v = ReadValue(m_root, m_path, name);
    if (!v || v->type != ValueType::Dword)
        return std::nullopt;
    return v->dword;
}

std::optional<std::string> RegistryKey::ReadString(std::string_view name) const
{
    if (!m_open)
        return std::nullopt;
    std::optional<Value> v = ReadValue(m_root, m_path, name);
    if (!v || v->type != ValueType::String)
        return std::nullopt;
    return AnsiToUtf8(v->text);
}

HRESULT RegistryKey::WriteDword(std::string_view name, DWORD value) const
{
    if (!m_open)
        return E_UNEXPECTED;
    Value v;
    v.name = Utf8ToAnsi(name);
    v.type = ValueType::Dword;
    v.dword = value;
    return WriteValue(m_root, m_path, std::move(v));
}

HRESULT RegistryKey::WriteString(std::string_view name, std::string_view value) const
{
    if (!m_open)
        return E_UNEXPECTED;
    Value v;
    v.name = Utf8ToAnsi(name);
    v.type = ValueType::String;
    v.text = Utf8ToAnsi(value);
    return WriteValue(m_root, m_path, std::move(v));
}

HRESULT RegistryKey::DeleteValue(std::string_view name) const
{
    if (!m_open)
        return E_UNEXPECTED;
    const std::string ansiName = Utf8ToAnsi(name);
    return ModifyHive(m_root, [&](Hive &hive, HRESULT &result) {
        Key *key = FindKey(hive, m_path);
        if (key) {
            for (auto it = key->values.begin(); it != key->values.end(); ++it) {
                if (SameName(it->name, ansiName)) {
                    key->values.erase(it);
                    return true;
                }
            }
        }
        result = HRESULT_FROM_ERRNO(ENOENT);
        return false;
    });
}

std::vector<std::string> RegistryKey::EnumKeys() const
{
    std::vector<std::string> names;
    if (!m_open)
        return names;
    std::optional<Hive> hive = ReadHive(m_root);
    if (!hive)
        return names;
    // A child is the first component of any key below this one, so a file
    // that lists "a\b\c" without "a\b" still shows "b" under "a".
    std::vector<std::string_view> seen;
    for (const Key &k : *hive) {
        std::optional<std::string_view> rest = BelowKey(k.path, m_path);
        if (!rest)
            continue;
        const std::string_view child = rest->substr(0, rest->find('\\'));
        bool known = false;
        for (std::string_view s : seen)
            known = known || SameName(s, child);
        if (!known)
            seen.push_back(child);
    }
    for (std::string_view s : seen)
        names.push_back(AnsiToUtf8(s));
    return names;
}

std::vector<RegistryValue> RegistryKey::EnumValues() const
{
    std::vector<RegistryValue> values;
    if (!m_open)
        return values;
    std::optional<Hive> hive = ReadHive(m_root);
    if (!hive)
        return values;
    const Key *key = FindKey(*hive, m_path);
    if (!key)
        return values;
    for (const Value &v : key->values) {
        RegistryValue out;
        out.name = AnsiToUtf8(v.name);
        out.isDword = v.type == ValueType::Dword;
        out.dword = v.dword;
        if (!out.isDword)
            out.text = AnsiToUtf8(v.text);
        values.push_back(std::move(out));
    }
    return values;
}

HRESULT RegistryKey::DeleteKey(RegRoot root, std::string_view subKey)
{
    const std::string path = NormalisePath(Utf8ToAnsi(subKey));
    // The root itself is never deleted: an empty or all-separator name would
    // otherwise take the whole hive with it.
    if (path.empty())
        return E_INVALIDARG;
    return ModifyHive(root, [&](Hive &hive, HRESULT &result) {
        const std::size_t before = hive.size();
        std::erase_if(hive, [&](const Key &k) { return SameName(k.path, path) || BelowKey(k.path, path); });
        if (hive.size() == before) {
            result = HRESULT_FROM_ERRNO(ENOENT);
            return false;
        }
        return true;
    });
}

} // namespace platform
