// The whole start chain from a web page, every step its own process, on a
// machine where nothing is installed: regsvr32.exe registers the launcher,
// xdg-open of the front page's "watch" link installs the product from the
// stand-in site and starts the installed Velmor.exe, which passes through
// Mirvane.exe and joins the room as a viewer; a "broadcast" link then finds
// the product installed and serves a stream; the uninstall entry's
// UninstallString removes what was installed.
#include "StartChainMachine.h"

#include "ChatProtocol.h"

#include "platform/Profile.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>

namespace {

namespace fs = std::filesystem;
using platform::RegRoot;

const char kScriptPath[] = "/down/velmor/script/VelmorWebScript.kus";
const std::string kUninstallKey = "software\\Microsoft\\windows\\currentversion\\uninstall\\벨모개인방송";
const std::string kSkinControlKey = "CLSID\\{BA8C584B-209C-4D54-8BB1-8AB5F1DCA18E}";

template <typename Pred> bool WaitUntil(Pred done, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return done();
}

// The room's members as a new guest is told them: connects to the chat
// port, asks for the user list and reads it.
std::vector<chat::MemberInfo> RoomMembers(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    std::vector<chat::MemberInfo> members;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
        const ChatPacket request = chat::BuildUserListRequest();
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            std::string buffer;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (members.empty() && std::chrono::steady_clock::now() < deadline) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 200) <= 0)
                    continue;
                char chunk[4096];
                const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                if (n <= 0)
                    break;
                buffer.append(chunk, static_cast<std::size_t>(n));
                while (buffer.size() >= 5 && buffer.size() >= chat::PacketLength(buffer)) {
                    const std::string packet = buffer.substr(0, chat::PacketLength(buffer));
                    buffer.erase(0, packet.size());
                    if (chat::PacketKind(packet) == CHAT_USERLIST)
                        members = chat::ParseUserList(packet);
                }
            }
        }
    }
    ::close(fd);
    return members;
}

// Every file and folder below `folder`.
std::set<std::string> Tree(const std::string &folder)
{
    std::set<std::string> paths;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        paths.insert(it->path().string());
    return paths;
}

} // namespace

TEST(StartChain, FromTheWebPageToAViewerAndABroadcasterAndBackOut)
{
    StartChainMachine machine("kerrow-chain");
    ServiceSite &site = machine.Site();
    ASSERT_GT(site.Port(), 0);
    ASSERT_TRUE(machine.StartRoom()) << machine.Room()->Stderr();

    // The page's control is registered like any component.
    ProgramResult r = machine.Run(ProgramPath("regsvr32.exe"), {"/s", ProgramPath("KerrowInstaller.dll")});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    // "watch": nothing installed yet.
    const std::string watch = machine.PageLink("watch", machine.roomChat, machine.roomStream);
    ASSERT_EQ(watch,
              "kerrow:launch?Start=2&ConnectURL=127.0.0.1&ConnectPort=" + std::to_string(machine.roomChat) +
                  "&EncodeURL=127.0.0.1&ConnectEncoderPort=" + std::to_string(machine.roomStream) +
                  "&Launcher=1");
    r = machine.Open(watch);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("result: Success=Execute"), std::string::npos) << r.out << r.err;

    // The installed viewer plays the room's stream steadily ...
    SteadyPlayWatch steady(machine.ViewerStatusFile());
    EXPECT_TRUE(WaitUntil([&] { return steady.Steady(); }, 90000))
        << "viewer status: " << steady.Last() << "\nvelmor.log:\n"
        << platform::AnsiToUtf8(TestDir::Read(machine.InstallDir() + "/velmor.log")) << "\nmirvane.log:\n"
        << platform::AnsiToUtf8(TestDir::Read(machine.InstallDir() + "/mirvane.log")) << "\noutput:\n"
        << machine.OpenedOutput();
    EXPECT_EQ(machine.ViewerStatus()["url"], "http://127.0.0.1:" + std::to_string(machine.roomStream));
    // ... after passing through the updater, with the built command line.
    const std::string log = platform::AnsiToUtf8(TestDir::Read(machine.InstallDir() + "/velmor.log"));
    EXPECT_NE(log.find("/u옵션 확인"), std::string::npos) << log;
    EXPECT_NE(log.find("프로그램 시작 인자: -start 2 -curl 127.0.0.1 -cport " +
                       std::to_string(machine.roomChat) + " -ceurl 127.0.0.1 -ceport " +
                       std::to_string(machine.roomStream)),
              std::string::npos)
        << log;
    EXPECT_TRUE(fs::exists(machine.InstallDir() + "/mirvane.log"))
        << "Mirvane.exe ran from the install folder";
    EXPECT_FALSE(site.RequestsFor("/update/VelmorUpdate.kus").empty()) << "the updater asked for its script";
    // ... and is a guest of the room's chat.
    const std::vector<chat::MemberInfo> members = RoomMembers(machine.roomChat);
    std::size_t guests = 0;
    for (const chat::MemberInfo &member : members)
        if (platform::AnsiToUtf8(member.name).starts_with("손님"))
            ++guests;
    EXPECT_EQ(members.size(), 3u) << "the host, the viewer and this probe";
    EXPECT_EQ(guests, 2u);

    // What the installation left: programs, skins, the registered skin
    // control, Mirvane.cfg, the menu entries, the record.
    const std::string dir = machine.InstallDir();
    for (const char *file : {"Velmor.exe", "Mirvane.exe", "ActSkn43.ocx", "rundll32.exe", "runonce.exe",
                             "regsvr32.exe", "reg.exe", "Mirvane.skin", "Mirvane.cfg", "VelmorUnInstall.INF"})
        EXPECT_TRUE(fs::exists(dir + "/" + file)) << file;
    for (const char *folder : {"Skin", "MirvaneSkin"})
        for (const auto &entry : fs::directory_iterator(ProgramPath(folder)))
            EXPECT_TRUE(fs::exists(dir + "/" + folder + "/" + entry.path().filename().string()))
                << folder << "/" << entry.path().filename();
    EXPECT_EQ(machine.RegistryString(RegRoot::HKCR, kSkinControlKey + "\\InprocServer32", ""),
              dir + "/ActSkn43.ocx");
    EXPECT_EQ(platform::GetPrivateProfileString("config", "Execute", "", 1024, dir + "/Mirvane.cfg"),
              dir + "/Velmor.exe");
    const std::string group = machine.Applications() + "/벨모개인방송";
    EXPECT_TRUE(fs::exists(group + "/벨모개인방송.desktop"));
    EXPECT_TRUE(fs::exists(group + "/벨모개인방송 제거.desktop"));
    EXPECT_EQ(machine.RegistryString(RegRoot::HKCU, "Software\\Quenta\\Velmor", "install_path"), dir);

    // Any page's links to the helper programs installed beside the product,
    // to the product without its updater, or with an on-air address on the
    // user's own network, run nothing.
    const std::string ran = machine.Path("ran");
    const std::string addRunOnce = "&Waiting=1&Argument=add%20HKLM%5CSOFTWARE%5CMicrosoft%5CWindows%5C"
                                   "CurrentVersion%5CRunOnce%20/v%20x%20/d%20%22touch%20" +
                                   ran + "%22%20/f&Launcher=1";
    const std::size_t running = machine.InstalledPrograms().size();
    for (const std::string &link :
         {"kerrow:launch?ExeName=reg.exe" + addRunOnce, "kerrow:launch?ExeName=REG.EXE" + addRunOnce,
          std::string("kerrow:launch?ExeName=runonce.exe&Waiting=1&Launcher=1"),
          std::string("kerrow:launch?ExeName=RUNONCE.EXE&Waiting=1&Launcher=1"),
          std::string("kerrow:launch?ExeName=regsvr32.exe&Waiting=1&Argument=/s%20x.so&Launcher=1"),
          std::string("kerrow:launch?ExeName=rundll32.exe&Waiting=1&Argument=advpack.dll,LaunchINFSection%20x"
                      "&Launcher=1"),
          std::string("kerrow:launch?ExeName=Velmor.exe&Waiting=1&Argument=/u%20-start%201&Launcher=1"),
          std::string("kerrow:launch?Start=1&OnAirURL=http%3A%2F%2F192.168.0.1%2Freboot&Launcher=1")}) {
        r = machine.Open(link);
        EXPECT_NE(r.out.find("result: Fail"), std::string::npos) << link << "\n" << r.out << r.err;
    }
    EXPECT_FALSE(fs::exists(ran));
    EXPECT_EQ(
        machine.RegistryString(RegRoot::HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "x"),
        "");
    EXPECT_EQ(machine.InstalledPrograms().size(), running) << "nothing more was started";

    // "broadcast": installed already, so only the script is fetched.
    const std::size_t before = site.Requests().size();
    const int chat2 = FreeLoopbackPort();
    const int stream2 = FreeLoopbackPort();
    r = machine.Open(machine.PageLink("broadcast", chat2, stream2));
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("result: Success=Execute"), std::string::npos) << r.out << r.err;
    ASSERT_TRUE(site.WaitFor("/onair.jsp", 1, 90000)) << "the installed broadcaster goes on air";
    std::size_t scripts = 0;
    const std::vector<ServiceSite::Request> requests = site.Requests();
    for (std::size_t i = before; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].path.find("/files/"), std::string::npos) << requests[i].path;
        scripts += requests[i].path == kScriptPath;
    }
    EXPECT_EQ(scripts, 1u);
    r = machine.Run("/usr/bin/ffprobe",
                    {"-v", "error", "-rw_timeout", "20000000", "-show_entries", "stream=codec_type", "-of",
                     "csv=p=0", "http://127.0.0.1:" + std::to_string(stream2)},
                    60000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("video"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("audio"), std::string::npos) << r.out << r.err;

    // The uninstall entry's command, run as a command with the installed
    // programs on the search path (where Windows has its system folder).
    machine.EndInstalledPrograms();
    ASSERT_TRUE(machine.InstalledPrograms().empty());
    std::vector<std::string> installed;
    for (const std::string &line :
         platform::GetPrivateProfileSection("UnInstallFile", 65536, dir + "/VelmorUnInstall.INF"))
        if (line.ends_with("=install"))
            installed.push_back(line.substr(0, line.size() - 8));
    EXPECT_EQ(installed.size(), 22u) << "19 files, Mirvane.cfg and two menu entries";
    const std::string uninstall = machine.RegistryString(RegRoot::HKLM, kUninstallKey, "UninstallString");
    ASSERT_EQ(uninstall, "rundll32.exe advpack.dll,LaunchINFSection " + dir + "/VelmorUnInstall.INF");
    r = machine.Run("/usr/bin/env", {"PATH=" + dir + ":/usr/bin:/bin", "VELMOR_MESSAGEBOX_ANSWERS=IDYES,IDOK",
                                     "/bin/sh", "-c", uninstall});
    EXPECT_EQ(r.exitCode, 0) << r.err;

    for (const std::string &path : installed)
        EXPECT_FALSE(fs::exists(path)) << path;
    // Nothing stays: the logs the programs wrote while they ran go too, and
    // with them the install folder.
    EXPECT_EQ(Tree(machine.Path("programs")), std::set<std::string>{});
    EXPECT_FALSE(fs::exists(group)) << "menu entries and their group";
    EXPECT_EQ(machine.RegistryString(RegRoot::HKCU, "Software\\Quenta\\Velmor", "install_path"), "");
    EXPECT_EQ(machine.RegistryString(RegRoot::HKCU, "Software\\Quenta\\Velmor", "PGroup"), "");
    EXPECT_EQ(machine.RegistryString(RegRoot::HKCU, "Software\\Quenta\\Velmor", "Version"), "");
    platform::RegistryKey key;
    EXPECT_FALSE(SUCCEEDED(platform::RegistryKey::Open(RegRoot::HKLM, kUninstallKey, key)))
        << "the entry itself";
    EXPECT_FALSE(SUCCEEDED(platform::RegistryKey::Open(RegRoot::HKCR, kSkinControlKey, key)))
        << "the skin control is unregistered";

    r = machine.Run(ProgramPath("regsvr32.exe"), {"/s", "/u", ProgramPath("KerrowInstaller.dll")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fs::exists(machine.Applications() + "/kerrow-launcher.desktop"));
}

TEST(StartChain, ASiteWithoutTheServicesSignatureInstallsAndStartsNothing)
{
    TestDir keys("kerrow-chain-keys");
    const std::string otherKey = keys.file("other.pem");
    ASSERT_EQ(
        RunProgram(std::string(VELMOR_BINARY_DIR) + "/tools/script_sign", {"keygen", otherKey}, keys.path())
            .exitCode,
        0);
    for (const std::string &signKey : {otherKey, std::string()}) {
        StartChainMachine machine("kerrow-untrusted", signKey);
        ProgramResult r =
            machine.Run(ProgramPath("regsvr32.exe"), {"/s", ProgramPath("KerrowInstaller.dll")});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        r = machine.Open(machine.PageLink("watch", machine.roomChat, machine.roomStream));
        EXPECT_NE(r.out.find("result: fail=script"), std::string::npos) << signKey << "\n" << r.out << r.err;
        EXPECT_TRUE(fs::is_empty(machine.Path("programs"))) << signKey;
        for (const ServiceSite::Request &request : machine.Site().Requests())
            EXPECT_TRUE(request.path == "/" || request.path.starts_with(kScriptPath)) << request.path;
    }
}
