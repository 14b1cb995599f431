// The entry points of the skin control library ActSkn43.ocx: registration of
// its class id (what regsvr32.exe and the install engine call) and the
// factory a program uses when it loads the library at run time.
//
// All three are C entry points: nothing thrown inside leaves them.
#include "CSkinWidget.h"
#include "ISkinControl.h"

#include "platform/Registry.h"

#include <QApplication>
#include <QThread>

#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>

#define ACTSKN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The key the updater reads the control's path from.
const std::string kServerKey = std::string("CLSID\\") + CLSID_SkinControl + "\\InprocServer32";
const std::string kClassKey = std::string("CLSID\\") + CLSID_SkinControl;

// Any object of this library: dladdr() on it names the library's file.
const char kSelf = 0;

// The full path of this library as it is loaded, links resolved.
std::string LibraryPath()
{
    Dl_info info{};
    if (::dladdr(&kSelf, &info) == 0 || !info.dli_fname || !*info.dli_fname)
        return {};
    std::error_code ec;
    std::filesystem::path path = std::filesystem::canonical(info.dli_fname, ec);
    if (ec)
        path = std::filesystem::absolute(info.dli_fname, ec);
    return ec ? std::string() : path.string();
}

void LogFailure(const char *what, HRESULT hr)
{
    std::fprintf(stderr, "ActSkn43.ocx: %s (hr=0x%08x).\n", what, static_cast<unsigned>(hr));
}

bool SameId(const char *a, const char *b)
{
    for (; *a && *b; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return *a == *b;
}

} // namespace

// HKCR\CLSID\{BA8C584B-...}\InprocServer32: default value = this library's
// full path, "ThreadingModel" = "Apartment".
ACTSKN_EXPORT HRESULT DllRegisterServer()
{
    try {
        const std::string path = LibraryPath();
        if (path.empty()) {
            LogFailure("the library cannot find its own file", E_UNEXPECTED);
            return E_UNEXPECTED;
        }
        platform::RegistryKey key;
        HRESULT hr = platform::RegistryKey::Create(platform::RegRoot::HKCR, kServerKey, key);
        if (SUCCEEDED(hr))
            hr = key.WriteString("", path);
        if (SUCCEEDED(hr))
            hr = key.WriteString("ThreadingModel", "Apartment");
        if (FAILED(hr))
            LogFailure("the registry store cannot be written", hr);
        return hr;
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// Removes the class id's key with everything below it. A control that was
// not registered is no failure: afterwards it is not registered either way.
ACTSKN_EXPORT HRESULT DllUnregisterServer()
{
    try {
        const HRESULT hr = platform::RegistryKey::DeleteKey(platform::RegRoot::HKCR, kClassKey);
        if (hr == HRESULT_FROM_ERRNO(ENOENT))
            return S_OK;
        if (FAILED(hr))
            LogFailure("the registry store cannot be written", hr);
        return hr;
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

ACTSKN_EXPORT ISkinControl *CreateSkinControl(const char *iid, QWidget *window)
{
    try {
        if (!iid || !SameId(iid, IID_ISkinControl) || !window)
            return nullptr;
        // Widgets need the widget application, on its thread.
        if (!qobject_cast<QApplication *>(QCoreApplication::instance()) ||
            QThread::currentThread() != QCoreApplication::instance()->thread())
            return nullptr;
        return new CSkinWidget(window);
    } catch (...) {
        return nullptr;
    }
}
