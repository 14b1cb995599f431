#pragma once
// What the writer hands its output to: the stream header once writing has
// begun, then every data packet, then the end. Called on the writer's
// streaming thread (header, packets) and on the thread that ends writing.
// An implementation must return quickly and never call back into the writer.
#include <cstdint>
#include <memory>
#include <vector>

using AsfBytes = std::shared_ptr<const std::vector<std::uint8_t>>;

class IWMWriterSink {
public:
    virtual ~IWMWriterSink() = default;
    // The ASF header object followed by the 50-byte data object header.
    virtual void OnHeader(AsfBytes header) = 0;
    // One fixed-size data packet.
    virtual void OnDataUnit(AsfBytes packet) = 0;
    // No more packets follow.
    virtual void OnEndWriting() = 0;
};
