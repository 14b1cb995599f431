// The guest's side: against a real host room, and against a raw host made of
// a listening socket that sends hand-built bytes, so reassembly and dispatch
// are seen byte by byte.
#include "CChatRoom.h"
#include "CommandLineArgs.h"

#include "ChatTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace chattest;

namespace {

struct GuestSide {
    RecordingDisplay display;
    MirrorMembers members;
    RecordingMainWindow mainWindow;
    std::unique_ptr<CChatRoom> room;

    void Connect(std::uint16_t port, const char *host = "127.0.0.1")
    {
        room = std::make_unique<CChatRoom>(&display, &members, &mainWindow);
        room->StartConnecting(host, port);
    }
    bool Listed() const { return room && room->OwnFlag() == MEMBER_SELF; }
};

// A listening socket on 127.0.0.1 that plays the host by hand.
class RawHost {
public:
    RawHost()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr));
        ::listen(m_fd, 5);
        socklen_t len = sizeof(addr);
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&addr), &len);
        port = ntohs(addr.sin_port);
    }
    ~RawHost() { ::close(m_fd); }
    std::unique_ptr<RawPeer> Accept()
    {
        int fd = -1;
        SpinUntil([&] {
            fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            return fd >= 0;
        });
        return std::make_unique<RawPeer>(fd);
    }
    std::uint16_t port = 0;

private:
    int m_fd = -1;
};

const std::string kHost = A("방장");

} // namespace

class GuestRoom : public ::testing::Test {
protected:
    void SetUp() override { EnsureApp(); }
};

TEST_F(GuestRoom, TalksWithARealHost)
{
    // Both roles started from the command line as the control window does.
    RecordingDisplay hostDisplay;
    CChatRoom host(&hostDisplay, nullptr, nullptr);
    CommandLineArgs hostArgs;
    hostArgs.start = 1;
    hostArgs.lport = 0;
    host.Start(hostArgs);
    ASSERT_NE(host.ListeningPort(), 0);
    EXPECT_EQ(host.GetRole(), CChatRoom::ROLE_HOST);

    GuestSide g1;
    g1.room = std::make_unique<CChatRoom>(&g1.display, &g1.members, &g1.mainWindow);
    CommandLineArgs guestArgs;
    guestArgs.start = 2;
    std::strcpy(guestArgs.curl, "127.0.0.1");
    guestArgs.cport = host.ListeningPort();
    g1.room->Start(guestArgs);
    ASSERT_TRUE(SpinUntil([&] { return g1.Listed() && g1.members.Rows().size() == 2; }));
    EXPECT_EQ(g1.mainWindow.connected, 1);
    EXPECT_EQ(g1.room->OwnName(), "손님1");
    EXPECT_EQ(g1.members.Rows(), (std::vector<MirrorMembers::Row>{{"방장", 0}, {"손님1", 1}}));
    ASSERT_TRUE(SpinUntil([&] { return g1.display.Count() == 1; }));
    EXPECT_EQ(g1.display.Lines()[0], (Line{"(손님1)님 안녕하세요\r\n", 0, 160, false}));

    GuestSide g2;
    g2.Connect(host.ListeningPort());
    ASSERT_TRUE(SpinUntil([&] { return g1.members.Rows().size() == 3 && g2.members.Rows().size() == 3; }));
    EXPECT_EQ(g1.members.Rows()[2], (MirrorMembers::Row{"손님2", 2}));
    EXPECT_EQ(g2.members.Rows()[1], (MirrorMembers::Row{"손님1", 2}));
    EXPECT_TRUE(SpinUntil([&] { return g1.display.Has("(손님2)님 안녕하세요\r\n"); }));

    // A guest's line shows on its own display once, when relayed back.
    EXPECT_EQ(g1.room->SpeakLine("반갑습니다"), S_OK);
    EXPECT_EQ(g1.display.CountOf("반갑습니다\r\n"), 0u);
    ASSERT_TRUE(SpinUntil([&] {
        return g1.display.Has("반갑습니다\r\n") && g2.display.Has("반갑습니다\r\n") && hostDisplay.Has("반갑습니다\r\n");
    }));
    SpinFor(50);
    EXPECT_EQ(g1.display.CountOf("반갑습니다\r\n"), 1u);
    EXPECT_EQ(g2.display.CountOf("\r\n[손님1]님의 말:\r\n"), 1u);
    // The host's line is green on the guests.
    host.SpeakLine("welcome");
    ASSERT_TRUE(SpinUntil([&] { return g2.display.Has("welcome\r\n"); }));
    EXPECT_EQ(g2.display.Lines().back(), (Line{"welcome\r\n", 0x008000, 160, true}));

    // The host's name is not a guest's to take: the host would drop it.
    EXPECT_EQ(g1.room->RenameSelf("방장"), E_INVALIDARG);
    EXPECT_EQ(g1.room->OwnName(), "손님1");
    // A guest renames itself: the name at once, the row on the relay.
    EXPECT_EQ(g1.room->RenameSelf("영희"), S_OK);
    EXPECT_EQ(g1.room->OwnName(), "영희");
    ASSERT_TRUE(SpinUntil([&] { return g2.members.Rows()[1].name == "영희" && g1.members.Rows()[1].name == "영희"; }));
    EXPECT_TRUE(SpinUntil([&] { return g2.display.Has("\r\n[손님1]님의 채팅이름이 영희로 변경되었습니다.\r\n"); }));
    g1.room->SpeakLine("renamed");
    ASSERT_TRUE(SpinUntil([&] { return g2.display.Has("renamed\r\n"); }));
    EXPECT_TRUE(SpinUntil([&] { return g2.display.Has("\r\n[영희]님의 말:\r\n"); }));

    // A guest leaves: one row goes, with a goodbye.
    g2.room.reset();
    ASSERT_TRUE(SpinUntil([&] { return g1.members.Rows().size() == 2; }));
    EXPECT_TRUE(SpinUntil([&] { return g1.display.Has("\r\n(손님2)님 안녕히가세요\r\n"); }));

    // The host goes: the guest reports the room closed, once.
    host.CloseChatSockets();
    ASSERT_TRUE(SpinUntil([&] { return g1.mainWindow.closed == 1; }));
    SpinFor(50);
    EXPECT_EQ(g1.mainWindow.closed, 1);
    EXPECT_EQ(g1.mainWindow.full, 0);
    EXPECT_FALSE(g1.room->IsConnected());
    g1.room->CloseChatSockets();
    EXPECT_EQ(g1.room->LiveThreadCount(), 0);
}

TEST_F(GuestRoom, ConnectionFailureAndUnresolvableHost)
{
    // A port nobody listens on.
    std::uint16_t freePort = 0;
    {
        RawHost probe;
        freePort = probe.port;
    }
    GuestSide refused;
    refused.Connect(freePort);
    ASSERT_TRUE(SpinUntil([&] { return refused.mainWindow.failed == 1; }));
    EXPECT_EQ(refused.mainWindow.connected, 0);
    EXPECT_EQ(refused.room->LiveThreadCount(), 0);

    // A host text that resolves to nothing: no report at all, no thread.
    GuestSide nowhere;
    nowhere.Connect(freePort, "");
    SpinFor(200);
    EXPECT_EQ(nowhere.mainWindow.connected + nowhere.mainWindow.failed + nowhere.mainWindow.closed, 0);
    EXPECT_EQ(nowhere.room->SpeakLine("hello"), S_OK); // goes nowhere, harms nothing
    EXPECT_EQ(nowhere.room->LiveThreadCount(), 0);
}

TEST_F(GuestRoom, RoomFullIsReportedAloneAndWholeDespiteTheClose)
{
    CChatRoom host(nullptr, nullptr, nullptr);
    ASSERT_TRUE(host.StartHosting(0));
    std::vector<std::unique_ptr<RawPeer>> guests;
    for (int i = 0; i < 51; ++i) {
        guests.push_back(std::make_unique<RawPeer>(host.ListeningPort()));
        ASSERT_TRUE(SpinUntil([&] { return host.GuestCounter() == static_cast<unsigned>(i + 1); }));
    }
    GuestSide refused;
    refused.Connect(host.ListeningPort());
    ASSERT_TRUE(SpinUntil([&] { return refused.mainWindow.full == 1; }));
    SpinFor(200);
    EXPECT_EQ(refused.mainWindow.connected, 1); // the connection itself was made
    EXPECT_EQ(refused.mainWindow.full, 1);
    EXPECT_EQ(refused.mainWindow.closed, 0);
    EXPECT_EQ(host.GuestCounter(), 51u);
}

TEST_F(GuestRoom, ReassemblesAndDispatchesWhatARawHostSends)
{
    RawHost rawHost;
    GuestSide g;
    g.Connect(rawHost.port);
    auto link = rawHost.Accept();
    // The first thing a guest sends: the 5-byte user-list request.
    EXPECT_EQ(link->ReadPacket(), kRequest);
    ASSERT_TRUE(SpinUntil([&] { return g.mainWindow.connected == 1; }));

    // A list and a join in one write.
    const std::string list = Frame(10, Member(kHost, 0) + Member("me", 1) + Member("other", 2));
    link->Send(list + Frame(11, Member("late", 2)));
    ASSERT_TRUE(SpinUntil([&] { return g.members.Rows().size() == 4; }));
    EXPECT_EQ(g.room->OwnName(), "me");
    EXPECT_EQ(g.members.Rows()[3], (MirrorMembers::Row{"late", 2}));

    // A chat line split inside its length field, in three writes.
    const std::string line = Message("other", 2, "split line");
    link->Send(line.substr(0, 3));
    SpinFor(30);
    link->Send(line.substr(3, 10));
    SpinFor(30);
    link->Send(line.substr(13));
    ASSERT_TRUE(SpinUntil([&] { return g.display.Has("split line\r\n"); }));

    // A list whose payload is not a multiple of 16 adds its whole records;
    // unknown kinds are ignored; a leave removes the guest row of that name,
    // not the own row.
    link->Send(Frame(10, Member("extra", 2) + "xyz") + Le32(5) + Byte(77) + Frame(12, Member("ME", 1)) +
               Frame(12, Member("other", 1)));
    ASSERT_TRUE(SpinUntil([&] { return g.display.Has("\r\n(other)님 안녕히가세요\r\n"); }));
    EXPECT_EQ(g.members.Rows(),
              (std::vector<MirrorMembers::Row>{{"방장", 0}, {"me", 1}, {"late", 2}, {"extra", 2}}));
    EXPECT_EQ(g.mainWindow.closed, 0);

    // What the guest sends: its own name and flag; 1023 bytes at most.
    g.room->SpeakLine(std::string(2000, 'w'));
    EXPECT_EQ(link->ReadPacket(), Message("me", 1, std::string(1023, 'w')));
    EXPECT_EQ(g.room->SpeakLine(""), S_FALSE);
    g.room->RenameSelf("neo");
    EXPECT_EQ(link->ReadPacket(), Rename("me", "neo"));
    EXPECT_TRUE(link->Quiet());

    // An impossible length ends the connection as a room closed.
    link->Send(Le32(0xFFFFFFFFu) + Byte(13));
    ASSERT_TRUE(SpinUntil([&] { return g.mainWindow.closed == 1; }));
    g.room->CloseChatSockets();
    EXPECT_EQ(g.room->LiveThreadCount(), 0);
}

TEST_F(GuestRoom, AHostThatStopsReadingEndsTheConnection)
{
    RawHost rawHost;
    GuestSide g;
    g.room = std::make_unique<CChatRoom>(&g.display, &g.members, &g.mainWindow);
    g.room->SetSendLimit(16 * 1024);
    g.room->StartConnecting("127.0.0.1", rawHost.port);
    auto link = rawHost.Accept(); // never reads again
    ASSERT_TRUE(SpinUntil([&] { return g.mainWindow.connected == 1; }));
    const std::string text(1000, 'q');
    ASSERT_TRUE(SpinUntil(
        [&] {
            for (int i = 0; i < 50; ++i)
                g.room->SpeakLine(text);
            return g.mainWindow.closed == 1;
        },
        60000));
    g.room->CloseChatSockets();
    EXPECT_EQ(g.room->LiveThreadCount(), 0);
}
