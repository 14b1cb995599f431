// libFuzzer target for what arrives from a chat peer: the byte stream is cut
// into receives of fuzzer-chosen sizes, reassembled, and every whole packet
// goes through every reader. Checks that a packet comes out only with an
// acceptable length and that readers stay within their limits.
#include "CPacketAssembler.h"
#include "ChatProtocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    CPacketAssembler assembler;
    std::size_t at = 0;
    while (at < size) {
        // The first byte of each step picks the receive size.
        const std::size_t step = 1 + data[at] % 64;
        ++at;
        const std::size_t n = std::min({step, size - at, assembler.WantedBytes()});
        std::memcpy(assembler.WritePtr(), data + at, n);
        assembler.Commit(n);
        at += n;
        ChatPacket packet;
        for (;;) {
            const CPacketAssembler::Result r = assembler.Next(packet);
            if (r == CPacketAssembler::MALFORMED)
                return 0;
            if (r == CPacketAssembler::NEED_MORE)
                break;
            if (!chat::IsAcceptableLength(static_cast<std::uint32_t>(packet.size())) ||
                chat::PacketLength(packet) != packet.size())
                std::abort();
            for (const chat::MemberInfo &m : chat::ParseUserList(packet))
                if (m.name.size() > CHAT_MAX_NAME)
                    std::abort();
            chat::MemberInfo member;
            chat::ParseMember(packet, member);
            chat::LineInfo line;
            if (chat::ParseMessage(packet, line) && line.text.size() > CHAT_MAX_TEXT)
                std::abort();
            chat::RenameInfo rename;
            chat::ParseRename(packet, rename);
        }
    }
    return 0;
}
