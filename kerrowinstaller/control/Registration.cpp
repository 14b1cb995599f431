#include "Registration.h"

#include "CSchemeHandler.h"

#include "ComTypes.h"
#include "KerrowGuids.h"

#include "CLogFile.h"

#include "platform/Registry.h"

#include <cerrno>
#include <filesystem>
#include <string_view>

namespace {

using platform::RegistryKey;
using platform::RegRoot;

const char kProxyStub[] = "{00020424-0000-0000-C000-000000000046}";

std::string ClassKey()
{
    return "CLSID\\" + GuidToString(CLSID_Installer);
}

// Collects the first failure of a run of writes.
class CWriter {
public:
    void Value(const std::string &key, std::string_view name, std::string_view value)
    {
        RegistryKey opened;
        HRESULT hr = RegistryKey::Create(RegRoot::HKCR, key, opened);
        if (SUCCEEDED(hr))
            hr = opened.WriteString(name, value);
        Note(hr, key);
    }
    void Number(const std::string &key, std::string_view name, DWORD value)
    {
        RegistryKey opened;
        HRESULT hr = RegistryKey::Create(RegRoot::HKCR, key, opened);
        if (SUCCEEDED(hr))
            hr = opened.WriteDword(name, value);
        Note(hr, key);
    }
    void Key(const std::string &key)
    {
        RegistryKey opened;
        Note(RegistryKey::Create(RegRoot::HKCR, key, opened), key);
    }
    bool Ok() const { return SUCCEEDED(m_hr); }

private:
    void Note(HRESULT hr, const std::string &key)
    {
        if (FAILED(hr) && SUCCEEDED(m_hr)) {
            VLOG("Kerrow", "Could not write HKCR\\%s (hr=0x%08x).\n", key.c_str(), static_cast<unsigned>(hr));
            m_hr = hr;
        }
    }
    HRESULT m_hr = S_OK;
};

void WriteClasses(CWriter &w, const CRegistrationInfo &info)
{
    const std::string clsid = GuidToString(CLSID_Installer);
    const std::string libid = GuidToString(LIBID_KERROWINSTALLERLib);
    const std::string appid = GuidToString(APPID_KerrowInstaller);

    w.Value(kInstallerProgId, "", kInstallerClassName);
    w.Value(std::string(kInstallerProgId) + "\\CLSID", "", clsid);
    w.Value(kInstallerVersionIndependentProgId, "", kInstallerClassName);
    w.Value(std::string(kInstallerVersionIndependentProgId) + "\\CLSID", "", clsid);
    w.Value(std::string(kInstallerVersionIndependentProgId) + "\\CurVer", "", kInstallerProgId);

    const std::string key = ClassKey();
    w.Value(key, "", kInstallerClassName);
    w.Value(key + "\\ProgID", "", kInstallerProgId);
    w.Value(key + "\\VersionIndependentProgID", "", kInstallerVersionIndependentProgId);
    w.Key(key + "\\Programmable");
    w.Value(key + "\\InprocServer32", "", info.modulePath);
    w.Value(key + "\\InprocServer32", "ThreadingModel", "Apartment");
    w.Key(key + "\\Control");
    w.Key(key + "\\Insertable");
    w.Value(key + "\\ToolboxBitmap32", "", info.modulePath + ", 101");
    w.Value(key + "\\MiscStatus", "", "0");
    w.Value(key + "\\MiscStatus\\1", "", "131473");
    w.Value(key + "\\TypeLib", "", libid);
    w.Value(key + "\\Version", "", "1.0");
    w.Value(key, "AppID", appid);
    w.Number(key + "\\Elevation", "Enabled", 1);
    w.Value(key, "LocalizedString", "@" + info.modulePath + ",-101");
    w.Value(key, "ServiceURL", info.serviceBase);
    w.Value(key, "PublicKey", info.publicKey);

    const std::string lib = "TypeLib\\" + libid + "\\1.0";
    w.Value(lib, "", "KerrowInstaller 1.0 Type Library");
    w.Value(lib + "\\0\\win32", "", info.modulePath);
    w.Value(lib + "\\FLAGS", "", "0");
    w.Value(lib + "\\HELPDIR", "", std::filesystem::path(info.modulePath).parent_path().string());
    const struct {
        const IID &iid;
        const char *name;
    } interfaces[] = {{IID_IInstaller, "IInstaller"},
                      {DIID__DIInstallerEvent, "_DIInstallerEvent"},
                      {IID_IInstallerEvent, "IInstallerEvent"}};
    for (const auto &item : interfaces) {
        const std::string iface = "Interface\\" + GuidToString(item.iid);
        w.Value(iface, "", item.name);
        w.Value(iface + "\\ProxyStubClsid32", "", kProxyStub);
        w.Value(iface + "\\TypeLib", "", libid);
        w.Value(iface + "\\TypeLib", "Version", "1.0");
    }
    w.Value("AppID\\" + appid, "", "KerrowInstaller");
}

HRESULT DeleteKey(const std::string &key)
{
    const HRESULT hr = RegistryKey::DeleteKey(RegRoot::HKCR, key);
    if (FAILED(hr) && hr != HRESULT_FROM_ERRNO(ENOENT)) {
        VLOG("Kerrow", "Could not delete HKCR\\%s (hr=0x%08x).\n", key.c_str(), static_cast<unsigned>(hr));
        return hr;
    }
    return S_OK;
}

std::string ReadClassValue(const std::string &key, std::string_view name)
{
    RegistryKey opened;
    if (FAILED(RegistryKey::Open(RegRoot::HKCR, key, opened)))
        return std::string();
    return opened.ReadString(name).value_or(std::string());
}

} // namespace

HRESULT RegisterInstallerServer(const CRegistrationInfo &info)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(info.hostPath, ec)) {
        VLOG("Kerrow", "KerrowHost.exe is not beside the control (%s).\n", info.hostPath.c_str());
        return SELFREG_E_CLASS;
    }
    CWriter writer;
    WriteClasses(writer, info);
    if (!writer.Ok() || !CSchemeHandler::Register(info.hostPath)) {
        UnregisterInstallerServer();
        return SELFREG_E_CLASS;
    }
    VLOG("Kerrow", "Registered %s with the service site %s.\n", info.modulePath.c_str(),
         info.serviceBase.c_str());
    return S_OK;
}

HRESULT UnregisterInstallerServer()
{
    HRESULT result = S_OK;
    const auto note = [&result](HRESULT hr) {
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    };
    note(DeleteKey(kInstallerProgId));
    note(DeleteKey(kInstallerVersionIndependentProgId));
    note(DeleteKey(ClassKey()));
    note(DeleteKey("TypeLib\\" + GuidToString(LIBID_KERROWINSTALLERLib)));
    for (const IID *iid : {&IID_IInstaller, &DIID__DIInstallerEvent, &IID_IInstallerEvent})
        note(DeleteKey("Interface\\" + GuidToString(*iid)));
    note(DeleteKey("AppID\\" + GuidToString(APPID_KerrowInstaller)));
    if (!CSchemeHandler::Unregister())
        note(E_FAIL);
    return result;
}

std::string RegisteredServerPath()
{
    return ReadClassValue(ClassKey() + "\\InprocServer32", "");
}

std::string RegisteredServiceBase()
{
    return ReadClassValue(ClassKey(), "ServiceURL");
}

std::string RegisteredPublicKey()
{
    return ReadClassValue(ClassKey(), "PublicKey");
}
