#include "CInstallerFactory.h"

#include "CInstaller.h"

#include "CComModule.h"
#include "KerrowGuids.h"

CInstallerFactory::CInstallerFactory(std::string serviceBase, std::string publicKey, WindowsMaker makeWindows)
    : m_serviceBase(std::move(serviceBase)), m_publicKey(std::move(publicKey)),
      m_makeWindows(std::move(makeWindows))
{
    CComModule::Lock();
}

CInstallerFactory::~CInstallerFactory()
{
    CComModule::Unlock();
}

CInstallerFactory *CInstallerFactory::Create(std::string serviceBase, std::string publicKey,
                                             WindowsMaker makeWindows) noexcept
{
    try {
        return new CInstallerFactory(std::move(serviceBase), std::move(publicKey), std::move(makeWindows));
    } catch (...) {
        return nullptr;
    }
}

HRESULT CInstallerFactory::QueryInterface(REFIID riid, void **ppv) noexcept
{
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CInstallerFactory::AddRef() noexcept
{
    return m_refs.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG CInstallerFactory::Release() noexcept
{
    const ULONG left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
        delete this;
    return left;
}

HRESULT CInstallerFactory::CreateInstance(IUnknown *outer, REFIID riid, void **ppv) noexcept
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    std::unique_ptr<IInstallWindows> windows;
    try {
        windows = m_makeWindows ? m_makeWindows() : nullptr;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    if (!windows)
        return E_UNEXPECTED;
    CInstaller *control = CInstaller::Create(m_serviceBase, m_publicKey, std::move(windows));
    if (control == nullptr)
        return E_OUTOFMEMORY;
    const HRESULT hr = control->QueryInterface(riid, ppv);
    control->Release();
    return hr;
}

HRESULT CInstallerFactory::LockServer(BOOL lock) noexcept
{
    if (lock)
        CComModule::Lock();
    else
        CComModule::Unlock();
    return S_OK;
}
