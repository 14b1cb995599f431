#pragma once
// Loading a shared library at run time (LoadLibrary / GetProcAddress /
// FreeLibrary) for components: ActSkn43.ocx, KerrowInstaller.dll and the
// libraries regsvr32.exe registers.
#include <memory>
#include <string>

namespace platform {

class CModule {
public:
    CModule() = default;
    ~CModule();
    CModule(CModule &&other) noexcept;
    CModule &operator=(CModule &&other) noexcept;
    CModule(const CModule &) = delete;
    CModule &operator=(const CModule &) = delete;

    // Loads the library at `path` (a full path; nothing is searched, a bare
    // name means the file in the current directory), freeing one loaded
    // before. False on failure, with the loader's reason in LastError().
    bool Load(const std::string &path);
    bool IsLoaded() const { return m_handle != nullptr; }
    void Free();

    // The exported symbol, or null.
    void *Symbol(const char *name) const;
    template <typename F> F Function(const char *name) const
    {
        return reinterpret_cast<F>(Symbol(name));
    }

    const std::string &LastError() const { return m_error; }

private:
    void *m_handle = nullptr;
    std::string m_error;
};

} // namespace platform
