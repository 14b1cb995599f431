// KerrowHost.exe: the handler of kerrow: URLs, playing the part a browser
// plays for a page that embeds the launcher control:
//
//   KerrowHost.exe 'kerrow:launch?Start=2&ConnectURL=...&Launcher=1'
//
// It loads KerrowInstaller.dll from the path registered under the control's
// class (HKCR\CLSID\{E8E20D57-...}\InprocServer32), creates the control
// through DllGetClassObject, marks it safe for scripting and initialisation
// as a browser asks, sets the properties a page sets from script (ProgName
// ... Argument, when the URL has them), then hands the URL's other
// parameters to the control as its property bag. The control loads them in
// its property map's order whatever the URL's order, so "Launcher", last,
// starts the install-and-launch with everything else in place.
//
// It prints "result: TEXT" with the control's last result text and ends
// with 0 when the program started, was started waiting, or no start was
// asked for; 1 for any other result; 2 when the URL is refused or the
// control cannot be loaded (after a message captioned "펠룬").
#include "CKerrowUrl.h"
#include "CUrlPropertyBag.h"

#include "CComPtr.h"
#include "IInstaller.h"
#include "InstallerPropertyMap.h"
#include "KerrowExports.h"
#include "KerrowGuids.h"

#include "platform/Display.h"
#include "platform/GuiMessageBox.h"
#include "platform/MessageBox.h"
#include "platform/Module.h"
#include "platform/Registry.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

enum ExitStatus : int { EXIT_STARTED = 0, EXIT_OTHER_RESULT = 1, EXIT_REFUSED = 2 };

const char kCaption[] = "펠룬";
const char kResultFail[] = "Fail";

int Refuse(const std::string &text)
{
    platform::ShowMessageBox(text, kCaption, platform::MB_OK);
    std::printf("result: %s\n", kResultFail);
    return EXIT_REFUSED;
}

std::string RegisteredControlPath()
{
    platform::RegistryKey key;
    if (FAILED(platform::RegistryKey::Open(
            platform::RegRoot::HKCR, "CLSID\\" + GuidToString(CLSID_Installer) + "\\InprocServer32", key)))
        return std::string();
    return key.ReadString("").value_or(std::string());
}

std::string HexCode(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(hr));
    return text;
}

// Sets one property through the dispatch side, as a page's script does.
HRESULT PutByName(IInstaller *control, const std::string &name, const std::string &value)
{
    const CComBSTR member(name);
    const OLECHAR *names[] = {member.Get()};
    DISPID id = -1;
    HRESULT hr = control->GetIDsOfNames(names, 1, &id);
    if (FAILED(hr))
        return hr;
    CComVariant argument(value);
    DISPPARAMS params{&argument, 1};
    return control->Invoke(id, DISPATCH_PROPERTYPUT, &params, nullptr);
}

int Run(const std::string &url)
{
    std::string error;
    const std::optional<CKerrowUrl> parsed = CKerrowUrl::Parse(url, error);
    if (!parsed)
        return Refuse("웹 페이지의 설치 요청을 읽을 수 없습니다.\n\n" + error);
    for (const std::string &name : parsed->Ignored())
        std::fprintf(stderr, "KerrowHost: the parameter \"%s\" is no property-bag name and is ignored.\n",
                     name.c_str());

    const std::string path = RegisteredControlPath();
    if (path.empty())
        return Refuse("웹 런처(KerrowInstaller.dll)가 등록되어 있지 않습니다.\n\n"
                      "regsvr32.exe KerrowInstaller.dll 로 등록한 뒤 다시 시도해 주세요.");
    platform::CModule module;
    if (!module.Load(path))
        return Refuse("웹 런처 '" + path + "'(을)를 불러오지 못했습니다.\n\n" + module.LastError());
    const auto getClassObject = module.Function<DllGetClassObjectFn>(kDllGetClassObject);
    if (getClassObject == nullptr)
        return Refuse("'" + path + "'(은)는 웹 런처가 아닙니다 (DllGetClassObject가 없습니다).");

    int status = EXIT_STARTED;
    {
        CComPtr<IClassFactory> factory;
        HRESULT hr = getClassObject(CLSID_Installer, IID_IClassFactory, factory.Out());
        CComPtr<IInstaller> control;
        if (SUCCEEDED(hr))
            hr = factory->CreateInstance(nullptr, IID_IInstaller, control.Out());
        if (FAILED(hr))
            return Refuse("웹 런처를 만들지 못했습니다 (" + HexCode(hr) + ").");

        // A browser asks first whether the control may be scripted and
        // initialised from the page.
        CComPtr<IObjectSafety> safety;
        if (SUCCEEDED(control.QueryInterface(IID_IObjectSafety, safety))) {
            const DWORD both = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
            if (FAILED(safety->SetInterfaceSafetyOptions(IID_IDispatch, both, both)) ||
                FAILED(safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, both, both)))
                return Refuse("웹 런처가 웹 페이지에서 쓰기에 안전하지 않다고 합니다.");
        }

        // The page's script first, in a fixed order.
        for (const CInstallerMember &member : ScriptProperties()) {
            if (const CKerrowUrl::Parameter *parameter = parsed->Find(member.name)) {
                hr = PutByName(control.Get(), member.name, parameter->value);
                if (FAILED(hr))
                    return Refuse("'" + std::string(member.name) + "' 값 '" + parameter->value.substr(0, 40) +
                                  "'(을)를 웹 런처에 설정하지 못했습니다 (" + HexCode(hr) + ").");
            }
        }

        // Then the parameters, in the control's property-map order.
        CComPtr<IPersistPropertyBag> persist;
        hr = control.QueryInterface(IID_IPersistPropertyBag, persist);
        if (SUCCEEDED(hr)) {
            persist->InitNew();
            CUrlPropertyBag bag(*parsed);
            hr = persist->Load(&bag, nullptr);
        }
        if (FAILED(hr))
            return Refuse("웹 페이지의 매개변수를 웹 런처에 넣지 못했습니다 (" + HexCode(hr) +
                          ").\n\n숫자여야 하는 값에 숫자가 아닌 글자가 있는지 확인해 주세요.");

        CComPtr<IInstallerResult> result;
        std::string text;
        if (SUCCEEDED(control.QueryInterface(IID_IInstallerResult, result))) {
            CComBSTR value;
            if (SUCCEEDED(result->GetLastResult(value.Out())))
                text = value.Utf8();
        }
        std::printf("result: %s\n", text.c_str());
        const bool started = text.empty() || text == "Success=Execute" ||
                             text == "Success = ExecuteWaitSuccess" || text == "Success=NotExecute";
        status = started ? EXIT_STARTED : EXIT_OTHER_RESULT;
    }
    // Every object is released: the library may go (it stays mapped).
    if (const auto canUnload = module.Function<DllCanUnloadNowFn>(kDllCanUnloadNow);
        canUnload && canUnload() == S_OK)
        module.Free();
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    // Without a display the windows use Qt's offscreen platform.
    platform::ChooseHeadlessPlatform();
    static int qtArgc = 1;
    static char qtName[] = "KerrowHost";
    static char *qtArgv[] = {qtName, nullptr};
    QApplication app(qtArgc, qtArgv);
    platform::InstallGuiMessageBox();

    if (argc < 2 || argv[1][0] == '\0')
        return Refuse(
            "웹 페이지의 설치 요청이 없습니다.\n\n사용법: KerrowHost.exe 'kerrow:launch?이름=값&...'");
    const int status = Run(argv[1]);
    std::fflush(stdout);
    return status;
}
