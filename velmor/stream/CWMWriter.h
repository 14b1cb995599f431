#pragma once
// The Windows Media writer (IWMWriter with IWMWriterAdvanced) built on
// GStreamer: raw samples written to its inputs are encoded as WMV2 video and
// WMA v2 audio, multiplexed into one streamable ASF stream and handed to the
// added sinks (IWMWriterSink) as a header and fixed-size data packets.
//
// Inputs follow the profile's stream order. A video input takes bottom-up
// 24-bit RGB frames of the stream's size at any rate (they are fitted to the
// stream's frame rate); an audio input takes interleaved 16-bit PCM of the
// stream's rate and channel count.
//
// Threads: SetProfile, AddSink, BeginWriting, Flush and EndWriting run on the
// owner's thread; AllocateSample and WriteSample on one writing thread. Sinks
// are called on GStreamer's streaming thread.
#include "CWMProfile.h"
#include "CWMSample.h"
#include "IWMWriterSink.h"

#include "platform/GstHolders.h"

#include <gst/app/gstappsink.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using QWORD = std::uint64_t;

// Raised on GStreamer failures inside the writer (NS_E_-style codes).
inline constexpr HRESULT NS_E_INVALID_REQUEST = static_cast<HRESULT>(0xC00D002Bu);
inline constexpr HRESULT NS_E_NO_PROFILE = static_cast<HRESULT>(0xC00D0BC4u);
inline constexpr HRESULT NS_E_ENCODER_BEHIND = static_cast<HRESULT>(0xC00D0BC5u);

class CWMWriter {
public:
    CWMWriter();
    ~CWMWriter();
    CWMWriter(const CWMWriter &) = delete;
    CWMWriter &operator=(const CWMWriter &) = delete;

    HRESULT SetProfile(const CWMProfile &profile);
    HRESULT GetInputCount(DWORD *count) const;
    // The media type of input `index` (GetInputProps + GetType).
    HRESULT GetInputProps(DWORD index, WMMediaType *type) const;

    // IWMWriterAdvanced: the sinks receive the stream; not owned.
    HRESULT AddSink(IWMWriterSink *sink);
    HRESULT RemoveSink(IWMWriterSink *sink);

    HRESULT BeginWriting();
    HRESULT AllocateSample(DWORD length, std::unique_ptr<CWMSample> &sample);
    // time100ns: presentation time in 100-nanosecond units since the start.
    HRESULT WriteSample(DWORD input, QWORD time100ns, DWORD flags, CWMSample *sample);
    HRESULT Flush();
    // Drains the encoders, delivers the last packets and ends every sink's
    // stream. Waits at most kEndWaitMs for the encoders to finish.
    HRESULT EndWriting();

    // From `until` on, WriteSample no longer waits for room in front of a
    // stalled encoder (the owner is closing). Any thread.
    void LimitWaits(std::chrono::steady_clock::time_point until);
    // Whether the limit set by LimitWaits has passed.
    bool WaitsExpired() const;

    static constexpr unsigned kEndWaitMs = 1000;

    bool IsWriting() const { return m_writing; }
    // Figures for tests and benchmarks.
    std::uint64_t PacketsDelivered() const { return m_packetsOut.load(); }
    std::uint64_t SamplesDropped() const { return m_samplesDropped.load(); }
    // An element of the encoder pipeline while writing, by name: "in<i>" (the
    // input of input i), "enc<i>" (its encoder), "mux", "out"; null
    // otherwise. Tests and the benchmark watch its pads.
    platform::GstPtr<GstElement> Element(const char *name) const;

private:
    struct Input {
        CWMStreamConfig config;
        GstElement *appsrc = nullptr; // owned by the pipeline
        std::uint64_t maxQueuedBytes = 0;
        std::uint64_t lastPts = 0;
        bool havePts = false;
    };

    HRESULT BuildPipeline();
    bool PollBusForError();
    static GstFlowReturn OnNewSample(GstAppSink *appsink, gpointer self);
    static GstPadProbeReturn RebaseVideoTimestamps(GstPad *pad, GstPadProbeInfo *info, gpointer self);
    void DeliverSample(GstSample *sample);
    void DeliverHeader(GstCaps *caps);

    std::vector<Input> m_inputs;
    platform::PipelineHolder m_pipeline;
    platform::GstPtr<GstBus> m_bus;
    bool m_writing = false;
    bool m_failed = false;
    DWORD m_bufferWindowMs = 0;

    std::mutex m_sinkLock; // guards m_sinks and the header state below
    std::vector<IWMWriterSink *> m_sinks;
    bool m_headerSent = false;
    std::vector<std::uint8_t> m_pendingHeader; // header buffers seen before the first packet
    std::uint32_t m_packetSize = 0;

    GstSegment m_videoSegment{}; // touched only on the encoder's streaming thread
    GstClockTime m_videoDelay = 0; // keeps the picture with the WMA decoder's one-frame delay
    bool m_haveVideoSegment = false;

    std::atomic<std::uint64_t> m_packetsOut{0};
    std::atomic<std::uint64_t> m_samplesDropped{0};
    std::atomic<std::chrono::steady_clock::rep> m_waitLimit{
        std::chrono::steady_clock::duration::max().count()};
};
