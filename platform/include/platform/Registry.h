#pragma once
// The persistent registry store that stands in for the Windows registry.
//
// One directory of files, one file per root key ("HKEY_CURRENT_USER.reg" ...),
// placed in $VELMOR_REGISTRY_DIR when set and under the XDG data directory
// ($XDG_DATA_HOME or ~/.local/share, "velmor/registry") otherwise. Key paths
// and value names are compared without regard to letter case. Values are
// 32-bit numbers (REG_DWORD) and strings (REG_SZ); the empty name is the
// key's default value. Names and strings are UTF-8 in the program and CP949
// on disk.
//
// Every write reads the root's file under an exclusive file lock, changes it
// and replaces it through a temporary file and a rename, so another process
// never sees half a file and a crash never corrupts it. Reads take a shared
// lock. Nothing is cached between calls: a value written by another process
// is seen by the next read.
#include "platform/Win32Types.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class RegRoot {
    HKCR, // HKEY_CLASSES_ROOT
    HKCU, // HKEY_CURRENT_USER
    HKLM, // HKEY_LOCAL_MACHINE
    HKU,  // HKEY_USERS
    HKCC, // HKEY_CURRENT_CONFIG
    HKPD, // HKEY_PERFORMANCE_DATA
};

// "HKEY_CURRENT_USER" and so on.
const char *RegRootName(RegRoot root);

// The folder that holds the store's files.
std::string RegistryDirectory();

// A root named the way scripts, reg.exe and the stored references name it:
// "HKCR", "HKCU", "HKLM", "HKU" or "HKUS", "HKCC", "HKPD", or the long
// names ("HKEY_LOCAL_MACHINE"), without regard to letter case.
std::optional<RegRoot> ParseRegRoot(std::string_view text);

// One value as an enumeration returns it.
struct RegistryValue {
    std::string name; // empty: the key's default value
    bool isDword = false;
    DWORD dword = 0;
    std::string text; // for strings
};

// An open key (RegCreateKeyEx with all access). Cheap to copy: it only holds
// the root and the path; every operation goes to the files.
class RegistryKey {
public:
    RegistryKey() = default;

    // Opens `subKey` ("Software\\Quenta\\ControlWindowArea\\Position") under
    // `root`, creating it and its parents when missing.
    // S_OK, or a failure when the store cannot be written.
    static HRESULT Create(RegRoot root, std::string_view subKey, RegistryKey &key);

    // Opens an existing key; E_FAIL (HRESULT_FROM_ERRNO(ENOENT)) when missing.
    static HRESULT Open(RegRoot root, std::string_view subKey, RegistryKey &key);

    bool IsOpen() const { return m_open; }

    // The value when it exists and has that type, else nothing.
    std::optional<DWORD> ReadDword(std::string_view name) const;
    std::optional<std::string> ReadString(std::string_view name) const;

    HRESULT WriteDword(std::string_view name, DWORD value) const;
    HRESULT WriteString(std::string_view name, std::string_view value) const;

    // RegDeleteValue: S_OK, or HRESULT_FROM_ERRNO(ENOENT) when it is missing.
    HRESULT DeleteValue(std::string_view name) const;

    // The names of the direct subkeys and the values, in the order they were
    // created. Empty when the key is gone or the store cannot be read.
    std::vector<std::string> EnumKeys() const;
    std::vector<RegistryValue> EnumValues() const;

    // Deletes `subKey` under `root` with every key below it (SHDeleteKey);
    // "Software\\Quenta" takes "Software\\Quenta\\Velmor" along but not
    // "Software\\QuentaOther". S_OK, HRESULT_FROM_ERRNO(ENOENT) when it is
    // missing, E_INVALIDARG for the root itself (an empty path).
    static HRESULT DeleteKey(RegRoot root, std::string_view subKey);

private:
    RegRoot m_root = RegRoot::HKCU;
    std::string m_path;
    bool m_open = false;
};

} // namespace platform
