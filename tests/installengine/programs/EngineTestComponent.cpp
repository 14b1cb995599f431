// A component as the installer registers it: DllRegisterServer writes the
// value "Registered" of HKLM "Software\Quenta\EngineTestComponent" (the
// library's own path), DllUnregisterServer removes the key again.
#include "platform/Registry.h"

#include <dlfcn.h>

namespace {

const char *kKey = "Software\\Quenta\\EngineTestComponent";

std::string OwnPath()
{
    Dl_info info{};
    static int anchor;
    if (::dladdr(&anchor, &info) && info.dli_fname)
        return info.dli_fname;
    return {};
}

} // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer()
{
    platform::RegistryKey key;
    const HRESULT hr = platform::RegistryKey::Create(platform::RegRoot::HKLM, kKey, key);
    return FAILED(hr) ? hr : key.WriteString("Registered", OwnPath());
}

extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer()
{
    const HRESULT hr = platform::RegistryKey::DeleteKey(platform::RegRoot::HKLM, kKey);
    return hr == HRESULT_FROM_ERRNO(ENOENT) ? S_OK : hr;
}
