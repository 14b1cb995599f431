#pragma once
// A machine on which nothing is installed, for the whole start chain from a
// web page: private home, XDG folders (data, config, cache and their system
// lists), temporary folder, registry store, Windows folder and Program
// Files (the registry's "ProgramFilesDir"); a restart command that only
// records; an X display of its own (Xvfb: xdg-open hands URLs to scheme
// handlers only on a display, while the programs stay on Qt's offscreen
// platform); the stand-in site serving the build's site folder (scripts,
// cabinets, and signatures with the build's key, or with `signKey`, or none
// when that is empty) with its front page's room; and a broadcaster's
// room already running on loopback (the built Velmor.exe).
//
// Everything it starts is ended when it goes; programs that the chain
// started (the installed Velmor.exe instances) are found by the folder they
// run from and ended by their process id.
#include "../installengine/EngineTestEnv.h"

#include "RunProgram.h"
#include "ServiceSite.h"
#include "ViewerStatus.h"

#include "platform/CodePage.h"
#include "platform/Registry.h"

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

class StartChainMachine : public EngineTestEnv {
public:
    using Clock = std::chrono::steady_clock;

    explicit StartChainMachine(const std::string &name,
                               const std::string &signKey = std::string(VELMOR_BINARY_DIR) + "/site/site.key")
        : EngineTestEnv(name)
    {
        for (const char *sub : {"programs", "data-dirs", "config-dirs", "room", "site"})
            std::filesystem::create_directories(Path(sub));
        // The system's shared data stays readable (GLib's settings schemas,
        // which GStreamer's network sources need); nothing writes there.
        Set("XDG_DATA_DIRS", Path("data-dirs") + ":/usr/local/share:/usr/share");
        Set("XDG_CONFIG_DIRS", Path("config-dirs"));
        Set("QT_QPA_PLATFORM", "offscreen");
        Set("VELMOR_FAKE_DEVICES", "camera:Test Camera;microphone:Test Mic");
        Set("VELMOR_AUDIO_SINK", "fakesink sync=true"); // discards the sound in time, as a device plays it
        Set("VELMOR_STATUS_FILE", Path("viewer-status.txt"));
        // The programs of this machine are found in their own folders.
        Set("PATH", "/usr/local/bin:/usr/bin:/bin");
        platform::RegistryKey key;
        platform::RegistryKey::Create(platform::RegRoot::HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                      key);
        key.WriteString("ProgramFilesDir", Path("programs"));

        StartDisplay();
        roomChat = FreeLoopbackPort();
        roomStream = FreeLoopbackPort();
        std::vector<std::string> siteArgs{"--root",
                                          std::string(VELMOR_BINARY_DIR) + "/site/www",
                                          "--room-chat-port",
                                          std::to_string(roomChat),
                                          "--room-stream-port",
                                          std::to_string(roomStream)};
        if (!signKey.empty())
            siteArgs.insert(siteArgs.end(), {"--sign-key", signKey});
        m_site = std::make_unique<ServiceSite>(std::filesystem::path(Path("site")), siteArgs);
        Set("VELMOR_SERVICE_URL", m_site->BaseUrl());
    }

    ~StartChainMachine()
    {
        EndInstalledPrograms();
        if (m_room) {
            m_room->Signal(SIGTERM);
            m_room->Wait(15000);
        }
        m_room.reset();
        m_site.reset();
        if (m_display) {
            m_display->Signal(SIGTERM);
            m_display->Wait(5000);
        }
    }

    ServiceSite &Site() { return *m_site; }
    std::string InstallDir() const { return Path("programs") + "/Quenta/Velmor"; }
    std::string Applications() const { return Path("data") + "/applications"; }

    // The broadcaster's room that the "watch" link leads to.
    bool StartRoom()
    {
        std::filesystem::copy(ProgramPath("Skin"), Path("room") + "/Skin",
                              std::filesystem::copy_options::recursive);
        m_room = std::make_unique<ChildProgram>(
            ProgramPath("Velmor.exe"),
            std::vector<std::string>{"/u", "-start", "1", "-lport", std::to_string(roomChat), "-elport",
                                     std::to_string(roomStream), "-onairrul",
                                     m_site->BaseUrl() + "/room-onair.jsp"},
            Path("room"));
        return m_site->WaitFor("/room-onair.jsp", 1, 60000);
    }
    ChildProgram *Room() const { return m_room.get(); }

    ProgramResult Run(const std::string &program, const std::vector<std::string> &args, int timeoutMs = 60000)
    {
        return RunProgram(program, args, Path("home"), {}, timeoutMs);
    }

    // The front page's link `id` ("watch", "broadcast") for the room at
    // `chat` and `stream`.
    std::string PageLink(const std::string &id, int chat, int stream)
    {
        const ProgramResult page =
            Run("/usr/bin/curl", {"-s", m_site->BaseUrl() + "/?host=127.0.0.1&chat=" + std::to_string(chat) +
                                            "&stream=" + std::to_string(stream)});
        std::smatch match;
        if (!std::regex_search(page.out, match, std::regex("id=\"" + id + "\" href=\"([^\"]*)\"")))
            return std::string();
        std::string link = match[1];
        for (std::size_t at; (at = link.find("&amp;")) != std::string::npos;)
            link.replace(at, 5, "&");
        return link;
    }

    // xdg-open of a link, as a browser hands it to the desktop; waits for
    // the handler (KerrowHost.exe) to end. What the programs it started
    // write later stays readable through OpenedOutput().
    ProgramResult Open(const std::string &link, int timeoutMs = 180000)
    {
        m_opened.push_back(std::make_unique<ChildProgram>("/usr/bin/xdg-open", std::vector<std::string>{link},
                                                          std::filesystem::path(Path("home"))));
        ProgramResult result;
        result.exitCode = m_opened.back()->Wait(timeoutMs);
        result.out = m_opened.back()->Stdout();
        result.err = m_opened.back()->Stderr();
        return result;
    }
    // Standard output and error of every Open so far, as they are now.
    std::string OpenedOutput() const
    {
        std::string all;
        for (const auto &open : m_opened)
            all += open->Stdout() + open->Stderr();
        return all;
    }

    // The viewer's player state (VELMOR_STATUS_FILE).
    std::string ViewerStatusFile() const { return Path("viewer-status.txt"); }
    std::map<std::string, std::string> ViewerStatus() const { return ReadViewerStatus(ViewerStatusFile()); }
    unsigned long long ViewerFrames() const
    {
        return std::strtoull(ViewerStatus()["frames"].c_str(), nullptr, 10);
    }

    // Processes running a program from the install folder (the chain
    // started them, not this test).
    std::vector<pid_t> InstalledPrograms() const
    {
        std::vector<pid_t> pids;
        std::error_code ec;
        const std::string folder = std::filesystem::weakly_canonical(InstallDir(), ec).string() + "/";
        for (const auto &entry : std::filesystem::directory_iterator("/proc", ec)) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::error_code linkError;
            std::string exe = std::filesystem::read_symlink(entry.path() / "exe", linkError).string();
            if (linkError)
                continue;
            if (exe.ends_with(" (deleted)"))
                exe.resize(exe.size() - 10);
            if (exe.compare(0, folder.size(), folder) == 0)
                pids.push_back(static_cast<pid_t>(std::stol(name)));
        }
        return pids;
    }
    void EndInstalledPrograms()
    {
        for (pid_t pid : InstalledPrograms())
            ::kill(pid, SIGTERM);
        for (int i = 0; i < 750 && !InstalledPrograms().empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (pid_t pid : InstalledPrograms())
            ::kill(pid, SIGKILL);
    }

    std::string RegistryString(platform::RegRoot root, const std::string &key, const std::string &name) const
    {
        platform::RegistryKey opened;
        if (FAILED(platform::RegistryKey::Open(root, key, opened)))
            return std::string();
        return opened.ReadString(name).value_or(std::string());
    }

    int roomChat = 0;
    int roomStream = 0;

private:
    void StartDisplay()
    {
        m_display = std::make_unique<ChildProgram>(
            "/usr/bin/Xvfb",
            std::vector<std::string>{"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"},
            std::filesystem::path(Path("home")));
        for (int i = 0; i < 500 && m_display->Running(); ++i) {
            std::string number = m_display->Stdout();
            if (!number.empty() && number.back() == '\n') {
                number.pop_back();
                Set("DISPLAY", ":" + number);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    std::unique_ptr<ChildProgram> m_display;
    std::unique_ptr<ServiceSite> m_site;
    std::unique_ptr<ChildProgram> m_room;
    std::vector<std::unique_ptr<ChildProgram>> m_opened;
};
