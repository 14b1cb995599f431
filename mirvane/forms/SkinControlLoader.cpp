#include "SkinControlLoader.h"

#include "platform/Registry.h"

std::string RegisteredSkinControlPath()
{
    platform::RegistryKey key;
    const std::string subKey = std::string("CLSID\\") + CLSID_SkinControl + "\\InprocServer32";
    if (FAILED(platform::RegistryKey::Open(platform::RegRoot::HKCR, subKey, key)))
        return {};
    return key.ReadString("").value_or(std::string());
}

ISkinControl *CreateRegisteredSkinControl(platform::CModule &module, QWidget *window, std::string &error)
{
    const std::string path = RegisteredSkinControlPath();
    if (path.empty()) {
        error = "the skin control is not registered";
        return nullptr;
    }
    if (!module.Load(path)) {
        error = path + ": " + module.LastError();
        return nullptr;
    }
    const auto create = module.Function<CreateSkinControlFn>(SKIN_CONTROL_FACTORY);
    if (!create) {
        error = path + ": no " + SKIN_CONTROL_FACTORY;
        return nullptr;
    }
    ISkinControl *control = create(IID_ISkinControl, window);
    if (!control)
        error = path + ": the library made no skin control";
    return control;
}
