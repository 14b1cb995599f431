#pragma once
// The web launcher control, class Installer ("Installer Class",
// CLSID {E8E20D57-3D5B-4A2D-B710-252900B66685}): a page sets its properties,
// and writing `Launcher` installs the product if needed and starts it in the
// page's role (Install(1, 0, ...)).
//
// Interfaces it answers: IUnknown, IDispatch and IInstaller (dual),
// IObjectSafety, IPersist and IPersistPropertyBag, and our IInstallerResult.
// The OLE embedding interfaces of a windowed control (views, in-place
// activation, storage) have no counterpart here: the host draws nothing of
// the control and only talks to it through these.
//
// Every put stores the value and returns S_OK; string puts keep the text as
// the ANSI code page holds it (characters CP949 lacks become '?'). Gets
// return the stored value; get `Launcher` writes nothing. Nothing is thrown
// out of any method.
//
// Threads: one control is used on one thread (the page's); Install runs
// there, with the install worker on a thread of its own while it installs.
#include "CInstallerState.h"
#include "IInstallWindows.h"

#include "IInstaller.h"
#include "InstallerPropertyMap.h"

#include <atomic>
#include <memory>
#include <string>

class CInstaller final : public IInstaller,
                         public IObjectSafety,
                         public IPersistPropertyBag,
                         public IInstallerResult {
public:
    static constexpr char kScriptPath[] = "/down/velmor/script/VelmorWebScript.kus";

    // `serviceBase`: the service site's base URL fixed at registration; the
    // default `Script` lies under it and a page may choose no script
    // elsewhere. `publicKey`: the key (base64 Ed25519) the service signs its
    // web scripts with, fixed with it. The windows are the control's own.
    CInstaller(std::string serviceBase, std::string publicKey, std::unique_ptr<IInstallWindows> windows);
    ~CInstaller();
    CInstaller(const CInstaller &) = delete;
    CInstaller &operator=(const CInstaller &) = delete;

    // A new control with one reference, as IInstaller; null when memory
    // runs out.
    static CInstaller *Create(std::string serviceBase, std::string publicKey,
                              std::unique_ptr<IInstallWindows> windows) noexcept;

    const CInstallerState &State() const { return m_state; }
    const std::string &ServiceBase() const { return m_serviceBase; }

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void **ppv) noexcept override;
    ULONG AddRef() noexcept override;
    ULONG Release() noexcept override;

    // IDispatch
    HRESULT GetTypeInfoCount(UINT *count) noexcept override;
    HRESULT GetTypeInfo(UINT index, void **typeInfo) noexcept override;
    HRESULT GetIDsOfNames(const OLECHAR *const *names, UINT count, DISPID *ids) noexcept override;
    HRESULT Invoke(DISPID id, WORD flags, DISPPARAMS *params, VARIANT *result) noexcept override;

    // IInstaller
    HRESULT Install(LONG bExecute, LONG bShowMsg, BSTR *pVal) noexcept override;
    HRESULT put_ProgName(BSTR newVal) noexcept override;
    HRESULT put_ExeName(BSTR newVal) noexcept override;
    HRESULT put_Script(BSTR newVal) noexcept override;
    HRESULT put_ProgKorName(BSTR newVal) noexcept override;
    HRESULT put_ViewConfirm(LONG newVal) noexcept override;
    HRESULT put_ViewProgress(LONG newVal) noexcept override;
    HRESULT put_Waiting(LONG newVal) noexcept override;
    HRESULT put_Argument(BSTR newVal) noexcept override;
    HRESULT ShowWindowHandle() noexcept override;
    HRESULT NotifyPartner(BSTR *bstrPartnerID) noexcept override;
    HRESULT get_GlobalTag(BSTR *pVal) noexcept override;
    HRESULT put_GlobalTag(BSTR newVal) noexcept override;
    HRESULT get_Start(SHORT *pVal) noexcept override;
    HRESULT put_Start(SHORT newVal) noexcept override;
    HRESULT get_ListenPort(LONG *pVal) noexcept override;
    HRESULT put_ListenPort(LONG newVal) noexcept override;
    HRESULT get_EncoderListenPort(LONG *pVal) noexcept override;
    HRESULT put_EncoderListenPort(LONG newVal) noexcept override;
    HRESULT get_ConnectURL(BSTR *pVal) noexcept override;
    HRESULT put_ConnectURL(BSTR newVal) noexcept override;
    HRESULT get_ConnectPort(LONG *pVal) noexcept override;
    HRESULT put_ConnectPort(LONG newVal) noexcept override;
    HRESULT get_ConnectEncodeURL(BSTR *pVal) noexcept override;
    HRESULT put_ConnectEncodeURL(BSTR newVal) noexcept override;
    HRESULT get_ConnectEncoderPort(LONG *pVal) noexcept override;
    HRESULT put_ConnectEncoderPort(LONG newVal) noexcept override;
    HRESULT get_OnAirURL(BSTR *pVal) noexcept override;
    HRESULT put_OnAirURL(BSTR newVal) noexcept override;
    HRESULT get_OffAirURL(BSTR *pVal) noexcept override;
    HRESULT put_OffAirURL(BSTR newVal) noexcept override;
    HRESULT get_Launcher(SHORT *pVal) noexcept override;
    HRESULT put_Launcher(SHORT newVal) noexcept override;

    // IObjectSafety
    HRESULT GetInterfaceSafetyOptions(REFIID riid, DWORD *supported, DWORD *enabled) noexcept override;
    HRESULT SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD options) noexcept override;

    // IPersist, IPersistPropertyBag
    HRESULT GetClassID(CLSID *clsid) noexcept override;
    HRESULT InitNew() noexcept override;
    HRESULT Load(IPropertyBag *bag, IErrorLog *log) noexcept override;
    HRESULT Save(IPropertyBag *bag, BOOL clearDirty, BOOL saveAll) noexcept override;

    // IInstallerResult
    HRESULT GetLastResult(BSTR *pVal) noexcept override;

private:
    static HRESULT PutText(std::string &field, BSTR value) noexcept;
    static HRESULT GetText(const std::string &field, BSTR *out) noexcept;
    template <typename T> static HRESULT GetValue(T field, T *out) noexcept
    {
        if (out == nullptr)
            return E_POINTER;
        *out = field;
        return S_OK;
    }
    // A property put or get through IDispatch with `value` converted to the
    // property's type.
    HRESULT PutProperty(const CInstallerMember &member, const VARIANT &value) noexcept;
    HRESULT GetProperty(const CInstallerMember &member, VARIANT *result) noexcept;
    bool Answers(REFIID riid) const;

    std::atomic<ULONG> m_refs{1};
    std::string m_serviceBase;
    std::string m_publicKey;
    std::unique_ptr<IInstallWindows> m_windows;
    CInstallerState m_state;
    DWORD m_safetyOptions = 0;
    bool m_installing = false;
};
