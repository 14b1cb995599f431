#pragma once
// The identity of the web launcher control (type library KERROWINSTALLERLib
// 1.0) and the identifiers of the standard interfaces it answers.
#include "ComTypes.h"

extern const GUID LIBID_KERROWINSTALLERLib; // {788F8DBB-55C9-44FC-BF2D-49D42DB289C8}
extern const CLSID CLSID_Installer;         // {E8E20D57-3D5B-4A2D-B710-252900B66685} "Installer Class"
extern const IID IID_IInstaller;            // {EF4D5C09-7A7C-4984-8DE7-02E8C4B2E8BD}
extern const IID DIID__DIInstallerEvent;    // {51180508-7064-4738-8C88-6AAC34626311}
extern const IID IID_IInstallerEvent;       // {5BD3B2AD-10E0-4A9F-A056-84CFB4A50D53}
extern const GUID APPID_KerrowInstaller;    // {DE0A412C-8054-4859-B44D-D8F4C8F6FF34}
extern const IID IID_IInstallerResult;      // ours: {6B1F3C52-0E4D-4B7A-9C26-3D5E8A1F7B40}

extern const IID IID_IUnknown;            // {00000000-0000-0000-C000-000000000046}
extern const IID IID_IClassFactory;       // {00000001-0000-0000-C000-000000000046}
extern const IID IID_IDispatch;           // {00020400-0000-0000-C000-000000000046}
extern const IID IID_IPersist;            // {0000010C-0000-0000-C000-000000000046}
extern const IID IID_IPersistPropertyBag; // {37D84F60-42CB-11CE-8135-00AA004BB851}
extern const IID IID_IPropertyBag;        // {55272A00-42CB-11CE-8135-00AA004BB851}
extern const IID IID_IObjectSafety;       // {CB5BDC81-93C1-11CF-8F20-00805F2CD064}

// ProgIDs and names the registration writes.
inline constexpr char kInstallerProgId[] = "KerrowInstaller.Installer.1";
inline constexpr char kInstallerVersionIndependentProgId[] = "KerrowInstaller.Installer";
inline constexpr char kInstallerClassName[] = "Installer Class";
