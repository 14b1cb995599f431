#pragma once
// A private machine for one web launcher test (EngineTestEnv: home, XDG
// folders, Windows folder, temporary folder, registry store, restart
// command, recorded message boxes), plus what the launcher needs besides:
// a Program Files folder inside it (the registry's "ProgramFilesDir", so a
// test run as root never reaches /opt), private XDG system folders, the bin
// folder on PATH (rundll32.exe for roll-backs), and the stand-in site.
#include "../installengine/EngineTestEnv.h"

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
            m_site = std::make_unique<ServiceSite>(std::filesystem::path(Path("site")));
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
    // "@SITE@" replaced by the site's address.
    void ServeScript(const std::string &urlPath, std::string text)
    {
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
