#include "CWMWriter.h"

#include "AsfParser.h"
#include "CLogFile.h"
#include "StampBuffer.h"

#include "platform/GstInit.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

// asfmux packet size: small enough for loopback and the Internet alike.
constexpr unsigned kPacketSize = 1400;
// How much raw input may wait in front of the encoders, in seconds, and how
// long a write waits for room before the sample is dropped.
constexpr unsigned kVideoQueueSeconds = 3;
constexpr unsigned kAudioQueueSeconds = 4;
constexpr auto kRoomWait = std::chrono::milliseconds(2000);

std::string Format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *fmt, ...)
{
    char text[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

} // namespace

CWMWriter::CWMWriter()
{
    platform::EnsureGstInit();
}

CWMWriter::~CWMWriter()
{
    if (m_writing)
        EndWriting();
}

HRESULT CWMWriter::SetProfile(const CWMProfile &profile)
{
    if (m_writing)
        return NS_E_INVALID_REQUEST;
    std::vector<Input> inputs;
    for (const CWMStreamConfig &s : profile.Streams()) {
        if (s.type == WMMediaType::Video &&
            (s.width <= 0 || s.height <= 0 || s.framesPerSecond <= 0 || !s.bitrate))
            return E_INVALIDARG;
        if (s.type == WMMediaType::Audio && (s.sampleRate <= 0 || s.channels <= 0 || !s.bitrate))
            return E_INVALIDARG;
        Input in;
        in.config = s;
        inputs.push_back(in);
    }
    if (inputs.empty())
        return E_INVALIDARG;
    m_inputs = std::move(inputs);
    return S_OK;
}

HRESULT CWMWriter::GetInputCount(DWORD *count) const
{
    if (!count)
        return E_POINTER;
    if (m_inputs.empty())
        return NS_E_NO_PROFILE;
    *count = static_cast<DWORD>(m_inputs.size());
    return S_OK;
}

HRESULT CWMWriter::GetInputProps(DWORD index, WMMediaType *type) const
{
    if (!type)
        return E_POINTER;
    if (index >= m_inputs.size())
        return E_INVALIDARG;
    *type = m_inputs[index].config.type;
    return S_OK;
}

HRESULT CWMWriter::AddSink(IWMWriterSink *sink)
{
    if (!sink)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_sinkLock);
    if (std::find(m_sinks.begin(), m_sinks.end(), sink) == m_sinks.end())
        m_sinks.push_back(sink);
    return S_OK;
}

HRESULT CWMWriter::RemoveSink(IWMWriterSink *sink)
{
    std::lock_guard<std::mutex> lock(m_sinkLock);
    const auto it = std::find(m_sinks.begin(), m_sinks.end(), sink);
    if (it == m_sinks.end())
        return E_INVALIDARG;
    m_sinks.erase(it);
    return S_OK;
}

// For the system profile the pipeline is:
//   appsrc name=in0 caps=audio/x-raw,format=S16LE,rate=32000,channels=2,layout=interleaved
//     ! audioconvert ! avenc_wmav2 name=enc0 bitrate=32000 ! mux.
//   appsrc name=in1 caps=video/x-raw,format=BGR,width=320,height=240,framerate=0/1
//     ! videoflip video-direction=vert ! videorate ! video/x-raw,framerate=15/1
//     ! videoconvert ! avenc_wmv2 name=enc1 bitrate=256000 gop-size=15 ! mux.
//   asfmux name=mux streamable=true preroll=1000 packet-size=1400 ! appsink name=out sync=false
// Inputs are bottom-up RGB, so the picture is flipped before encoding. The key
// frame interval equals the frame rate, so a new player waits at most a second.
HRESULT CWMWriter::BuildPipeline()
{
    std::string launch;
    // A WMA decoder plays each sound one frame late (the transform's overlap:
    // 2048 samples at 32 kHz, 64 ms). Pictures are stamped that much later so
    // that what was captured together is played together.
    m_videoDelay = 0;
    for (const Input &in : m_inputs) {
        const int rate = in.config.sampleRate;
        if (in.config.type == WMMediaType::Audio && rate > 0) {
            const int frameSamples = rate <= 16000 ? 512 : rate <= 22050 ? 1024 : 2048;
            m_videoDelay = gst_util_uint64_scale(static_cast<guint64>(frameSamples), GST_SECOND,
                                                 static_cast<guint64>(rate));
        }
    }
    for (std::size_t i = 0; i < m_inputs.size(); ++i) {
        const CWMStreamConfig &c = m_inputs[i].config;
        if (c.type == WMMediaType::Video) {
            launch += Format("appsrc name=in%zu format=time caps=video/x-raw,format=BGR,width=%d,height=%d,"
                             "framerate=0/1 ! videoflip video-direction=vert ! videorate ! "
                             "video/x-raw,framerate=%d/1 ! videoconvert ! avenc_wmv2 name=enc%zu bitrate=%u "
                             "gop-size=%d ! mux. ",
                             i, c.width, c.height, c.framesPerSecond, i, c.bitrate, c.framesPerSecond);
            m_bufferWindowMs = c.bufferWindowMs;
        } else {
            launch +=
                Format("appsrc name=in%zu format=time caps=audio/x-raw,format=S16LE,rate=%d,channels=%d,"
                       "layout=interleaved ! audioconvert ! avenc_wmav2 name=enc%zu bitrate=%u ! mux. ",
                       i, c.sampleRate, c.channels, i, c.bitrate);
        }
    }
    launch +=
        Format("asfmux name=mux streamable=true preroll=1000 packet-size=%u ! appsink name=out sync=false "
               "emit-signals=false max-buffers=0",
               kPacketSize);

    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(launch.c_str(), &error);
    platform::GErrorPtr errorHolder(error);
    if (!pipeline) {
        VLOG("NetWrite", "Could not build the encoder pipeline: %s\n", error ? error->message : "?");
        return E_FAIL;
    }
    m_pipeline.reset(pipeline);
    if (error) { // a recoverable problem: still report it
        VLOG("NetWrite", "Encoder pipeline warning: %s\n", error->message);
    }

    for (std::size_t i = 0; i < m_inputs.size(); ++i) {
        Input &in = m_inputs[i];
        const std::string name = "in" + std::to_string(i);
        platform::GstPtr<GstElement> src(gst_bin_get_by_name(m_pipeline.bin(), name.c_str()));
        if (!src)
            return E_FAIL;
        in.appsrc = src.get(); // the pipeline keeps it alive
        const CWMStreamConfig &c = in.config;
        in.maxQueuedBytes = c.type == WMMediaType::Video
                                ? std::uint64_t{c.InputFrameBytes()} * c.framesPerSecond * kVideoQueueSeconds
                                : std::uint64_t{c.InputBytesPerSecond()} * kAudioQueueSeconds;
        // Room is managed in WriteSample, which never blocks for long.
        g_object_set(src.get(), "block", FALSE, "max-bytes", static_cast<guint64>(0), "stream-type", 0,
                     nullptr);
        if (c.type == WMMediaType::Video) {
            // avenc_wmv2 shifts its output far into the future (a segment 1000
            // hours in); players then wait forever. Rebase to running time.
            const std::string enc = "enc" + std::to_string(i);
            platform::GstPtr<GstElement> encoder(gst_bin_get_by_name(m_pipeline.bin(), enc.c_str()));
            platform::GstPtr<GstPad> pad(encoder ? gst_element_get_static_pad(encoder.get(), "src")
                                                 : nullptr);
            if (!pad)
                return E_FAIL;
            gst_pad_add_probe(
                pad.get(),
                static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                &CWMWriter::RebaseVideoTimestamps, this, nullptr);
        }
    }
    platform::GstPtr<GstElement> sink(gst_bin_get_by_name(m_pipeline.bin(), "out"));
    if (!sink)
        return E_FAIL;
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &CWMWriter::OnNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, this, nullptr);
    m_bus.reset(gst_element_get_bus(m_pipeline.get()));
    return S_OK;
}

HRESULT CWMWriter::BeginWriting()
{
    if (m_writing)
        return NS_E_INVALID_REQUEST;
    if (m_inputs.empty())
        return NS_E_NO_PROFILE;
    {
        std::lock_guard<std::mutex> lock(m_sinkLock);
        m_headerSent = false;
        m_pendingHeader.clear();
    }
    m_haveVideoSegment = false;
    for (Input &in : m_inputs)
        in.havePts = false;
    m_waitLimit.store(std::chrono::steady_clock::duration::max().count());
    HRESULT hr = BuildPipeline();
    if (FAILED(hr)) {
        m_pipeline.reset();
        return hr;
    }
    if (gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        PollBusForError();
        m_pipeline.reset();
        return E_FAIL;
    }
    m_failed = false;
    m_writing = true;
    return S_OK;
}

HRESULT CWMWriter::AllocateSample(DWORD length, std::unique_ptr<CWMSample> &sample)
{
    sample.reset();
    auto s = std::make_unique<CWMSample>(length);
    if (!s->IsValid())
        return E_OUTOFMEMORY;
    sample = std::move(s);
    return S_OK;
}

bool CWMWriter::PollBusForError()
{
    if (!m_bus)
        return m_failed;
    while (GstMessage *raw = gst_bus_pop_filtered(
               m_bus.get(), static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_WARNING))) {
        platform::GstMessagePtr msg(raw);
        GError *err = nullptr;
        gchar *debug = nullptr;
        const bool isError = GST_MESSAGE_TYPE(raw) == GST_MESSAGE_ERROR;
        if (isError)
            gst_message_parse_error(raw, &err, &debug);
        else
            gst_message_parse_warning(raw, &err, &debug);
        platform::GErrorPtr errHolder(err);
        platform::GCharPtr debugHolder(debug);
        VLOG("NetWrite", "Encoder %s from %s: %s\n", isError ? "error" : "warning",
             GST_OBJECT_NAME(GST_MESSAGE_SRC(raw)), err ? err->message : "?");
        if (isError)
            m_failed = true;
    }
    return m_failed;
}

HRESULT CWMWriter::WriteSample(DWORD input, QWORD time100ns, DWORD /*flags*/, CWMSample *sample)
{
    if (!sample)
        return E_POINTER;
    if (!m_writing)
        return NS_E_INVALID_REQUEST;
    if (input >= m_inputs.size())
        return E_INVALIDARG;
    if (PollBusForError())
        return E_FAIL;
    Input &in = m_inputs[input];
    const CWMStreamConfig &c = in.config;
    const DWORD length = sample->GetLength();
    GstClockTime duration = GST_CLOCK_TIME_NONE;
    if (c.type == WMMediaType::Video) {
        // A frame of another size cannot be read as this input's picture.
        if (length != c.InputFrameBytes())
            return E_INVALIDARG;
    } else {
        const DWORD frameBytes = static_cast<DWORD>(c.channels * 2);
        if (length == 0 || length % frameBytes != 0)
            return E_INVALIDARG;
        duration = gst_util_uint64_scale(length / frameBytes, GST_SECOND, static_cast<guint64>(c.sampleRate));
    }
    GstClockTime pts = time100ns * 100;
    // Timestamps of one input never go backwards.
    if (in.havePts && pts < in.lastPts)
        pts = in.lastPts;

    // Wait for room in front of the encoder, but never for long: a stalled
    // encoder must not hold up the thread that writes, nor a closing owner,
    // also when the owner starts closing during this wait.
    const auto deadline = std::chrono::steady_clock::now() + kRoomWait;
    while (gst_app_src_get_current_level_bytes(GST_APP_SRC(in.appsrc)) + length > in.maxQueuedBytes) {
        if (std::chrono::steady_clock::now() >= deadline || WaitsExpired() || PollBusForError()) {
            ++m_samplesDropped;
            return NS_E_ENCODER_BEHIND;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    GstBuffer *buffer = sample->TakeBuffer();
    if (!buffer)
        return E_UNEXPECTED;
    StampBuffer(buffer, pts, duration);
    in.lastPts = GST_CLOCK_TIME_IS_VALID(duration) ? pts + duration : pts;
    in.havePts = true;
    const GstFlowReturn flow = gst_app_src_push_buffer(GST_APP_SRC(in.appsrc), buffer);
    return flow == GST_FLOW_OK ? S_OK : E_FAIL;
}

void CWMWriter::LimitWaits(std::chrono::steady_clock::time_point until)
{
    m_waitLimit.store(until.time_since_epoch().count());
}

bool CWMWriter::WaitsExpired() const
{
    return std::chrono::steady_clock::now().time_since_epoch().count() >= m_waitLimit.load();
}

platform::GstPtr<GstElement> CWMWriter::Element(const char *name) const
{
    if (!m_pipeline || !name)
        return nullptr;
    return platform::GstPtr<GstElement>(gst_bin_get_by_name(m_pipeline.bin(), name));
}

HRESULT CWMWriter::Flush()
{
    if (!m_writing)
        return NS_E_INVALID_REQUEST;
    // Samples are handed to the encoders as they are written; what is still
    // inside them comes out when writing ends.
    return PollBusForError() ? E_FAIL : S_OK;
}

HRESULT CWMWriter::EndWriting()
{
    if (!m_writing)
        return NS_E_INVALID_REQUEST;
    m_writing = false;
    for (Input &in : m_inputs)
        gst_app_src_end_of_stream(GST_APP_SRC(in.appsrc));
    HRESULT hr = S_OK;
    if (m_bus) {
        // When the owner is closing (LimitWaits), the wait ends kEndWaitMs
        // after the drain's end, so time lost before this call does not add
        // to the close.
        using Clock = std::chrono::steady_clock;
        Clock::duration wait = std::chrono::milliseconds(kEndWaitMs);
        if (const Clock::rep limit = m_waitLimit.load(); limit != Clock::duration::max().count())
            wait = std::clamp(Clock::time_point(Clock::duration(limit)) + wait - Clock::now(),
                              Clock::duration::zero(), wait);
        platform::GstMessagePtr msg(gst_bus_timed_pop_filtered(
            m_bus.get(),
            static_cast<GstClockTime>(std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count()),
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        if (!msg || GST_MESSAGE_TYPE(msg.get()) != GST_MESSAGE_EOS) {
            hr = E_FAIL;
            if (!msg)
                VLOG("NetWrite", "The encoder did not finish within %u ms; its last packets are lost.\n",
                     kEndWaitMs);
        }
    }
    m_pipeline.reset(); // NULL state: the streaming threads have ended
    m_bus.reset();
    for (Input &in : m_inputs)
        in.appsrc = nullptr;
    std::vector<IWMWriterSink *> sinks;
    {
        std::lock_guard<std::mutex> lock(m_sinkLock);
        sinks = m_sinks;
    }
    for (IWMWriterSink *s : sinks)
        s->OnEndWriting();
    return hr;
}

GstPadProbeReturn CWMWriter::RebaseVideoTimestamps(GstPad * /*pad*/, GstPadProbeInfo *info, gpointer self)
{
    auto *w = static_cast<CWMWriter *>(self);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT)
            return GST_PAD_PROBE_OK;
        const GstSegment *segment = nullptr;
        gst_event_parse_segment(event, &segment);
        if (segment->format != GST_FORMAT_TIME)
            return GST_PAD_PROBE_OK;
        gst_segment_copy_into(segment, &w->m_videoSegment);
        w->m_haveVideoSegment = true;
        GstSegment plain;
        gst_segment_init(&plain, GST_FORMAT_TIME);
        GstEvent *replacement = gst_event_new_segment(&plain);
        gst_event_set_seqnum(replacement, gst_event_get_seqnum(event));
        gst_event_unref(event);
        GST_PAD_PROBE_INFO_DATA(info) = replacement;
        return GST_PAD_PROBE_OK;
    }
    if (!w->m_haveVideoSegment)
        return GST_PAD_PROBE_OK;
    GstBuffer *buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    auto rebase = [&](GstClockTime t) -> GstClockTime {
        if (!GST_CLOCK_TIME_IS_VALID(t))
            return t;
        guint64 running = 0;
        const int sign = gst_segment_to_running_time_full(&w->m_videoSegment, GST_FORMAT_TIME, t, &running);
        return (sign > 0 ? running : 0) + w->m_videoDelay;
    };
    GST_BUFFER_PTS(buffer) = rebase(GST_BUFFER_PTS(buffer));
    GST_BUFFER_DTS(buffer) = rebase(GST_BUFFER_DTS(buffer));
    return GST_PAD_PROBE_OK;
}

GstFlowReturn CWMWriter::OnNewSample(GstAppSink *appsink, gpointer self)
{
    auto *w = static_cast<CWMWriter *>(self);
    platform::GstSamplePtr sample(gst_app_sink_pull_sample(appsink));
    if (!sample)
        return GST_FLOW_EOS;
    w->DeliverSample(sample.get());
    return GST_FLOW_OK;
}

void CWMWriter::DeliverHeader(GstCaps *caps)
{
    // The header object and the data object header: the muxer announces them
    // in its caps ("streamheader") and also sends them as header buffers.
    std::vector<std::uint8_t> header;
    if (caps && gst_caps_get_size(caps) > 0) {
        const GValue *list = gst_structure_get_value(gst_caps_get_structure(caps, 0), "streamheader");
        if (list && GST_VALUE_HOLDS_ARRAY(list)) {
            for (guint i = 0; i < gst_value_array_get_size(list); ++i) {
                const GValue *v = gst_value_array_get_value(list, i);
                GstBuffer *b = v && GST_VALUE_HOLDS_BUFFER(v) ? gst_value_get_buffer(v) : nullptr;
                platform::BufferMap map(b, GST_MAP_READ);
                if (map.ok())
                    header.insert(header.end(), map.data(), map.data() + map.size());
            }
        }
    }
    if (header.empty())
        header = m_pendingHeader;
    m_pendingHeader.clear();
    const auto info = asf::ParseHeader(header.data(), header.size());
    if (!info || header.size() < info->headerObjectSize + asf::kDataObjectHeaderSize) {
        VLOG("NetWrite", "The encoder produced no usable stream header (%zu bytes).\n", header.size());
        return;
    }
    header.resize(info->headerObjectSize + asf::kDataObjectHeaderSize);
    // The muxer writes a buffer window of 0; players need the real one.
    if (m_bufferWindowMs && info->videoStream)
        asf::SetBufferWindow(header, info->videoStream, m_bufferWindowMs);
    m_packetSize = info->packetSize;
    auto shared = std::make_shared<const std::vector<std::uint8_t>>(std::move(header));
    for (IWMWriterSink *s : m_sinks)
        s->OnHeader(shared);
    m_headerSent = true;
}

void CWMWriter::DeliverSample(GstSample *sample)
{
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    if (!buffer)
        return;
    platform::BufferMap map(buffer, GST_MAP_READ);
    if (!map.ok())
        return;
    std::lock_guard<std::mutex> lock(m_sinkLock);
    if (GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_HEADER)) {
        if (!m_headerSent)
            m_pendingHeader.insert(m_pendingHeader.end(), map.data(), map.data() + map.size());
        return;
    }
    if (!m_headerSent)
        DeliverHeader(gst_sample_get_caps(sample));
    if (!m_headerSent)
        return;
    // Normally one packet per buffer; split if the muxer pushed several.
    const std::size_t unit = m_packetSize ? m_packetSize : map.size();
    for (std::size_t at = 0; at < map.size(); at += unit) {
        const std::size_t n = std::min(unit, map.size() - at);
        std::vector<std::uint8_t> bytes(map.data() + at, map.data() + at + n);
        // asfmux leaves the padding out of the packet length; players would
        // cut the last payload of such a packet short.
        asf::NormalizePacketLength(bytes.data(), bytes.size());
        auto packet = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
        for (IWMWriterSink *s : m_sinks)
            s->OnDataUnit(packet);
        ++m_packetsOut;
    }
}
