// The exports of KerrowInstaller.dll, the in-process server entry points:
// DllCanUnloadNow, DllGetClassObject, DllRegisterServer and
// DllUnregisterServer. C entry points: every failure becomes an HRESULT.
#include "CInstallWindows.h"
#include "CInstallerFactory.h"
#include "Registration.h"

#include "CComModule.h"
#include "KerrowExports.h"
#include "KerrowGuids.h"

#include "CLogFile.h"
#include "SitePublicKey.h"

#include "platform/GuiMessageBox.h"

#include <dlfcn.h>

#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>

#ifndef VELMOR_SERVICE_URL
#define VELMOR_SERVICE_URL "http://127.0.0.1:18080"
#endif

#define KERROW_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Any object of this library: dladdr() on it names the library's file.
const char kSelf = 0;

// The full path of this library as it is loaded, links resolved.
std::string LibraryPath()
{
    Dl_info info{};
    if (::dladdr(&kSelf, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0')
        return std::string();
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::canonical(info.dli_fname, ec);
    return ec ? std::string(info.dli_fname) : path.string();
}

// The service site's base URL a registration records: the environment's
// VELMOR_SERVICE_URL when set, else the build's.
std::string ServiceBaseToRecord()
{
    const char *configured = std::getenv("VELMOR_SERVICE_URL");
    return configured != nullptr && configured[0] != '\0' ? configured : VELMOR_SERVICE_URL;
}

// What the library needs of the process it was loaded into, once: its
// diagnostics go to standard error (it has no log file), and its message
// boxes are Qt's when the host made a widget application.
void PrepareProcess()
{
    static std::once_flag once;
    std::call_once(once, [] {
        SetLogToStandardError(true);
        if (qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr)
            platform::InstallGuiMessageBox();
    });
}

} // namespace

KERROW_EXPORT HRESULT DllCanUnloadNow()
{
    return CComModule::LockCount() == 0 ? S_OK : S_FALSE;
}

KERROW_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void **ppv)
{
    try {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (!(rclsid == CLSID_Installer))
            return CLASS_E_CLASSNOTAVAILABLE;
        PrepareProcess();
        std::string base = RegisteredServiceBase();
        if (base.empty())
            base = VELMOR_SERVICE_URL;
        std::string key = RegisteredPublicKey();
        if (key.empty())
            key = kSitePublicKey;
        CInstallerFactory *factory = CInstallerFactory::Create(std::move(base), std::move(key), [] {
            return std::unique_ptr<IInstallWindows>(new CInstallWindows);
        });
        if (factory == nullptr)
            return E_OUTOFMEMORY;
        const HRESULT hr = factory->QueryInterface(riid, ppv);
        factory->Release();
        return hr;
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

KERROW_EXPORT HRESULT DllRegisterServer()
{
    try {
        PrepareProcess();
        const std::string path = LibraryPath();
        if (path.empty())
            return E_UNEXPECTED;
        const std::string host = (std::filesystem::path(path).parent_path() / "KerrowHost.exe").string();
        return RegisterInstallerServer({path, host, ServiceBaseToRecord(), kSitePublicKey});
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

KERROW_EXPORT HRESULT DllUnregisterServer()
{
    try {
        PrepareProcess();
        return UnregisterInstallerServer();
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
