#pragma once
// The class factory DllGetClassObject hands out for CLSID_Installer: each
// CreateInstance makes a new control with the service base URL and script
// key fixed at registration and the windows the library's maker gives it.
#include "IInstallWindows.h"

#include "ComInterfaces.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

class CInstallerFactory final : public IClassFactory {
public:
    using WindowsMaker = std::function<std::unique_ptr<IInstallWindows>()>;

    // A new factory with one reference; null when memory runs out.
    static CInstallerFactory *Create(std::string serviceBase, std::string publicKey,
                                     WindowsMaker makeWindows) noexcept;

    HRESULT QueryInterface(REFIID riid, void **ppv) noexcept override;
    ULONG AddRef() noexcept override;
    ULONG Release() noexcept override;
    HRESULT CreateInstance(IUnknown *outer, REFIID riid, void **ppv) noexcept override;
    HRESULT LockServer(BOOL lock) noexcept override;

private:
    CInstallerFactory(std::string serviceBase, std::string publicKey, WindowsMaker makeWindows);
    ~CInstallerFactory();

    std::atomic<ULONG> m_refs{1};
    std::string m_serviceBase;
    std::string m_publicKey;
    WindowsMaker m_makeWindows;
};
