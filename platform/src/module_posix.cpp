#include "platform/Module.h"

#include <dlfcn.h>

#include <utility>

namespace platform {

CModule::~CModule()
{
    Free();
}

CModule::CModule(CModule &&other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)), m_error(std::move(other.m_error))
{
}

CModule &CModule::operator=(CModule &&other) noexcept
{
    if (this != &other) {
        Free();
        m_handle = std::exchange(other.m_handle, nullptr);
        m_error = std::move(other.m_error);
    }
    return *this;
}

bool CModule::Load(const std::string &path)
{
    Free();
    m_error.clear();
    if (path.empty()) {
        m_error = "no library named";
        return false;
    }
    // A bare name would send dlopen through the library search path; a
    // component is always the file named, here relative to the current
    // directory.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    // Symbols are bound now, so a component with a missing dependency fails
    // here and not in the middle of a call; its symbols stay its own, so two
    // components exporting DllRegisterServer never meet.
    m_handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char *reason = ::dlerror();
        m_error = reason ? reason : "the library could not be loaded";
        return false;
    }
    return true;
}

void CModule::Free()
{
    if (m_handle) {
        ::dlclose(m_handle);
        m_handle = nullptr;
    }
}

void *CModule::Symbol(const char *name) const
{
    if (!m_handle || !name)
        return nullptr;
    return ::dlsym(m_handle, name);
}

} // namespace platform
