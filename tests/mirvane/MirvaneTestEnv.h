#pragma once
// A private machine for one updater test (EngineTestEnv: home, XDG folders,
// Windows folder, temporary folder, registry store, a restart command that
// only records), plus what the updater needs around it: an install folder
// with its "Mirvane.cfg", the install folder recorded in the registry, the
// skin control registered, a stand-in site, and a browser that only writes
// down the pages it was asked to open.
#include "BuildSiteKey.h"
#include "EngineTestEnv.h"
#include "RunProgram.h"
#include "ServiceSite.h"

#include "platform/CodePage.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

class MirvaneTestEnv : public EngineTestEnv {
public:
    // The build's own site folder and the key its scripts are signed with.
    static std::string BuildSite() { return std::string(VELMOR_BINARY_DIR) + "/site"; }
    static std::string SiteKey() { return BuildSiteKey(); }
    static std::string SitePublicKey() { return BuildSitePublicKey(); }

    explicit MirvaneTestEnv(const std::string &name) : EngineTestEnv(name)
    {
        std::filesystem::create_directories(Install());
        std::filesystem::create_directories(Path("bin"));
        // The desktop's browser: records the page and ends.
        const std::string browser = Path("bin") + "/xdg-open";
        std::ofstream(browser) << "#!/bin/sh\necho \"$1\" >> '" << Path("opened-pages") << "'\n";
        ::chmod(browser.c_str(), 0755);
        const char *path = std::getenv("PATH");
        Set("PATH", Path("bin") + ":" + (path ? path : "/usr/bin:/bin"));
        Set("QT_QPA_PLATFORM", "offscreen");
        // The install folder as the web launcher records it.
        platform::RegistryKey key;
        EXPECT_EQ(platform::RegistryKey::Create(platform::RegRoot::HKCU, "Software\\Quenta\\Velmor", key),
                  S_OK);
        EXPECT_EQ(key.WriteString("install_path", Install()), S_OK);
        EXPECT_EQ(key.WriteString("PGroup", "벨모개인방송"), S_OK);
    }

    std::string Install() const { return Path("inst"); }
    std::string Programs() const { return Path("data") + "/applications/벨모개인방송"; }

    // Registers the built ActSkn43.ocx (or another file) the way the
    // installer does, with regsvr32.exe.
    void RegisterSkinControl(const std::string &path = ProgramPath("ActSkn43.ocx"))
    {
        ProgramResult r =
            RunProgram(ProgramPath("regsvr32.exe"), {"/s", path}, Path("tmp"), ChildEnvironment(), 30000);
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }

    // "Mirvane.cfg" in the install folder: the defaults below with
    // `changes` applied (an empty value removes the key), CP949.
    std::map<std::string, std::string> ConfigValues() const
    {
        return {
            {"KorName", "벨모개인방송"},
            {"EngName", "Velmor"},
            {"Version", "1.0.0.1"},
            {"Execute", Install() + "/Velmor.exe"},
            {"Argument", "/u"},
            {"Skin", ProgramPath("Mirvane.skin")},
            {"Script", site ? site->BaseUrl() + "/update/VelmorUpdate.kus" : "http://127.0.0.1:9/none.kus"},
            {"Launch", site ? site->BaseUrl() + "/update/VelmorLaunch.kus" : ""},
            {"InstallDir", "HKCU,Software\\Quenta\\Velmor,install_path"},
            {"PgroupDir", "HKCU,Software\\Quenta\\Velmor,PGroup"}};
    }
    void WriteConfig(const std::map<std::string, std::string> &changes = {})
    {
        std::map<std::string, std::string> values = ConfigValues();
        for (const auto &[key, value] : changes)
            values[key] = value;
        std::string text = "[config]\r\n";
        for (const auto &[key, value] : values)
            if (!value.empty())
                text += key + "=" + value + "\r\n";
        WriteFile(Install() + "/Mirvane.cfg", text);
    }
    std::string ConfigText() const { return platform::AnsiToUtf8(TestDir::Read(Install() + "/Mirvane.cfg")); }

    // Starts the stand-in site, serving the test's folder "site/www" and
    // signing with the build's key.
    ServiceSite &StartSite()
    {
        site = std::make_unique<ServiceSite>(Path("site"), std::vector<std::string>{"--sign-key", SiteKey()});
        EXPECT_GT(site->Port(), 0);
        return *site;
    }
    // A script (or any file) on the site, CP949, "@SITE_URL@" filled in by
    // the site when served.
    void PutTemplate(const std::string &path, const std::string &utf8) const
    {
        const std::string file = (site->FilesDir() / (path + ".in")).string();
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        WriteFile(file, utf8);
    }
    // Copies files of the build's site ("update/files/Velmor.cab") into the test's site.
    void PutBuildFile(const std::string &path) const
    {
        const std::filesystem::path to = site->FilesDir() / path;
        std::filesystem::create_directories(to.parent_path());
        std::filesystem::copy_file(BuildSite() + "/www/" + path, to,
                                   std::filesystem::copy_options::overwrite_existing);
    }

    // The stand-in program (tests/mirvane/started_program.cpp) as `name` in
    // the install folder.
    void PutStandInProgram(const std::string &name = "Velmor.exe") const
    {
        std::filesystem::copy_file(STARTED_PROGRAM, Install() + "/" + name,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    // The starts the stand-in program recorded in `folder`: its arguments
    // after "ARGS ", its working folder after "CWD ".
    static std::vector<std::string> Starts(const std::string &folder)
    {
        std::vector<std::string> lines;
        std::istringstream in(TestDir::Read(folder + "/started.txt"));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::vector<std::string> Starts() const { return Starts(Install()); }
    // Waits until the stand-in program in `folder` recorded `count` starts.
    static bool WaitForStart(const std::string &folder, std::size_t count = 1, int timeoutMs = 20000)
    {
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            std::size_t args = 0;
            for (const std::string &line : Starts(folder))
                args += line.rfind("ARGS ", 0) == 0;
            if (args >= count)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    // The pages the browser was asked to open, once `count` of them were
    // (the browser is started without waiting for it).
    std::vector<std::string> OpenedPages(std::size_t count = 0, int timeoutMs = 10000) const
    {
        for (int waited = 0; waited < timeoutMs && OpenedPages(0, 0).size() < count; waited += 20)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (timeoutMs != 0)
            return OpenedPages(0, 0);
        std::vector<std::string> lines;
        std::istringstream in(TestDir::Read(Path("opened-pages")));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    static void WriteFile(const std::string &path, const std::string &utf8)
    {
        std::ofstream(path, std::ios::binary) << platform::Utf8ToAnsi(utf8);
    }

    std::unique_ptr<ServiceSite> site;
};

// The update script of the tests: everything current for an installed
// 1.0.0.1 unless a test changes it. `sections` is added at the end.
inline std::string UpdateScript(const std::string &application = "", const std::string &sections = "",
                                const std::string &updaterVersion = "1.22")
{
    return "[script]\r\nSignature=$WEB_UPDATER$\r\nVersion=1.1\r\n"
           "[updater]\r\nVersion=" +
           updaterVersion +
           "\r\nPatch=@SITE_URL@/update/patch/MirvanePatch.cab\r\n"
           "MsgImg=msg_icon\r\nTitleImg=download_icon\r\n"
           "[application]\r\nRegKey=%HKCU%\r\nversion=1.0.0.1\r\nNecessaryVer=1.0.0.0\r\n"
           "Message=Messages\r\nInstall_File=Files\r\nInstall_Reg=Registry\r\nInstall_Link=Links\r\n"
           "Install_Codec=Codecs\r\nUpdate_Ini=Inis\r\nUninstallFile=Uninstalls\r\n" +
           application + "\r\n" + sections;
}
