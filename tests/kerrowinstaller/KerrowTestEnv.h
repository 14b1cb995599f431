#pragma once
// A private machine for one web launcher test (EngineTestEnv: home, XDG
// folders, Windows folder, temporary folder, registry store, restart
// command, recorded message boxes), plus what the launcher needs besides:
// a Program Files folder inside it (the registry's "ProgramFilesDir", so a
// test run as root never reaches /opt), private XDG system folders, the bin
// folder on PATH (rundll32.exe for roll-backs), and the stand-in site,
// which signs its scripts with the build's key as the service does.
#include "../installengine/EngineTestEnv.h"

#include "BuildSiteKey.h"
#include "CSha256.h"
#include "RunProgram.h"
#include "ServiceSite.h"

#include "platform/CodePage.h"
#include "platform/Registry.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

class KerrowTestEnv : public EngineTestEnv {
public:
    explicit KerrowTestEnv(const std::string &name) : EngineTestEnv(name)
    {
        for (const char *sub : {"programs", "data-dirs", "config-dirs"})
            std::filesystem::create_directories(Path(sub));
        Set("XDG_DATA_DIRS", Path("data-dirs"));
        Set("XDG_CONFIG_DIRS", Path("config-dirs"));
        const char *path = std::getenv("PATH");
        Set("PATH", ProgramPath("") + ":" + (path ? path : "/usr/bin:/bin"));
        platform::RegistryKey key;
        platform::RegistryKey::Create(platform::RegRoot::HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                      key);
        key.WriteString("ProgramFilesDir", ProgramFiles());
    }

    // The site, started when first asked for.
    ServiceSite &Site()
    {
        if (!m_site)
            m_site = std::make_unique<ServiceSite>(std::filesystem::path(Path("site")),
                                                   std::vector<std::string>{"--sign-key", BuildSiteKey()});
        return *m_site;
    }
    std::string ProgramFiles() const { return Path("programs"); }
    std::string Applications() const { return Path("data") + "/applications"; }

    // Places a file on the site ("/files/Velmor.exe"), bytes as given.
    void Serve(const std::string &urlPath, const std::string &bytes)
    {
        const std::filesystem::path file = Site().FilesDir() / urlPath.substr(1);
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << bytes;
    }
    // Places a script on the site: UTF-8 text stored as CP949 with CRLF, and
    // "@SITE@" replaced by the site's address. An item "Src=@SITE@/PATH"
    // without a "SHA256" line of its own gets the digest of the file served
    // there now, as web scripts carry it.
    void ServeScript(const std::string &urlPath, std::string text)
    {
        for (std::size_t at = 0; (at = text.find("Src=@SITE@", at)) != std::string::npos;) {
            const std::size_t end = text.find('\n', at);
            if (end == std::string::npos)
                break;
            const std::string file = (Site().FilesDir() / text.substr(at + 11, end - at - 11)).string();
            at = end;
            if (std::filesystem::exists(file) && text.compare(end + 1, 7, "SHA256=") != 0)
                text.insert(end + 1, "SHA256=" + CSha256::OfFile(file) + "\n");
        }
        for (std::size_t at; (at = text.find("@SITE@")) != std::string::npos;)
            text.replace(at, 6, Site().BaseUrl());
        std::string crlf;
        for (const char c : text) {
            if (c == '\n')
                crlf += '\r';
            crlf += c;
        }
        Serve(urlPath, platform::Utf8ToAnsi(crlf));
    }

private:
    std::unique_ptr<ServiceSite> m_site;
};
