#include "CInstaller.h"

#include "CWebInstall.h"
#include "LauncherMessages.h"

#include "CComModule.h"
#include "KerrowGuids.h"

#include "CLogFile.h"

#include "platform/CodePage.h"

#include <cstdio>
#include <exception>
#include <new>

CInstaller::CInstaller(std::string serviceBase, std::string publicKey,
                       std::unique_ptr<IInstallWindows> windows)
    : m_serviceBase(std::move(serviceBase)), m_publicKey(std::move(publicKey)), m_windows(std::move(windows))
{
    while (!m_serviceBase.empty() && m_serviceBase.back() == '/')
        m_serviceBase.pop_back();
    m_state.script = m_serviceBase + kScriptPath;
    CComModule::Lock();
}

CInstaller::~CInstaller()
{
    CComModule::Unlock();
}

CInstaller *CInstaller::Create(std::string serviceBase, std::string publicKey,
                               std::unique_ptr<IInstallWindows> windows) noexcept
{
    try {
        return new CInstaller(std::move(serviceBase), std::move(publicKey), std::move(windows));
    } catch (...) {
        return nullptr;
    }
}

// ---- IUnknown -------------------------------------------------------------

bool CInstaller::Answers(REFIID riid) const
{
    return riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IInstaller ||
           riid == IID_IObjectSafety || riid == IID_IPersist || riid == IID_IPersistPropertyBag ||
           riid == IID_IInstallerResult;
}

HRESULT CInstaller::QueryInterface(REFIID riid, void **ppv) noexcept
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IInstaller)
        *ppv = static_cast<IInstaller *>(this);
    else if (riid == IID_IObjectSafety)
        *ppv = static_cast<IObjectSafety *>(this);
    else if (riid == IID_IPersist || riid == IID_IPersistPropertyBag)
        *ppv = static_cast<IPersistPropertyBag *>(this);
    else if (riid == IID_IInstallerResult)
        *ppv = static_cast<IInstallerResult *>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG CInstaller::AddRef() noexcept
{
    return m_refs.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG CInstaller::Release() noexcept
{
    const ULONG left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
        delete this;
    return left;
}

// ---- Strings ----------------------------------------------------------------

HRESULT CInstaller::PutText(std::string &field, BSTR value) noexcept
{
    try {
        // The control holds text in the ANSI code page: what CP949 cannot
        // hold does not survive the put.
        field = platform::AnsiToUtf8(platform::Utf8ToAnsi(BstrToUtf8(value)));
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CInstaller::GetText(const std::string &field, BSTR *out) noexcept
{
    if (out == nullptr)
        return E_POINTER;
    try {
        *out = Utf8ToBstr(field);
    } catch (...) {
        *out = nullptr;
    }
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// ---- IInstaller ---------------------------------------------------------------

HRESULT CInstaller::Install(LONG bExecute, LONG bShowMsg, BSTR *pVal) noexcept
{
    if (pVal != nullptr)
        *pVal = nullptr;
    HRESULT hr = S_FALSE;
    if (m_installing) {
        // A page that writes Launcher again while the progress window runs:
        // the user is told why nothing happens, as for any other failure.
        VLOG("Kerrow", "An installation is already running; this Install does nothing.\n");
        launcher::ShowMessage(launcher::FormatMessageText(launcher::kAlreadyRunning, {m_state.progKorName}));
        m_state.resultText = CWebInstall::kResultFail;
    } else {
        m_installing = true;
        try {
            AddRef(); // the page may let go of the control while it installs
            CWebInstall flow(m_state, *m_windows, m_serviceBase, m_publicKey);
            hr = flow.Run(bExecute != 0, bShowMsg != 0);
            VLOG("Kerrow", "Install(%d, %d) ended with \"%s\".\n", static_cast<int>(bExecute),
                 static_cast<int>(bShowMsg), m_state.resultText.c_str());
        } catch (const std::exception &e) {
            VLOG("Kerrow", "Install failed: %s\n", e.what());
            m_state.resultText = CWebInstall::kResultFail;
            hr = S_FALSE;
        } catch (...) {
            m_state.resultText = CWebInstall::kResultFail;
            hr = S_FALSE;
        }
        m_installing = false;
        if (pVal != nullptr)
            GetText(m_state.resultText, pVal);
        Release();
        return hr;
    }
    if (pVal != nullptr)
        GetText(m_state.resultText, pVal);
    return hr;
}

HRESULT CInstaller::put_ProgName(BSTR newVal) noexcept
{
    return PutText(m_state.progName, newVal);
}

HRESULT CInstaller::put_ExeName(BSTR newVal) noexcept
{
    return PutText(m_state.exeName, newVal);
}

HRESULT CInstaller::put_Script(BSTR newVal) noexcept
{
    return PutText(m_state.script, newVal);
}

HRESULT CInstaller::put_ProgKorName(BSTR newVal) noexcept
{
    return PutText(m_state.progKorName, newVal);
}

HRESULT CInstaller::put_ViewConfirm(LONG newVal) noexcept
{
    m_state.viewConfirm = newVal;
    return S_OK;
}

HRESULT CInstaller::put_ViewProgress(LONG newVal) noexcept
{
    m_state.viewProgress = newVal;
    return S_OK;
}

HRESULT CInstaller::put_Waiting(LONG newVal) noexcept
{
    m_state.waiting = newVal;
    return S_OK;
}

HRESULT CInstaller::put_Argument(BSTR newVal) noexcept
{
    return PutText(m_state.argument, newVal);
}

HRESULT CInstaller::ShowWindowHandle() noexcept
{
    // " /h:%d" of the control's window handle field, which feeds nothing.
    return S_OK;
}

HRESULT CInstaller::NotifyPartner(BSTR *) noexcept
{
    return S_OK;
}

HRESULT CInstaller::get_GlobalTag(BSTR *pVal) noexcept
{
    return GetText(m_state.globalTag, pVal);
}

HRESULT CInstaller::put_GlobalTag(BSTR newVal) noexcept
{
    return PutText(m_state.globalTag, newVal);
}

HRESULT CInstaller::get_Start(SHORT *pVal) noexcept
{
    return GetValue(m_state.start, pVal);
}

HRESULT CInstaller::put_Start(SHORT newVal) noexcept
{
    m_state.start = newVal;
    return S_OK;
}

HRESULT CInstaller::get_ListenPort(LONG *pVal) noexcept
{
    return GetValue(m_state.listenPort, pVal);
}

HRESULT CInstaller::put_ListenPort(LONG newVal) noexcept
{
    m_state.listenPort = newVal;
    return S_OK;
}

HRESULT CInstaller::get_EncoderListenPort(LONG *pVal) noexcept
{
    return GetValue(m_state.encoderListenPort, pVal);
}

HRESULT CInstaller::put_EncoderListenPort(LONG newVal) noexcept
{
    m_state.encoderListenPort = newVal;
    return S_OK;
}

HRESULT CInstaller::get_ConnectURL(BSTR *pVal) noexcept
{
    return GetText(m_state.connectURL, pVal);
}

HRESULT CInstaller::put_ConnectURL(BSTR newVal) noexcept
{
    return PutText(m_state.connectURL, newVal);
}

HRESULT CInstaller::get_ConnectPort(LONG *pVal) noexcept
{
    return GetValue(m_state.connectPort, pVal);
}

HRESULT CInstaller::put_ConnectPort(LONG newVal) noexcept
{
    m_state.connectPort = newVal;
    return S_OK;
}

HRESULT CInstaller::get_ConnectEncodeURL(BSTR *pVal) noexcept
{
    return GetText(m_state.connectEncodeURL, pVal);
}

HRESULT CInstaller::put_ConnectEncodeURL(BSTR newVal) noexcept
{
    return PutText(m_state.connectEncodeURL, newVal);
}

HRESULT CInstaller::get_ConnectEncoderPort(LONG *pVal) noexcept
{
    return GetValue(m_state.connectEncoderPort, pVal);
}

HRESULT CInstaller::put_ConnectEncoderPort(LONG newVal) noexcept
{
    m_state.connectEncoderPort = newVal;
    return S_OK;
}

HRESULT CInstaller::get_OnAirURL(BSTR *pVal) noexcept
{
    return GetText(m_state.onAirURL, pVal);
}

HRESULT CInstaller::put_OnAirURL(BSTR newVal) noexcept
{
    return PutText(m_state.onAirURL, newVal);
}

HRESULT CInstaller::get_OffAirURL(BSTR *pVal) noexcept
{
    return GetText(m_state.offAirURL, pVal);
}

HRESULT CInstaller::put_OffAirURL(BSTR newVal) noexcept
{
    return PutText(m_state.offAirURL, newVal);
}

HRESULT CInstaller::get_Launcher(SHORT *) noexcept
{
    return S_OK;
}

HRESULT CInstaller::put_Launcher(SHORT) noexcept
{
    // Whatever the value: install if needed and start the program, without
    // the informational messages. The result text is not returned.
    BSTR result = nullptr;
    Install(1, 0, &result);
    SysFreeString(result);
    return S_OK;
}

// ---- IDispatch ------------------------------------------------------------

HRESULT CInstaller::GetTypeInfoCount(UINT *count) noexcept
{
    if (count == nullptr)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT CInstaller::GetTypeInfo(UINT, void **typeInfo) noexcept
{
    if (typeInfo != nullptr)
        *typeInfo = nullptr;
    return E_NOTIMPL;
}

HRESULT CInstaller::GetIDsOfNames(const OLECHAR *const *names, UINT count, DISPID *ids) noexcept
{
    if (names == nullptr || ids == nullptr)
        return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        const OLECHAR *name = names[i];
        std::string text;
        for (; name != nullptr && *name != 0 && text.size() < 64; ++name)
            text.push_back(*name < 0x80 ? static_cast<char>(*name) : '?');
        const CInstallerMember *member = FindInstallerMember(text);
        ids[i] = member != nullptr ? member->dispid : -1;
        if (member == nullptr)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT CInstaller::PutProperty(const CInstallerMember &member, const VARIANT &value) noexcept
{
    VARIANT converted;
    VariantInit(&converted);
    HRESULT hr = VariantChangeType(&converted, &value, member.vt);
    if (FAILED(hr))
        return hr;
    switch (member.dispid) {
    case DISPID_ProgName:
        hr = put_ProgName(converted.bstrVal);
        break;
    case DISPID_ExeName:
        hr = put_ExeName(converted.bstrVal);
        break;
    case DISPID_Script:
        hr = put_Script(converted.bstrVal);
        break;
    case DISPID_ProgKorName:
        hr = put_ProgKorName(converted.bstrVal);
        break;
    case DISPID_ViewConfirm:
        hr = put_ViewConfirm(converted.lVal);
        break;
    case DISPID_ViewProgress:
        hr = put_ViewProgress(converted.lVal);
        break;
    case DISPID_Waiting:
        hr = put_Waiting(converted.lVal);
        break;
    case DISPID_Argument:
        hr = put_Argument(converted.bstrVal);
        break;
    case DISPID_GlobalTag:
        hr = put_GlobalTag(converted.bstrVal);
        break;
    case DISPID_Start:
        hr = put_Start(converted.iVal);
        break;
    case DISPID_ListenPort:
        hr = put_ListenPort(converted.lVal);
        break;
    case DISPID_EncoderListenPort:
        hr = put_EncoderListenPort(converted.lVal);
        break;
    case DISPID_ConnectURL:
        hr = put_ConnectURL(converted.bstrVal);
        break;
    case DISPID_ConnectPort:
        hr = put_ConnectPort(converted.lVal);
        break;
    case DISPID_ConnectEncodeURL:
        hr = put_ConnectEncodeURL(converted.bstrVal);
        break;
    case DISPID_ConnectEncoderPort:
        hr = put_ConnectEncoderPort(converted.lVal);
        break;
    case DISPID_OnAirURL:
        hr = put_OnAirURL(converted.bstrVal);
        break;
    case DISPID_OffAirURL:
        hr = put_OffAirURL(converted.bstrVal);
        break;
    case DISPID_Launcher:
        hr = put_Launcher(converted.iVal);
        break;
    default:
        hr = DISP_E_MEMBERNOTFOUND;
        break;
    }
    VariantClear(&converted);
    return hr;
}

HRESULT CInstaller::GetProperty(const CInstallerMember &member, VARIANT *result) noexcept
{
    if (result == nullptr)
        return S_OK;
    VariantClear(result);
    result->vt = member.vt;
    switch (member.dispid) {
    case DISPID_GlobalTag:
        return get_GlobalTag(&result->bstrVal);
    case DISPID_Start:
        return get_Start(&result->iVal);
    case DISPID_ListenPort:
        return get_ListenPort(&result->lVal);
    case DISPID_EncoderListenPort:
        return get_EncoderListenPort(&result->lVal);
    case DISPID_ConnectURL:
        return get_ConnectURL(&result->bstrVal);
    case DISPID_ConnectPort:
        return get_ConnectPort(&result->lVal);
    case DISPID_ConnectEncodeURL:
        return get_ConnectEncodeURL(&result->bstrVal);
    case DISPID_ConnectEncoderPort:
        return get_ConnectEncoderPort(&result->lVal);
    case DISPID_OnAirURL:
        return get_OnAirURL(&result->bstrVal);
    case DISPID_OffAirURL:
        return get_OffAirURL(&result->bstrVal);
    case DISPID_Launcher:
        // The get writes nothing: the caller sees an empty value.
        VariantInit(result);
        return get_Launcher(&result->iVal);
    default:
        VariantInit(result);
        return DISP_E_MEMBERNOTFOUND;
    }
}

HRESULT CInstaller::Invoke(DISPID id, WORD flags, DISPPARAMS *params, VARIANT *result) noexcept
{
    const CInstallerMember *member = FindInstallerMember(id);
    if (member == nullptr)
        return DISP_E_MEMBERNOTFOUND;
    const UINT argc = params != nullptr ? params->cArgs : 0;
    if ((flags & DISPATCH_PROPERTYPUT) != 0) {
        if (!member->canPut)
            return DISP_E_MEMBERNOTFOUND;
        if (argc != 1 || params->rgvarg == nullptr)
            return DISP_E_BADPARAMCOUNT;
        return PutProperty(*member, params->rgvarg[0]);
    }
    if ((flags & DISPATCH_PROPERTYGET) != 0 && member->canGet)
        return GetProperty(*member, result);
    if ((flags & DISPATCH_METHOD) == 0)
        return DISP_E_MEMBERNOTFOUND;
    switch (id) {
    case DISPID_Install: {
        // Arguments come last first: (bShowMsg, bExecute).
        if (argc != 2 || params->rgvarg == nullptr)
            return DISP_E_BADPARAMCOUNT;
        CComVariant execute;
        CComVariant showMessages;
        HRESULT hr = VariantChangeType(&execute, &params->rgvarg[1], VT_I4);
        if (SUCCEEDED(hr))
            hr = VariantChangeType(&showMessages, &params->rgvarg[0], VT_I4);
        if (FAILED(hr))
            return hr;
        BSTR text = nullptr;
        hr = Install(execute.lVal, showMessages.lVal, &text);
        if (result != nullptr) {
            VariantClear(result);
            result->vt = VT_BSTR;
            result->bstrVal = text;
        } else {
            SysFreeString(text);
        }
        return hr;
    }
    case DISPID_ShowWindowHandle:
        return ShowWindowHandle();
    case DISPID_NotifyPartner:
        return NotifyPartner(nullptr);
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

// ---- IObjectSafety ----------------------------------------------------------

HRESULT CInstaller::GetInterfaceSafetyOptions(REFIID riid, DWORD *supported, DWORD *enabled) noexcept
{
    if (supported == nullptr || enabled == nullptr)
        return E_POINTER;
    if (!Answers(riid)) {
        *supported = 0;
        *enabled = 0;
        return E_NOINTERFACE;
    }
    *supported = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    *enabled = m_safetyOptions;
    return S_OK;
}

HRESULT CInstaller::SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD options) noexcept
{
    if (!Answers(riid))
        return E_NOINTERFACE;
    const DWORD supported = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    if ((mask & ~supported) != 0)
        return E_FAIL;
    m_safetyOptions = (m_safetyOptions & ~mask) | (options & mask);
    return S_OK;
}

// ---- IPersistPropertyBag ------------------------------------------------------

HRESULT CInstaller::GetClassID(CLSID *clsid) noexcept
{
    if (clsid == nullptr)
        return E_POINTER;
    *clsid = CLSID_Installer;
    return S_OK;
}

HRESULT CInstaller::InitNew() noexcept
{
    return S_OK;
}

HRESULT CInstaller::Load(IPropertyBag *bag, IErrorLog *log) noexcept
{
    if (bag == nullptr)
        return E_POINTER;
    // The extent first, then the property map in its order; a name the bag
    // does not hold is passed over, a value that does not convert to its
    // property's type ends the load (so "Launcher", last, does not run).
    for (const auto &[name, extent] :
         {std::pair<const char *, LONG *>{kExtentX, &m_state.extentCx}, {kExtentY, &m_state.extentCy}}) {
        CComVariant value;
        const CComBSTR bagName(name);
        if (SUCCEEDED(bag->Read(bagName.Get(), &value, log))) {
            CComVariant number;
            if (SUCCEEDED(VariantChangeType(&number, &value, VT_I4)))
                *extent = number.lVal;
        }
    }
    for (const CInstallerMember &member : PersistedProperties()) {
        CComVariant value;
        const CComBSTR bagName(member.name);
        if (FAILED(bag->Read(bagName.Get(), &value, log)))
            continue;
        const HRESULT hr = PutProperty(member, value);
        if (FAILED(hr)) {
            VLOG("Kerrow", "The page's parameter \"%s\" does not fit its property (hr=0x%08x).\n",
                 member.name, static_cast<unsigned>(hr));
            return hr;
        }
    }
    return S_OK;
}

HRESULT CInstaller::Save(IPropertyBag *, BOOL, BOOL) noexcept
{
    // A page never saves the control.
    return E_NOTIMPL;
}

// ---- IInstallerResult -------------------------------------------------------

HRESULT CInstaller::GetLastResult(BSTR *pVal) noexcept
{
    return GetText(m_state.resultText, pVal);
}
