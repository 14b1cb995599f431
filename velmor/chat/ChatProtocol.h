#pragma once
// The chat wire format shared by the room host and its guests.
//
// Every packet starts with its total length (4 bytes, little-endian, the
// header included) and a kind byte. The user-list request and the room-full
// notice stop there (5 bytes); every other packet carries a 4-byte payload
// length and the payload. Text on the wire is CP949, NUL-terminated and
// zero-padded inside fixed fields. The functions here take and return CP949
// bytes; the room converts to and from UTF-8 at its edge.
//
// Builders return the exact bytes to send. Readers never look past the packet
// they are given nor past the field they read: a name without its NUL is cut
// at the field, a short packet is refused.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Packet kinds.
inline constexpr std::uint8_t CHAT_USERLIST = 10; // request (guest) and list (host)
inline constexpr std::uint8_t CHAT_JOIN = 11;
inline constexpr std::uint8_t CHAT_LEAVE = 12;
inline constexpr std::uint8_t CHAT_MESSAGE = 13;
inline constexpr std::uint8_t CHAT_RENAME = 14;
inline constexpr std::uint8_t CHAT_ROOMFULL = 15;

// Member flags, also the icon index of a member's row in the user list.
inline constexpr std::uint8_t MEMBER_HOST = 0;
inline constexpr std::uint8_t MEMBER_SELF = 1;
inline constexpr std::uint8_t MEMBER_GUEST = 2;
inline constexpr std::uint8_t MEMBER_UNKNOWN = 255; // a guest's own flag before the list arrives

// Sizes in bytes.
inline constexpr std::size_t CHAT_SHORT_PACKET = 5;      // length + kind
inline constexpr std::size_t CHAT_HEADER = 9;            // length + kind + payload length
inline constexpr std::size_t CHAT_NAME_FIELD = 15;       // name field of every record
inline constexpr std::size_t CHAT_MAX_NAME = 14;         // longest name (CP949 bytes)
inline constexpr std::size_t CHAT_MEMBER_SIZE = 16;      // one ChatMember
inline constexpr std::size_t CHAT_MAX_TEXT = 1023;       // longest chat line (CP949 bytes)
inline constexpr std::size_t CHAT_RENAME_PAYLOAD = 30;   // old name + new name
inline constexpr std::size_t CHAT_RECV_BUFFER = 4096;    // reassembly buffer, largest packet accepted
inline constexpr std::size_t CHAT_MAX_PACKET = CHAT_HEADER + CHAT_MEMBER_SIZE + CHAT_MAX_TEXT + 1; // 1049

// Socket constants of the room.
inline constexpr int CHAT_LISTEN_BACKLOG = 5;
inline constexpr unsigned CHAT_MAX_GUESTS = 51;
inline constexpr std::uint16_t CHAT_DEFAULT_PORT = 64002;
inline constexpr unsigned WM_CHAT_WORKERQUIT = 5000;     // tells a host worker to end
inline constexpr unsigned WM_CHAT_HOSTSOCKET = 0x8000;   // host socket notifications
inline constexpr unsigned WM_CHAT_CLIENTSOCKET = 0x8001; // guest socket notifications
inline constexpr int CHAT_WORKER_STOP_WAIT_MS = 1000;

// Socket notification events, with the values Winsock gives them.
inline constexpr int FD_READ = 0x01;
inline constexpr int FD_WRITE = 0x02;
inline constexpr int FD_ACCEPT = 0x08;
inline constexpr int FD_CONNECT = 0x10;
inline constexpr int FD_CLOSE = 0x20;

#pragma pack(push, 1)
// One member record: name (NUL-terminated, zero-padded) and member flag.
struct ChatMember {
    char name[CHAT_NAME_FIELD];
    std::uint8_t flag;
};
// One chat line: the sender's name and flag, then the NUL-terminated text.
// Only the text up to and including its NUL travels.
struct ChatLine {
    char name[CHAT_NAME_FIELD];
    std::uint8_t flag;
    char text[CHAT_MAX_TEXT + 1];
};
#pragma pack(pop)
static_assert(sizeof(ChatMember) == 16);
static_assert(sizeof(ChatLine) == 16 + 1024);

// A whole packet as bytes.
using ChatPacket = std::string;

namespace chat {

// A name or text decoded from a packet (CP949 bytes).
struct MemberInfo {
    std::string name;
    std::uint8_t flag = 0;
    bool operator==(const MemberInfo &) const = default;
};
struct LineInfo {
    std::string name;
    std::uint8_t flag = 0;
    std::string text;
};
struct RenameInfo {
    std::string oldName;
    std::string newName;
};

// Little-endian helpers.
std::uint32_t ReadU32(const char *p);
void WriteU32(char *p, std::uint32_t v);

// The declared total length and the kind byte of a packet that holds at least
// 4 (length) or 5 (kind) bytes.
std::uint32_t PacketLength(std::string_view packet);
std::uint8_t PacketKind(std::string_view packet);
// True when a declared total length can be a packet (5 ... 4096 bytes).
bool IsAcceptableLength(std::uint32_t totalLength);

// Reads a name field of 15 bytes: up to its NUL, never more than 14 bytes.
std::string ReadNameField(const char *field);
// Writes `name` into a 15-byte field, cut to 14 bytes, NUL-padded.
void WriteNameField(char *field, std::string_view name);

// Builders. Names are cut to 14 bytes, texts to 1023 bytes.
ChatPacket BuildUserListRequest();
ChatPacket BuildRoomFull();
ChatPacket BuildUserList(const std::vector<MemberInfo> &members);
ChatPacket BuildJoin(std::string_view name);  // flag 2
ChatPacket BuildLeave(std::string_view name); // flag 1
ChatPacket BuildMessage(std::string_view name, std::uint8_t flag, std::string_view text);
ChatPacket BuildRename(std::string_view oldName, std::string_view newName);

// Readers of whole packets (as framed by their total length). Each returns
// false when the packet is too short for its record.
// User list: every whole 16-byte record that both the payload length and
// the packet hold.
std::vector<MemberInfo> ParseUserList(std::string_view packet);
bool ParseMember(std::string_view packet, MemberInfo &out);  // join, leave
bool ParseMessage(std::string_view packet, LineInfo &out);   // text up to its NUL or the packet end, at most 1023 bytes
bool ParseRename(std::string_view packet, RenameInfo &out);

// Cuts CP949 `text` to at most `maxBytes` bytes without splitting a
// double-byte character.
std::string CutAnsi(std::string_view text, std::size_t maxBytes);

// Name comparison of the user list: CP949 bytes, ASCII letters without regard
// to case, double-byte characters byte for byte.
bool NamesEqualNoCase(std::string_view a, std::string_view b);

} // namespace chat
