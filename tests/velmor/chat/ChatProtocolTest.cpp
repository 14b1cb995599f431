// The wire format against bytes written out by hand from the packet tables,
// and the readers against short, unterminated and oversized input.
#include "ChatProtocol.h"
#include "CPacketAssembler.h"

#include "ChatTestSupport.h"

#include <gtest/gtest.h>

using namespace chattest;

TEST(ChatProtocol, BuildersMatchTheTables)
{
    const std::string host = A("방장");
    const std::string guest = A("손님1");
    EXPECT_EQ(host, std::string("\xb9\xe6\xc0\xe5", 4)); // CP949, not UTF-8

    EXPECT_EQ(chat::BuildUserListRequest(), kRequest);
    EXPECT_EQ(chat::BuildRoomFull(), kRoomFull);
    EXPECT_EQ(chat::BuildUserList({{host, 0}, {guest, 1}}),
              Le32(41) + Byte(10) + Le32(32) + Field(host) + Byte(0) + Field(guest) + Byte(1));
    EXPECT_EQ(chat::BuildUserList({}), Le32(9) + Byte(10) + Le32(0));
    EXPECT_EQ(chat::BuildJoin(guest), Le32(25) + Byte(11) + Le32(16) + Field(guest) + Byte(2));
    EXPECT_EQ(chat::BuildLeave(guest), Le32(25) + Byte(12) + Le32(16) + Field(guest) + Byte(1));
    EXPECT_EQ(chat::BuildMessage(guest, 1, "hi"),
              Le32(28) + Byte(13) + Le32(19) + Field(guest) + Byte(1) + std::string("hi\0", 3));
    EXPECT_EQ(chat::BuildRename(guest, A("철수")),
              Le32(39) + Byte(14) + Le32(30) + Field(guest) + Field(A("철수")));
}

TEST(ChatProtocol, LongestLineAndCuts)
{
    const std::string text(1023, 'x');
    const ChatPacket p = chat::BuildMessage("a", 1, text);
    EXPECT_EQ(p.size(), 1049u);
    EXPECT_EQ(chat::PacketLength(p), 1049u);
    EXPECT_EQ(p.back(), '\0');
    // Longer text and names are cut at their limits.
    EXPECT_EQ(chat::BuildMessage("a", 1, text + "yz").size(), 1049u);
    EXPECT_EQ(chat::BuildJoin(std::string(20, 'n')).substr(9, 15), std::string(14, 'n') + '\0');
    // A cut never splits a double-byte character: 7 syllables are 14 bytes,
    // the 8th does not fit, and 1023 bytes of syllables keep 511 of them.
    EXPECT_EQ(chat::CutAnsi(A("가나다라마바사아"), 14), A("가나다라마바사"));
    std::string syllables;
    for (int i = 0; i < 600; ++i)
        syllables += A("가");
    EXPECT_EQ(chat::CutAnsi(syllables, 1023).size(), 1022u);
    EXPECT_EQ(chat::CutAnsi("a" + syllables, 1023).size(), 1023u);
}

TEST(ChatProtocol, ReadersStayInsideFieldsAndPackets)
{
    // A name field without its NUL is cut at 14 bytes, never read on into
    // the flag byte.
    std::string full = Frame(11, std::string(15, 'Q') + Byte(2));
    chat::MemberInfo m;
    ASSERT_TRUE(chat::ParseMember(full, m));
    EXPECT_EQ(m.name, std::string(14, 'Q'));
    EXPECT_EQ(m.flag, 2);

    // A chat text without its NUL ends at the packet end.
    std::string line = Frame(13, Member("bob", 1) + "abc");
    chat::LineInfo l;
    ASSERT_TRUE(chat::ParseMessage(line, l));
    EXPECT_EQ(l.name, "bob");
    EXPECT_EQ(l.text, "abc");
    // An oversize text (a packet up to 4096 bytes) is cut to 1023 bytes.
    ASSERT_TRUE(chat::ParseMessage(Frame(13, Member("bob", 1) + std::string(3000, 'z')), l));
    EXPECT_EQ(l.text.size(), 1023u);

    // Records that the packet does not hold are refused.
    EXPECT_FALSE(chat::ParseMember(Frame(11, std::string(10, 'a')), m));
    EXPECT_FALSE(chat::ParseMessage(Frame(13, std::string(15, 'a')), l));
    chat::RenameInfo r;
    EXPECT_FALSE(chat::ParseRename(Frame(14, std::string(29, 'a')), r));
    EXPECT_FALSE(chat::ParseMessage(kRequest, l));
}

TEST(ChatProtocol, UserListYieldsOnlyWholeRecords)
{
    // 2.5 records: only two come out.
    const std::string payload = Member("a", 0) + Member("b", 1) + std::string(8, 'c');
    auto list = chat::ParseUserList(Frame(10, payload));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1], (chat::MemberInfo{"b", 1}));
    // A payload length that claims more than the packet holds reads only
    // what is there.
    std::string lying = Le32(25) + Byte(10) + Le32(4000) + Member("a", 0);
    EXPECT_EQ(chat::ParseUserList(lying).size(), 1u);
    // One that claims less reads only what it claims.
    std::string shortClaim = Le32(41) + Byte(10) + Le32(16) + Member("a", 0) + Member("b", 2);
    EXPECT_EQ(chat::ParseUserList(shortClaim).size(), 1u);
    EXPECT_TRUE(chat::ParseUserList(kRequest).empty());
}

TEST(ChatProtocol, NamesCompareWithoutCaseButSyllablesExactly)
{
    EXPECT_TRUE(chat::NamesEqualNoCase("Alice", "aLICE"));
    EXPECT_FALSE(chat::NamesEqualNoCase("Alice", "Alicf"));
    EXPECT_FALSE(chat::NamesEqualNoCase(A("손님1"), A("손님10")));
    // Two syllables whose trail bytes differ only as ASCII case letters
    // would: 0xB0 0x41 and 0xB0 0x61 are different characters.
    EXPECT_FALSE(chat::NamesEqualNoCase(std::string("\xb0\x41", 2), std::string("\xb0\x61", 2)));
    EXPECT_TRUE(chat::NamesEqualNoCase(A("방장X"), A("방장x")));
}

// --- Reassembly ------------------------------------------------------------------

namespace {
std::vector<ChatPacket> Feed(CPacketAssembler &a, const std::string &bytes, bool *malformed = nullptr)
{
    std::vector<ChatPacket> out;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t n = std::min(a.WantedBytes(), bytes.size() - at);
        std::memcpy(a.WritePtr(), bytes.data() + at, n);
        a.Commit(n);
        at += n;
        ChatPacket p;
        for (;;) {
            const auto r = a.Next(p);
            if (r == CPacketAssembler::PACKET) {
                out.push_back(p);
                continue;
            }
            if (r == CPacketAssembler::MALFORMED) {
                if (malformed)
                    *malformed = true;
                return out;
            }
            break;
        }
    }
    return out;
}
} // namespace

TEST(PacketAssembler, WholePacketsFromAnySplit)
{
    const std::string a = chat::BuildMessage("x", 1, "first");
    const std::string b = kRequest;
    const std::string c = chat::BuildRename("x", "y");
    const std::string stream = a + b + c;
    // Every way of cutting the stream in two, including inside a length.
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        CPacketAssembler asm1;
        auto got = Feed(asm1, stream.substr(0, cut));
        auto more = Feed(asm1, stream.substr(cut));
        got.insert(got.end(), more.begin(), more.end());
        ASSERT_EQ(got.size(), 3u) << "cut at " << cut;
        EXPECT_EQ(got[0], a);
        EXPECT_EQ(got[1], b);
        EXPECT_EQ(got[2], c);
        EXPECT_EQ(asm1.Held(), 0u);
    }
    // A guest asks only for what the current packet still misses.
    CPacketAssembler asm2;
    Feed(asm2, a.substr(0, 6));
    EXPECT_EQ(asm2.WantedBytes(), a.size() - 6);
}

TEST(PacketAssembler, ImpossibleLengthsAreMalformed)
{
    for (std::uint32_t len : {0u, 4u, 4097u, 0xFFFFFFFFu}) {
        CPacketAssembler a;
        bool bad = false;
        auto got = Feed(a, Le32(len), &bad);
        EXPECT_TRUE(bad) << len;
        EXPECT_TRUE(got.empty());
    }
    // The largest acceptable packet fills the buffer exactly.
    CPacketAssembler a;
    bool bad = false;
    auto got = Feed(a, Le32(4096) + Byte(99) + std::string(4091, 'z'), &bad);
    EXPECT_FALSE(bad);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].size(), 4096u);
}
