#include "ChatProtocol.h"

#include <algorithm>
#include <cstring>

namespace chat {

std::uint32_t ReadU32(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return static_cast<std::uint32_t>(u[0]) | (static_cast<std::uint32_t>(u[1]) << 8) |
           (static_cast<std::uint32_t>(u[2]) << 16) | (static_cast<std::uint32_t>(u[3]) << 24);
}

void WriteU32(char *p, std::uint32_t v)
{
    p[0] = static_cast<char>(v & 0xFFu);
    p[1] = static_cast<char>((v >> 8) & 0xFFu);
    p[2] = static_cast<char>((v >> 16) & 0xFFu);
    p[3] = static_cast<char>((v >> 24) & 0xFFu);
}

std::uint32_t PacketLength(std::string_view packet)
{
    return packet.size() >= 4 ? ReadU32(packet.data()) : 0;
}

std::uint8_t PacketKind(std::string_view packet)
{
    return packet.size() >= 5 ? static_cast<std::uint8_t>(packet[4]) : 0;
}

bool IsAcceptableLength(std::uint32_t totalLength)
{
    return totalLength >= CHAT_SHORT_PACKET && totalLength <= CHAT_RECV_BUFFER;
}

std::string ReadNameField(const char *field)
{
    const char *end = static_cast<const char *>(std::memchr(field, '\0', CHAT_NAME_FIELD));
    std::size_t len = end ? static_cast<std::size_t>(end - field) : CHAT_NAME_FIELD;
    return CutAnsi(std::string_view(field, len), CHAT_MAX_NAME);
}

void WriteNameField(char *field, std::string_view name)
{
    const std::string cut = CutAnsi(name, CHAT_MAX_NAME);
    std::memset(field, 0, CHAT_NAME_FIELD);
    std::memcpy(field, cut.data(), cut.size());
}

namespace {

// A zeroed packet of `total` bytes with its length, kind and (for packets
// longer than 5 bytes) payload length filled in.
ChatPacket NewPacket(std::uint8_t kind, std::size_t total)
{
    ChatPacket p(total, '\0');
    WriteU32(p.data(), static_cast<std::uint32_t>(total));
    p[4] = static_cast<char>(kind);
    if (total > CHAT_SHORT_PACKET)
        WriteU32(p.data() + 5, static_cast<std::uint32_t>(total - CHAT_HEADER));
    return p;
}

ChatPacket MemberPacket(std::uint8_t kind, std::string_view name, std::uint8_t flag)
{
    ChatPacket p = NewPacket(kind, CHAT_HEADER + CHAT_MEMBER_SIZE);
    WriteNameField(p.data() + CHAT_HEADER, name);
    p[CHAT_HEADER + CHAT_NAME_FIELD] = static_cast<char>(flag);
    return p;
}

// The payload a packet really holds: what its payload length declares, never
// more than the bytes after the header.
std::string_view Payload(std::string_view packet)
{
    if (packet.size() < CHAT_HEADER)
        return {};
    const std::size_t declared = ReadU32(packet.data() + 5);
    return packet.substr(CHAT_HEADER, std::min(declared, packet.size() - CHAT_HEADER));
}

bool IsLeadByte(unsigned char c) { return c >= 0x81 && c != 0xFF; }

unsigned char FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

} // namespace

ChatPacket BuildUserListRequest() { return NewPacket(CHAT_USERLIST, CHAT_SHORT_PACKET); }

ChatPacket BuildRoomFull() { return NewPacket(CHAT_ROOMFULL, CHAT_SHORT_PACKET); }

ChatPacket BuildUserList(const std::vector<MemberInfo> &members)
{
    ChatPacket p = NewPacket(CHAT_USERLIST, CHAT_HEADER + CHAT_MEMBER_SIZE * members.size());
    char *rec = p.data() + CHAT_HEADER;
    for (const MemberInfo &m : members) {
        WriteNameField(rec, m.name);
        rec[CHAT_NAME_FIELD] = static_cast<char>(m.flag);
        rec += CHAT_MEMBER_SIZE;
    }
    return p;
}

ChatPacket BuildJoin(std::string_view name) { return MemberPacket(CHAT_JOIN, name, MEMBER_GUEST); }

ChatPacket BuildLeave(std::string_view name) { return MemberPacket(CHAT_LEAVE, name, MEMBER_SELF); }

ChatPacket BuildMessage(std::string_view name, std::uint8_t flag, std::string_view text)
{
    const std::string cut = CutAnsi(text.substr(0, std::min(text.size(), text.find('\0'))), CHAT_MAX_TEXT);
    ChatPacket p = NewPacket(CHAT_MESSAGE, CHAT_HEADER + CHAT_MEMBER_SIZE + cut.size() + 1);
    WriteNameField(p.data() + CHAT_HEADER, name);
    p[CHAT_HEADER + CHAT_NAME_FIELD] = static_cast<char>(flag);
    std::memcpy(p.data() + CHAT_HEADER + CHAT_MEMBER_SIZE, cut.data(), cut.size());
    return p;
}

ChatPacket BuildRename(std::string_view oldName, std::string_view newName)
{
    ChatPacket p = NewPacket(CHAT_RENAME, CHAT_HEADER + CHAT_RENAME_PAYLOAD);
    WriteNameField(p.data() + CHAT_HEADER, oldName);
    WriteNameField(p.data() + CHAT_HEADER + CHAT_NAME_FIELD, newName);
    return p;
}

std::vector<MemberInfo> ParseUserList(std::string_view packet)
{
    std::vector<MemberInfo> out;
    const std::string_view payload = Payload(packet);
    for (std::size_t at = 0; at + CHAT_MEMBER_SIZE <= payload.size(); at += CHAT_MEMBER_SIZE) {
        MemberInfo m;
        m.name = ReadNameField(payload.data() + at);
        m.flag = static_cast<std::uint8_t>(payload[at + CHAT_NAME_FIELD]);
        out.push_back(std::move(m));
    }
    return out;
}

bool ParseMember(std::string_view packet, MemberInfo &out)
{
    if (packet.size() < CHAT_HEADER + CHAT_MEMBER_SIZE)
        return false;
    out.name = ReadNameField(packet.data() + CHAT_HEADER);
    out.flag = static_cast<std::uint8_t>(packet[CHAT_HEADER + CHAT_NAME_FIELD]);
    return true;
}

bool ParseMessage(std::string_view packet, LineInfo &out)
{
    if (packet.size() < CHAT_HEADER + CHAT_MEMBER_SIZE)
        return false;
    out.name = ReadNameField(packet.data() + CHAT_HEADER);
    out.flag = static_cast<std::uint8_t>(packet[CHAT_HEADER + CHAT_NAME_FIELD]);
    std::string_view text = packet.substr(CHAT_HEADER + CHAT_MEMBER_SIZE);
    text = text.substr(0, std::min(text.size(), text.find('\0')));
    out.text = CutAnsi(text, CHAT_MAX_TEXT);
    return true;
}

bool ParseRename(std::string_view packet, RenameInfo &out)
{
    if (packet.size() < CHAT_HEADER + CHAT_RENAME_PAYLOAD)
        return false;
    out.oldName = ReadNameField(packet.data() + CHAT_HEADER);
    out.newName = ReadNameField(packet.data() + CHAT_HEADER + CHAT_NAME_FIELD);
    return true;
}

std::string CutAnsi(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return std::string(text);
    // Walk whole characters: a lead byte takes its trail byte with it.
    std::size_t at = 0;
    while (at < maxBytes) {
        const std::size_t width = IsLeadByte(static_cast<unsigned char>(text[at])) ? 2 : 1;
        if (at + width > maxBytes)
            break;
        at += width;
    }
    return std::string(text.substr(0, at));
}

bool NamesEqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    std::size_t i = 0;
    while (i < a.size()) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (IsLeadByte(ca) && i + 1 < a.size()) {
            // A double-byte character: its trail byte may look like an ASCII
            // letter but must match exactly.
            if (ca != cb || a[i + 1] != b[i + 1])
                return false;
            i += 2;
            continue;
        }
        if (FoldAscii(ca) != FoldAscii(cb))
            return false;
        ++i;
    }
    return true;
}

} // namespace chat
