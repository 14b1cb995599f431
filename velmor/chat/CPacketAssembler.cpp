#include "CPacketAssembler.h"

#include <cstring>

std::size_t CPacketAssembler::WantedBytes() const
{
    if (m_received >= 4) {
        const std::uint32_t expected = chat::ReadU32(m_buffer);
        if (chat::IsAcceptableLength(expected) && expected > m_received)
            return expected - m_received;
    }
    return FreeSpace();
}

CPacketAssembler::Result CPacketAssembler::Next(ChatPacket &out)
{
    if (m_received < 4)
        return NEED_MORE;
    const std::uint32_t expected = chat::ReadU32(m_buffer);
    if (!chat::IsAcceptableLength(expected))
        return MALFORMED;
    if (m_received < expected)
        return NEED_MORE;
    out.assign(m_buffer, expected);
    m_received -= expected;
    std::memmove(m_buffer, m_buffer + expected, m_received);
    return PACKET;
}
