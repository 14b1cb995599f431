// Packet and chunk layouts built by hand: what the parser must accept,
// refuse and repair.
#include "AsfParser.h"
#include "MmsFraming.h"

#include <gtest/gtest.h>

namespace {

// A multiple-payload packet: flags 0x51 (multiple payloads, WORD padding,
// WORD packet length), properties 0x5D (BYTE replicated length, DWORD
// offset, BYTE object number). Payloads: {stream|key, object, offset, bytes}.
struct P {
    std::uint8_t stream;
    std::uint8_t object;
    std::uint32_t offset;
    std::uint16_t bytes;
};
std::vector<std::uint8_t> Packet(std::size_t size, std::uint16_t lengthField, std::uint16_t padding,
                                 const std::vector<P> &payloads)
{
    std::vector<std::uint8_t> p = {0x51,
                                   0x5D,
                                   static_cast<std::uint8_t>(lengthField),
                                   static_cast<std::uint8_t>(lengthField >> 8),
                                   static_cast<std::uint8_t>(padding),
                                   static_cast<std::uint8_t>(padding >> 8),
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   static_cast<std::uint8_t>(0x80 | payloads.size())};
    for (const P &x : payloads) {
        p.push_back(x.stream);
        p.push_back(x.object);
        for (int i = 0; i < 4; ++i)
            p.push_back(static_cast<std::uint8_t>(x.offset >> (8 * i)));
        p.push_back(8);
        for (int i = 0; i < 8; ++i)
            p.push_back(0);
        p.push_back(static_cast<std::uint8_t>(x.bytes));
        p.push_back(static_cast<std::uint8_t>(x.bytes >> 8));
        p.insert(p.end(), x.bytes, static_cast<std::uint8_t>(x.object));
    }
    p.resize(size, 0);
    return p;
}

} // namespace

TEST(AsfPacket, PayloadsAreReadAndKeyFrameStartsFound)
{
    // Audio (stream 1, key), the tail of video object 4, the start of key frame 5.
    auto p = Packet(200, 200, 0, {{0x81, 9, 0, 20}, {0x02, 4, 300, 30}, {0x82, 5, 0, 40}});
    p.resize(200);
    const auto payloads = asf::ParsePacket(p.data(), p.size());
    ASSERT_TRUE(payloads);
    ASSERT_EQ(payloads->size(), 3u);
    EXPECT_EQ((*payloads)[1].offset, 300u);
    EXPECT_EQ((*payloads)[2].size, 40u);
    EXPECT_TRUE(asf::StartsVideoKeyFrame(p.data(), p.size(), 2));
    // Audio key payloads are not video key frames.
    EXPECT_FALSE(asf::StartsVideoKeyFrame(p.data(), p.size(), 3));
    // A continuation of a key frame does not start one.
    auto tail = Packet(200, 200, 0, {{0x82, 5, 40, 60}});
    EXPECT_FALSE(asf::StartsVideoKeyFrame(tail.data(), tail.size(), 2));
}

TEST(AsfPacket, TruncatedOrOverlongPayloadsAreRefused)
{
    auto p = Packet(120, 120, 0, {{0x82, 1, 0, 50}});
    EXPECT_TRUE(asf::ParsePacket(p.data(), p.size()));
    EXPECT_FALSE(asf::ParsePacket(p.data(), 40)); // cut inside the payload
    EXPECT_FALSE(asf::ParsePacket(p.data(), 5));  // cut inside the header
    p[13 + 1 + 1 + 4 + 1 + 8] = 0xFF;             // payload length far past the end
    EXPECT_FALSE(asf::ParsePacket(p.data(), p.size()));
    EXPECT_FALSE(asf::ParsePacket(nullptr, 0));
    EXPECT_FALSE(asf::StartsVideoKeyFrame(p.data(), p.size(), 2));
}

TEST(AsfPacket, LengthWithoutPaddingIsRepairedOnlyThen)
{
    // 100 bytes of payload area used, 20 bytes of padding, length written without them.
    auto p = Packet(120, 100, 20, {{0x82, 1, 0, 70}});
    EXPECT_TRUE(asf::ParsePacket(p.data(), p.size())); // read leniently
    EXPECT_TRUE(asf::NormalizePacketLength(p.data(), p.size()));
    EXPECT_EQ(p[2] | (p[3] << 8), 120);
    EXPECT_FALSE(asf::NormalizePacketLength(p.data(), p.size())); // already right
    ASSERT_TRUE(asf::ParsePacket(p.data(), p.size()));
    EXPECT_EQ((*asf::ParsePacket(p.data(), p.size()))[0].size, 70u);
}

TEST(AsfPacket, JoinPacketDropsEarlierVideoButKeepsAudio)
{
    auto p = Packet(300, 300, 0, {{0x02, 3, 0, 30}, {0x81, 7, 0, 20}, {0x82, 4, 0, 60}, {0x81, 8, 0, 10}});
    const auto join = asf::MakeJoinPacket(p.data(), p.size(), 2);
    ASSERT_TRUE(join);
    ASSERT_EQ(join->size(), 300u);
    const auto payloads = asf::ParsePacket(join->data(), join->size());
    ASSERT_TRUE(payloads);
    ASSERT_EQ(payloads->size(), 2u); // payloads before the key frame are dropped, audio included
    EXPECT_EQ((*payloads)[0].stream, 2);
    EXPECT_TRUE((*payloads)[0].keyFrame);
    EXPECT_EQ((*payloads)[0].mediaObject, 4u);
    EXPECT_EQ((*payloads)[1].stream, 1);
    // Nothing to drop: the packet is used as it is.
    auto clean = Packet(300, 300, 0, {{0x81, 7, 0, 20}, {0x82, 4, 0, 60}});
    EXPECT_FALSE(asf::MakeJoinPacket(clean.data(), clean.size(), 2));
}

TEST(MmsChunk, LayoutAndLimits)
{
    const std::uint8_t payload[3] = {1, 2, 3};
    const auto c = mms::MakeChunk(mms::kDataChunk, 0x01020304, 0x0C00, payload, 3);
    const std::vector<std::uint8_t> expected = {'$', 'D', 11, 0, 4, 3, 2, 1, 0x00, 0x0C, 11, 0, 1, 2, 3};
    EXPECT_EQ(c, expected);
    const auto end = mms::MakeChunk(mms::kEndChunk, 7, 0, nullptr, 0);
    EXPECT_EQ(end, (std::vector<std::uint8_t>{'$', 'E', 8, 0, 7, 0, 0, 0, 0, 0, 8, 0}));
    std::vector<std::uint8_t> big(mms::kMaxChunkPayload + 1);
    EXPECT_TRUE(mms::MakeChunk(mms::kHeaderChunk, 0, 0, big.data(), big.size()).empty());
    EXPECT_EQ(mms::MakeChunk(mms::kHeaderChunk, 0, 0, big.data(), big.size() - 1).size(),
              big.size() - 1 + 12);
}
