#pragma once
// What DllRegisterServer and DllUnregisterServer write and remove.
//
// Under HKEY_CLASSES_ROOT (the registry store):
//   KerrowInstaller.Installer.1   = "Installer Class", CLSID
//   KerrowInstaller.Installer     = "Installer Class", CLSID, CurVer
//   CLSID\{E8E20D57-...}          = "Installer Class": ProgID,
//       VersionIndependentProgID, Programmable, InprocServer32 (module path,
//       ThreadingModel "Apartment"), Control, Insertable, ToolboxBitmap32
//       (module path + ", 101"), MiscStatus "0" with 1 = "131473", TypeLib,
//       Version "1.0", value AppID, Elevation (Enabled = 1), value
//       LocalizedString ("@" + module path + ",-101"), and our values
//       ServiceURL, the service site's base URL fixed at registration, and
//       PublicKey, the key (base64 Ed25519) its web scripts are signed with:
//       the build's own, so only the service of this build is trusted
//   TypeLib\{788F8DBB-...}\1.0    the type library (0\win32 = module path)
//   Interface\{...}               IInstaller and the two event interfaces
//   AppID\{DE0A412C-...}          = "KerrowInstaller"
// and KerrowHost.exe as the handler of kerrow: URLs (CSchemeHandler.h).
#include "platform/Win32Types.h"

#include <string>

struct CRegistrationInfo {
    std::string modulePath;  // KerrowInstaller.dll, full path
    std::string hostPath;    // KerrowHost.exe, full path
    std::string serviceBase; // the service site's base URL
    std::string publicKey;   // its script key (base64 Ed25519)
};

// Writes everything; on any failure removes what it wrote and returns
// SELFREG_E_CLASS.
HRESULT RegisterInstallerServer(const CRegistrationInfo &info);
// Removes everything; S_OK also when nothing was registered.
HRESULT UnregisterInstallerServer();

// What the registration recorded: the module path under InprocServer32, the
// service base URL and the script key; empty when not registered.
std::string RegisteredServerPath();
std::string RegisteredServiceBase();
std::string RegisteredPublicKey();
