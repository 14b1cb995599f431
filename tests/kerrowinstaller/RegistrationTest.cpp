// Registration of the control: the registry store's HKCR keys, KerrowHost.exe
// as the desktop's kerrow: handler (as xdg-mime itself reads it), and the
// removal of both; in process and through regsvr32.exe on the built library.
#include "Registration.h"
#include "CSchemeHandler.h"

#include "KerrowGuids.h"

#include "KerrowTestEnv.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using platform::RegRoot;

const std::string kClass = "CLSID\\{E8E20D57-3D5B-4A2D-B710-252900B66685}";

std::string Value(const std::string &key, const std::string &name = "")
{
    platform::RegistryKey opened;
    if (FAILED(platform::RegistryKey::Open(RegRoot::HKCR, key, opened)))
        return "<no key>";
    return opened.ReadString(name).value_or("<no value>");
}

bool KeyExists(const std::string &key)
{
    platform::RegistryKey opened;
    return SUCCEEDED(platform::RegistryKey::Open(RegRoot::HKCR, key, opened));
}

std::string XdgMimeDefault(const KerrowTestEnv &env)
{
    const ProgramResult r = RunProgram("/usr/bin/xdg-mime", {"query", "default", "x-scheme-handler/kerrow"},
                                       env.Path("home"), env.ChildEnvironment());
    std::string out = r.out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

} // namespace

TEST(KerrowRegistration, WritesTheClassAndTheHandlerAndRemovesBoth)
{
    KerrowTestEnv env("kerrow-registration");
    const std::string module = env.Path("bin/KerrowInstaller.dll");
    const std::string host = env.Path("bin/KerrowHost.exe");
    fs::create_directories(env.Path("bin"));
    std::ofstream(host) << "#!/bin/sh\n";
    // Someone else's defaults stay as they are.
    fs::create_directories(env.Path("config"));
    std::ofstream(env.Path("config") + "/mimeapps.list")
        << "[Default Applications]\ntext/html=firefox.desktop\nx-scheme-handler/kerrow=old.desktop\n"
           "[Added Associations]\nimage/png=viewer.desktop;\n";

    ASSERT_EQ(RegisterInstallerServer({module, host, "http://127.0.0.1:9/"}), S_OK);
    EXPECT_EQ(Value("KerrowInstaller.Installer.1"), "Installer Class");
    EXPECT_EQ(Value("KerrowInstaller.Installer.1\\CLSID"), "{E8E20D57-3D5B-4A2D-B710-252900B66685}");
    EXPECT_EQ(Value("KerrowInstaller.Installer"), "Installer Class");
    EXPECT_EQ(Value("KerrowInstaller.Installer\\CLSID"), "{E8E20D57-3D5B-4A2D-B710-252900B66685}");
    EXPECT_EQ(Value("KerrowInstaller.Installer\\CurVer"), "KerrowInstaller.Installer.1");
    EXPECT_EQ(Value(kClass), "Installer Class");
    EXPECT_EQ(Value(kClass + "\\ProgID"), "KerrowInstaller.Installer.1");
    EXPECT_EQ(Value(kClass + "\\VersionIndependentProgID"), "KerrowInstaller.Installer");
    EXPECT_TRUE(KeyExists(kClass + "\\Programmable"));
    EXPECT_EQ(Value(kClass + "\\InprocServer32"), module);
    EXPECT_EQ(Value(kClass + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_TRUE(KeyExists(kClass + "\\Control"));
    EXPECT_TRUE(KeyExists(kClass + "\\Insertable"));
    EXPECT_EQ(Value(kClass + "\\ToolboxBitmap32"), module + ", 101");
    EXPECT_EQ(Value(kClass + "\\MiscStatus"), "0");
    EXPECT_EQ(Value(kClass + "\\MiscStatus\\1"), "131473");
    EXPECT_EQ(Value(kClass + "\\TypeLib"), "{788F8DBB-55C9-44FC-BF2D-49D42DB289C8}");
    EXPECT_EQ(Value(kClass + "\\Version"), "1.0");
    EXPECT_EQ(Value(kClass, "AppID"), "{DE0A412C-8054-4859-B44D-D8F4C8F6FF34}");
    platform::RegistryKey elevation;
    ASSERT_EQ(platform::RegistryKey::Open(RegRoot::HKCR, kClass + "\\Elevation", elevation), S_OK);
    EXPECT_EQ(elevation.ReadDword("Enabled").value_or(0), 1u);
    EXPECT_EQ(Value(kClass, "LocalizedString"), "@" + module + ",-101");
    EXPECT_EQ(Value("TypeLib\\{788F8DBB-55C9-44FC-BF2D-49D42DB289C8}\\1.0\\0\\win32"), module);
    EXPECT_EQ(Value("Interface\\{EF4D5C09-7A7C-4984-8DE7-02E8C4B2E8BD}"), "IInstaller");
    EXPECT_EQ(RegisteredServerPath(), module);
    EXPECT_EQ(RegisteredServiceBase(), "http://127.0.0.1:9/");

    // The handler, as the desktop's own tools read it.
    const std::string entry = TestDir::Read(env.Applications() + "/kerrow-launcher.desktop");
    EXPECT_NE(entry.find("Exec=" + host + " %u\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("MimeType=x-scheme-handler/kerrow;\n"), std::string::npos) << entry;
    EXPECT_EQ(CSchemeHandler::DefaultHandler(), "kerrow-launcher.desktop");
    EXPECT_EQ(XdgMimeDefault(env), "kerrow-launcher.desktop");
    const std::string list = TestDir::Read(env.Path("config") + "/mimeapps.list");
    EXPECT_NE(list.find("text/html=firefox.desktop"), std::string::npos);
    EXPECT_NE(list.find("image/png=viewer.desktop;"), std::string::npos);
    EXPECT_EQ(list.find("old.desktop"), std::string::npos);

    // Registering again changes nothing.
    ASSERT_EQ(RegisterInstallerServer({module, host, "http://127.0.0.1:9/"}), S_OK);
    EXPECT_EQ(TestDir::Read(env.Path("config") + "/mimeapps.list"), list);

    ASSERT_EQ(UnregisterInstallerServer(), S_OK);
    for (const std::string &key :
         {std::string("KerrowInstaller.Installer.1"), std::string("KerrowInstaller.Installer"), kClass,
          std::string("TypeLib\\{788F8DBB-55C9-44FC-BF2D-49D42DB289C8}"),
          std::string("Interface\\{EF4D5C09-7A7C-4984-8DE7-02E8C4B2E8BD}"),
          std::string("AppID\\{DE0A412C-8054-4859-B44D-D8F4C8F6FF34}")})
        EXPECT_FALSE(KeyExists(key)) << key;
    EXPECT_FALSE(fs::exists(env.Applications() + "/kerrow-launcher.desktop"));
    EXPECT_EQ(XdgMimeDefault(env), "");
    const std::string after = TestDir::Read(env.Path("config") + "/mimeapps.list");
    EXPECT_NE(after.find("text/html=firefox.desktop"), std::string::npos) << after;
    EXPECT_EQ(UnregisterInstallerServer(), S_OK) << "nothing registered is no failure";
}

TEST(KerrowRegistration, WithoutItsHostNothingIsRegistered)
{
    KerrowTestEnv env("kerrow-registration-nohost");
    EXPECT_EQ(
        RegisterInstallerServer({env.Path("KerrowInstaller.dll"), env.Path("KerrowHost.exe"), "http://x"}),
        SELFREG_E_CLASS);
    EXPECT_FALSE(KeyExists(kClass));
    EXPECT_FALSE(fs::exists(env.Applications() + "/kerrow-launcher.desktop"));
    EXPECT_FALSE(fs::exists(env.Path("config") + "/mimeapps.list"));
}

TEST(KerrowRegistration, Regsvr32RegistersTheBuiltLibraryWithTheServiceUrlOfTheMoment)
{
    KerrowTestEnv env("kerrow-regsvr32");
    std::vector<std::string> childEnv = env.ChildEnvironment();
    childEnv.push_back("VELMOR_SERVICE_URL=http://127.0.0.1:4321");
    const std::string dll = ProgramPath("KerrowInstaller.dll");
    ProgramResult r = RunProgram(ProgramPath("regsvr32.exe"), {"/s", dll}, env.Path("home"), childEnv);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Value(kClass + "\\InprocServer32"), fs::canonical(dll).string());
    EXPECT_EQ(Value(kClass, "ServiceURL"), "http://127.0.0.1:4321");
    EXPECT_NE(TestDir::Read(env.Applications() + "/kerrow-launcher.desktop")
                  .find(fs::canonical(ProgramPath("KerrowHost.exe")).string()),
              std::string::npos);
    EXPECT_EQ(XdgMimeDefault(env), "kerrow-launcher.desktop");

    r = RunProgram(ProgramPath("regsvr32.exe"), {"/s", "/u", dll}, env.Path("home"), env.ChildEnvironment());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(KeyExists(kClass));
    EXPECT_FALSE(fs::exists(env.Applications() + "/kerrow-launcher.desktop"));
}

TEST(KerrowRegistration, UnregisteringTakesOnlyOurEntryAndKeepsALinkedList)
{
    KerrowTestEnv env("kerrow-registration-shared");
    const std::string host = env.Path("KerrowHost.exe");
    std::ofstream(host) << "#!/bin/sh\n";
    // The user's list lives elsewhere and is linked in, as dotfile managers do.
    const std::string real = env.Path("dotfiles/mimeapps.list");
    const std::string linked = env.Path("config") + "/mimeapps.list";
    fs::create_directories(env.Path("dotfiles"));
    fs::create_directories(env.Path("config"));
    fs::create_symlink("../dotfiles/mimeapps.list", linked);
    std::ofstream(real) << "[Default Applications]\ntext/html=firefox.desktop\n"
                           "[Added Associations]\n"
                           "x-scheme-handler/kerrow=other.desktop;kerrow-launcher.desktop;last.desktop;\n";

    ASSERT_TRUE(CSchemeHandler::Register(host));
    EXPECT_TRUE(fs::is_symlink(linked));
    EXPECT_EQ(CSchemeHandler::DefaultHandler(), "kerrow-launcher.desktop");
    ASSERT_TRUE(CSchemeHandler::Unregister());
    EXPECT_TRUE(fs::is_symlink(linked)) << "the link stays";
    EXPECT_EQ(TestDir::Read(real), "[Default Applications]\ntext/html=firefox.desktop\n"
                                   "[Added Associations]\n"
                                   "x-scheme-handler/kerrow=other.desktop;last.desktop;\n");
}
