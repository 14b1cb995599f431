// The host's room over real loopback sockets, with raw peers that speak the
// wire format byte for byte: what the host sends, whom it admits and names,
// what it shows, and that bad input from one guest never harms the others.
#include "CChatRoom.h"

#include "ChatTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace chattest;

namespace {

class HostRoom : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApp();
        room = std::make_unique<CChatRoom>(&display, &members, &mainWindow);
        room->InitHost();
        ASSERT_TRUE(room->StartHosting(0));
        port = room->ListeningPort();
        ASSERT_NE(port, 0);
    }
    void TearDown() override
    {
        room.reset();
    }

    // Connects a raw guest, waits until the host has admitted it and, when
    // `listed`, asks for and reads its user list.
    std::unique_ptr<RawPeer> Join(bool listed = true, std::string *list = nullptr)
    {
        const unsigned before = room->GuestCounter();
        auto peer = std::make_unique<RawPeer>(port);
        EXPECT_TRUE(peer->Ok());
        EXPECT_TRUE(SpinUntil([&] { return room->GuestCounter() == before + 1; }));
        if (listed) {
            peer->Send(kRequest);
            std::string got = peer->ReadPacket();
            EXPECT_EQ(got.size() >= 9 ? got[4] : 0, 10);
            if (list)
                *list = got;
        }
        return peer;
    }

    RecordingDisplay display;
    MirrorMembers members;
    RecordingMainWindow mainWindow;
    std::unique_ptr<CChatRoom> room;
    std::uint16_t port = 0;
};

const std::string kHost = A("방장");
std::string Guest(int n) { return A("손님") + std::to_string(n); }

} // namespace

TEST_F(HostRoom, FirstGuestIsNamedGreetedAndListed)
{
    std::string list;
    auto g1 = Join(true, &list);
    // Exactly ("방장", 0) then (requester, 1).
    EXPECT_EQ(list, Frame(10, Member(kHost, 0) + Member(Guest(1), 1)));
    EXPECT_EQ(room->GuestCounter(), 1u);
    ASSERT_TRUE(SpinUntil([&] { return display.Count() == 1 && members.Rows().size() == 2; }));
    EXPECT_EQ(display.Lines(), (std::vector<Line>{{"(손님1)님 안녕하세요\r\n", 0x000000, 160, false}}));
    EXPECT_EQ(members.Rows(), (std::vector<MirrorMembers::Row>{{"방장", 0}, {"손님1", 2}}));
    EXPECT_EQ(room->OwnName(), "방장");
    EXPECT_EQ(room->OwnFlag(), 0);
}

TEST_F(HostRoom, SecondGuestIsAnnouncedToTheOthers)
{
    auto g1 = Join();
    std::string list2;
    auto g2 = Join(true, &list2);
    EXPECT_EQ(list2, Frame(10, Member(kHost, 0) + Member(Guest(1), 2) + Member(Guest(2), 1)));
    EXPECT_EQ(g1->ReadPacket(), Frame(11, Member(Guest(2), 2)));
    // The requester itself gets no join.
    EXPECT_TRUE(g2->Quiet());
}

TEST_F(HostRoom, AGuestHearsOfTheRoomOnlyAfterItsListAndOfEachChangeOnce)
{
    auto early = Join(false); // connected, has not asked for its list yet
    std::string list2;
    auto g2 = Join(true, &list2);
    EXPECT_EQ(list2, Frame(10, Member(kHost, 0) + Member(Guest(1), 2) + Member(Guest(2), 1)));
    g2->Send(Message(Guest(2), 1, "hello"));
    EXPECT_EQ(g2->ReadPacket(), Message(Guest(2), 1, "hello"));
    EXPECT_TRUE(early->Quiet()) << "neither the join nor the line before its list";

    // Its list names everybody; nobody that a list named is announced to
    // that guest again.
    early->Send(kRequest);
    EXPECT_EQ(early->ReadPacket(), Frame(10, Member(kHost, 0) + Member(Guest(1), 1) + Member(Guest(2), 2)));
    EXPECT_TRUE(early->Quiet());
    EXPECT_TRUE(g2->Quiet());
    auto g3 = Join();
    EXPECT_EQ(early->ReadPacket(), Frame(11, Member(Guest(3), 2)));
    EXPECT_EQ(g2->ReadPacket(), Frame(11, Member(Guest(3), 2)));

    // A guest that leaves before asking was never announced: nobody hears
    // of its leaving.
    auto passing = Join(false);
    passing->Close();
    ASSERT_TRUE(SpinUntil([&] { return room->ConnectionCount() == 3; }));
    EXPECT_TRUE(early->Quiet());
    EXPECT_TRUE(g2->Quiet());
}

TEST_F(HostRoom, ChatLinesAreRelayedByteForByte)
{
    auto g1 = Join();
    auto g2 = Join();
    g1->ReadPacket(); // join of g2

    const std::string line = Message(Guest(1), 1, A("안녕하세요 여러분\r\n둘째 줄"));
    g1->Send(line);
    EXPECT_EQ(g1->ReadPacket(), line); // the sender sees it only when relayed
    EXPECT_EQ(g2->ReadPacket(), line);
    ASSERT_TRUE(SpinUntil([&] { return display.Has("안녕하세요 여러분\r\n둘째 줄\r\n"); }));
    const auto lines = display.Lines();
    const std::vector<Line> tail(lines.end() - 2, lines.end());
    EXPECT_EQ(tail, (std::vector<Line>{{"\r\n[손님1]님의 말:\r\n", 0x545454, 170, false},
                                       {"안녕하세요 여러분\r\n둘째 줄\r\n", 0x000000, 160, true}}));

    // The host's own line: green, flag 0, and the longest line is 1049 bytes.
    EXPECT_EQ(room->SpeakLine(std::string(1500, 'h')), S_OK);
    const std::string longest = Message(kHost, 0, std::string(1023, 'h'));
    ASSERT_EQ(longest.size(), 1049u);
    EXPECT_EQ(g1->ReadPacket(), longest);
    EXPECT_EQ(g2->ReadPacket(), longest);
    ASSERT_TRUE(SpinUntil([&] { return display.Has(std::string(1023, 'h') + "\r\n"); }));
    EXPECT_EQ(display.Lines().back(), (Line{std::string(1023, 'h') + "\r\n", 0x008000, 160, true}));
    // An empty line sends nothing.
    EXPECT_EQ(room->SpeakLine(""), S_FALSE);
    EXPECT_TRUE(g1->Quiet());
}

TEST_F(HostRoom, TheConnectionNotThePacketSaysWhoSpeaks)
{
    auto g1 = Join();
    auto g2 = Join();
    g1->ReadPacket();

    // A guest posing as the host is relayed under its own name and flag 1.
    g2->Send(Message(kHost, 0, "I am the host"));
    EXPECT_EQ(g1->ReadPacket(), Message(Guest(2), 1, "I am the host"));
    ASSERT_TRUE(SpinUntil([&] { return display.Has("I am the host\r\n"); }));
    EXPECT_EQ(display.Lines().back().rgb, 0x000000u);

    // A rename naming someone else as the old name renames the sender.
    g2->Send(Rename(Guest(1), "mallory"));
    EXPECT_EQ(g1->ReadPacket(), Rename(Guest(2), "mallory"));
    ASSERT_TRUE(SpinUntil([&] { return members.Rows().size() == 3 && members.Rows()[2].name == "mallory"; }));
    EXPECT_EQ(members.Rows()[1].name, "손님1");
    EXPECT_TRUE(SpinUntil([&] { return display.Has("\r\n[손님2]님의 채팅이름이 mallory로 변경되었습니다.\r\n"); }));

    // Renames to "방장" or to nothing are ignored.
    g2->Send(Rename("mallory", kHost));
    g2->Send(Rename("mallory", ""));
    g2->Send(Message("x", 1, "after"));
    EXPECT_EQ(g1->ReadPacket(), Message("mallory", 1, "after"));
}

TEST_F(HostRoom, PacketsTogetherOrSplitAreHandledOnceEach)
{
    auto g1 = Join();
    // Two packets in one write.
    g1->Send(Message(Guest(1), 1, "one") + Message(Guest(1), 1, "two"));
    EXPECT_EQ(g1->ReadPacket(), Message(Guest(1), 1, "one"));
    EXPECT_EQ(g1->ReadPacket(), Message(Guest(1), 1, "two"));
    // One packet split inside its length, with the host reading in between.
    const std::string three = Message(Guest(1), 1, "three");
    g1->Send(three.substr(0, 2));
    SpinFor(50);
    g1->Send(three.substr(2, 5));
    SpinFor(50);
    g1->Send(three.substr(7));
    EXPECT_EQ(g1->ReadPacket(), three);
    EXPECT_TRUE(g1->Quiet());
    EXPECT_EQ(display.CountOf("three\r\n"), 1u);
}

TEST_F(HostRoom, RoomFullAtFiftyOneGuestsAndNumbersNeverReused)
{
    std::vector<std::unique_ptr<RawPeer>> guests;
    for (int i = 1; i <= 51; ++i)
        guests.push_back(Join(false));
    EXPECT_EQ(room->GuestCounter(), 51u);
    EXPECT_EQ(room->Members().Count(), 52u);

    // The 52nd gets the 5-byte room-full notice and the close, and the
    // counter stays.
    RawPeer refused(port);
    refused.Send(kRequest); // sent before the notice is read: stays unanswered
    EXPECT_EQ(refused.ReadPacket(), kRoomFull);
    EXPECT_TRUE(refused.WaitClosed());
    EXPECT_EQ(room->GuestCounter(), 51u);
    EXPECT_EQ(room->ConnectionCount(), 51u);
    guests[9]->Send(kRequest);
    EXPECT_EQ(guests[9]->ReadPacket().size(), 9u + 16u * 52u);

    // "손님1" leaving leaves "손님10" .. "손님19" in place.
    guests[0]->Close();
    ASSERT_TRUE(SpinUntil([&] { return room->ConnectionCount() == 50; }));
    EXPECT_TRUE(SpinUntil([&] { return display.Has("\r\n(손님1)님 안녕히가세요\r\n"); }));
    const auto rows = members.Rows();
    ASSERT_EQ(rows.size(), 51u);
    EXPECT_EQ(rows[1].name, "손님2");
    EXPECT_EQ(rows[9].name, "손님10");
    // The others that know of it hear of it.
    EXPECT_EQ(guests[9]->ReadPacket(), Frame(12, Member(Guest(1), 1)));

    // The next one is admitted with the next number.
    std::string list;
    auto next = Join(true, &list);
    EXPECT_EQ(room->GuestCounter(), 52u);
    EXPECT_EQ(list.size(), 9u + 16u * 52u);
    EXPECT_EQ(list.substr(list.size() - 16), Member(Guest(52), 1));
}

TEST_F(HostRoom, RenameThenLeaveSaysGoodbyeWithTheNewName)
{
    auto g1 = Join();
    auto g2 = Join();
    g1->ReadPacket();
    g2->Send(Rename(Guest(2), A("철수")));
    EXPECT_EQ(g1->ReadPacket(), Rename(Guest(2), A("철수")));
    g2->Close();
    EXPECT_EQ(g1->ReadPacket(), Frame(12, Member(A("철수"), 1)));
    ASSERT_TRUE(SpinUntil([&] { return display.Has("\r\n(철수)님 안녕히가세요\r\n"); }));
    EXPECT_EQ(members.Rows(), (std::vector<MirrorMembers::Row>{{"방장", 0}, {"손님1", 2}}));
}

TEST_F(HostRoom, SameNamesLeaveOneRowEach)
{
    auto g1 = Join();
    auto g2 = Join();
    g1->ReadPacket();
    g1->Send(Rename(Guest(1), "twin"));
    g2->Send(Rename(Guest(2), "twin"));
    g1->ReadPacket();
    g1->ReadPacket();
    g2->Close();
    EXPECT_EQ(g1->ReadPacket(), Frame(12, Member("twin", 1)));
    ASSERT_TRUE(SpinUntil([&] { return members.Rows().size() == 2; }));
    const auto rows = members.Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].name, "twin");
    // And it is g1's own row that stayed: a later list flags it as self.
    g1->Send(kRequest);
    EXPECT_EQ(g1->ReadPacket(), Frame(10, Member(kHost, 0) + Member("twin", 1)));
}

TEST_F(HostRoom, HostRenamesItself)
{
    auto g1 = Join();
    EXPECT_EQ(room->RenameSelf("사회자"), S_OK);
    EXPECT_EQ(g1->ReadPacket(), Rename(kHost, A("사회자")));
    EXPECT_EQ(room->RenameSelf("사회자"), S_FALSE);
    EXPECT_EQ(room->RenameSelf("일이삼사오육칠팔"), E_INVALIDARG); // 16 bytes
    EXPECT_EQ(room->RenameSelf(""), E_INVALIDARG);
    EXPECT_TRUE(SpinUntil([&] { return display.Has("\r\n[방장]님의 채팅이름이 사회자로 변경되었습니다.\r\n"); }));
    EXPECT_EQ(members.Rows()[0], (MirrorMembers::Row{"사회자", 0}));
    // Later lists no longer see a host row by its text; the host's lines
    // stay flag 0.
    auto g2 = Join(false);
    g2->Send(kRequest);
    EXPECT_EQ(g2->ReadPacket(), Frame(10, Member(A("사회자"), 2) + Member(Guest(1), 2) + Member(Guest(2), 1)));
    room->SpeakLine("hello");
    EXPECT_EQ(g2->ReadPacket(), Message(A("사회자"), 0, "hello"));
}

TEST_F(HostRoom, MalformedInputDropsOnlyItsSender)
{
    auto good = Join();
    struct Case {
        const char *what;
        std::string bytes;
        bool dropped;
    };
    const std::vector<Case> cases = {
        {"length 0", Le32(0) + "zzzz", true},
        {"length 4", Le32(4) + "zzzz", true},
        {"length 4097", Le32(4097) + std::string(100, 'z'), true},
        {"length 2^32-1", Le32(0xFFFFFFFFu) + "z", true},
        {"truncated chat line", Le32(12) + Byte(13) + Le32(3) + "abc", false},
        {"truncated rename", Frame(14, std::string(20, 'r')), false},
        {"unknown kind", Le32(5) + Byte(99), false},
        {"host-only kind", Frame(11, Member("x", 2)), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto bad = Join(false);
        bad->Send(c.bytes);
        if (c.dropped) {
            EXPECT_TRUE(bad->WaitClosed());
        } else {
            // Still served afterwards.
            bad->Send(kRequest);
            std::string list;
            do
                list = bad->ReadPacket();
            while (list.size() > 4 && list[4] == 12); // leaves of earlier cases
            EXPECT_EQ(list.size() > 4 ? list[4] : 0, 10);
        }
        good->Discard();
        // The good guest is still served.
        good->Send(Message(Guest(1), 1, c.what));
        std::string got;
        SpinUntil([&] {
            got = good->ReadPacket(200);
            return got.empty() || got == Message(Guest(1), 1, c.what);
        });
        EXPECT_EQ(got, Message(Guest(1), 1, c.what));
    }

    // A flood of random bytes.
    auto flood = Join(false);
    std::string noise(64 * 1024, '\0');
    unsigned seed = 12345;
    for (char &ch : noise) {
        seed = seed * 1103515245u + 12345u;
        ch = static_cast<char>(seed >> 16);
    }
    flood->Send(noise.substr(0, 4096));
    EXPECT_TRUE(flood->WaitClosed());
    good->Discard();
    good->Send(Message(Guest(1), 1, "still here"));
    std::string got;
    SpinUntil([&] {
        got = good->ReadPacket(200);
        return got.empty() || got == Message(Guest(1), 1, "still here");
    });
    EXPECT_EQ(got, Message(Guest(1), 1, "still here"));
}

TEST_F(HostRoom, AGuestThatStopsReadingIsDroppedAndTheRestCarryOn)
{
    room.reset();
    room = std::make_unique<CChatRoom>(&display, &members, &mainWindow);
    room->SetSendLimit(32 * 1024);
    room->InitHost();
    ASSERT_TRUE(room->StartHosting(0));
    port = room->ListeningPort();

    auto reader = Join();
    auto stalled = std::make_unique<RawPeer>(port, 4096);
    ASSERT_TRUE(SpinUntil([&] { return room->ConnectionCount() == 2; }));
    stalled->Send(kRequest); // and never reads
    EXPECT_EQ(reader->ReadPacket(), Frame(11, Member(Guest(2), 2)));
    reader->Discard();

    const std::string text(1000, 'L');
    int sent = 0;
    int received = 0;
    const auto expected = Message(kHost, 0, text);
    // Keep talking until the stalled guest is gone; the reader keeps up.
    bool leaveSeen = false;
    SpinUntil(
        [&] {
            for (int i = 0; i < 20; ++i, ++sent)
                room->SpeakLine(text);
            for (std::string p = reader->ReadPacket(100); !p.empty(); p = reader->ReadPacket(1)) {
                if (p == expected)
                    ++received;
                else if (p[4] == 12)
                    leaveSeen = true; // the leave of the stalled guest
                if (received == sent)
                    break;
            }
            return leaveSeen;
        },
        60000);
    EXPECT_TRUE(leaveSeen);
    EXPECT_EQ(room->ConnectionCount(), 1u);
    EXPECT_EQ(room->Members().Count(), 2u);
    EXPECT_GT(sent, 10);
    // Every line the reader was sent came whole and in order.
    while (received < sent) {
        const std::string p = reader->ReadPacket(500);
        if (p.empty())
            break;
        if (p == expected)
            ++received;
    }
    EXPECT_EQ(received, sent);
}

TEST_F(HostRoom, ClosingTheRoomClosesEveryGuestAndJoinsEveryThread)
{
    std::vector<std::unique_ptr<RawPeer>> guests;
    for (int i = 0; i < 5; ++i)
        guests.push_back(Join());
    EXPECT_EQ(room->LiveThreadCount(), 5);
    room->CloseChatSockets();
    EXPECT_EQ(room->LiveThreadCount(), 0);
    for (auto &g : guests)
        EXPECT_TRUE(g->WaitClosed());
    // Nothing listens any more.
    RawPeer late(port);
    EXPECT_FALSE(late.Ok());
}

TEST_F(HostRoom, DisplayIsCalledOnTheRoomsThreadInEventOrder)
{
    const auto roomThread = std::this_thread::get_id();
    std::atomic<int> foreign{0};
    display.onAdd = [&](const std::string &) {
        if (std::this_thread::get_id() != roomThread)
            ++foreign;
    };
    auto g1 = Join();
    // Lines handled on the worker (chat line, rename) and on the window
    // thread (the goodbye) show in the order they happened.
    g1->Send(Message(Guest(1), 1, "last words"));
    g1->Send(Rename(Guest(1), "bye"));
    EXPECT_EQ(g1->ReadPacket(), Message(Guest(1), 1, "last words"));
    EXPECT_EQ(g1->ReadPacket(), Rename(Guest(1), "bye"));
    g1->Close();
    ASSERT_TRUE(SpinUntil([&] { return display.Has("\r\n(bye)님 안녕히가세요\r\n"); }));
    // Every kind of displayed line, with its colour, size and indent.
    EXPECT_EQ(display.Lines(),
              (std::vector<Line>{{"(손님1)님 안녕하세요\r\n", 0x000000, 160, false},
                                 {"\r\n[손님1]님의 말:\r\n", 0x545454, 170, false},
                                 {"last words\r\n", 0x000000, 160, true},
                                 {"\r\n[손님1]님의 채팅이름이 bye로 변경되었습니다.\r\n", 0x545454, 170, false},
                                 {"\r\n(bye)님 안녕히가세요\r\n", 0x000000, 160, false}}));
    EXPECT_EQ(foreign.load(), 0);
    EXPECT_EQ(members.Rows(), (std::vector<MirrorMembers::Row>{{"방장", 0}}));
    EXPECT_EQ(members.BadReports(), 0);
}
