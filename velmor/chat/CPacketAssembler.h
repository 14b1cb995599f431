#pragma once
// Reassembles the chat byte stream into whole packets in a 4096-byte buffer.
// Packets are framed by their first four bytes (total length, little-endian).
// A declared length below 5 or above 4096 can never be assembled: the stream
// is then reported malformed and the connection must be closed.
//
// Used by one thread at a time (the host's window thread for one guest, or
// the guest's receive thread).
#include <cstddef>

#include "ChatProtocol.h"

class CPacketAssembler {
public:
    enum Result { NEED_MORE, PACKET, MALFORMED };

    // Where the next received bytes go, and how many fit.
    char *WritePtr() { return m_buffer + m_received; }
    std::size_t FreeSpace() const { return CHAT_RECV_BUFFER - m_received; }
    // The bytes to ask for next: what the current packet still misses once
    // its length is known, otherwise all the free space.
    std::size_t WantedBytes() const;
    // `bytes` were received at WritePtr().
    void Commit(std::size_t bytes) { m_received += bytes; }

    // Takes the oldest whole packet out of the buffer into `out`.
    Result Next(ChatPacket &out);

    std::size_t Held() const { return m_received; }

private:
    char m_buffer[CHAT_RECV_BUFFER];
    std::size_t m_received = 0;
};
