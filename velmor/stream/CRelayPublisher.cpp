#include "CRelayPublisher.h"

#include "CLogFile.h"
#include "CSamplePath.h"
#include "CommandLineArgs.h"

#include "StampBuffer.h"

#include "platform/GstInit.h"

#include <gio/gio.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>
#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

constexpr const char *kModule = "Relay";

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A connection that has not published after this long has failed.
constexpr auto kConnectTimeout = milliseconds(10000);
// While publishing, a connection that takes no bytes for this long is dead.
constexpr auto kStallTimeout = milliseconds(5000);
// With no picture for this long the last one is repeated at the frame rate,
// with no sound for this long silence follows the pictures: the relay always
// gets a moving stream with both tracks.
constexpr GstClockTime kPictureGap = GST_SECOND;
constexpr GstClockTime kSoundGap = 1500 * GST_MSECOND;
// Sound within this distance of where the previous buffer ended continues it.
constexpr GstClockTime kAudioSnap = 100 * GST_MSECOND;
// How long the end of the stream may take to reach the relay.
constexpr auto kEndTimeout = milliseconds(2500);
// Without any picture after this long, the pause picture starts the stream.
constexpr auto kFirstPictureWait = milliseconds(2000);
// Pictures waiting inside the pipeline before the relay thread drops more.
constexpr guint64 kPicturesInPipeline = 3;
constexpr guint64 kSoundInPipelineBytes =
    2 * CRelayPublisher::kAudioRate * CRelayPublisher::kAudioBytesPerFrame;

std::atomic<CRelayPublisher *> g_pRelay{nullptr};

GstClock *SystemClock()
{
    static GstClock *clock = gst_system_clock_obtain();
    return clock;
}

GstClockTime Now()
{
    return gst_clock_get_time(SystemClock());
}

int RoundUp4(int n)
{
    return (n + 3) & ~3;
}

// Bottom-up 24-bit BGR rows `stride` bytes apart as a new buffer of top-down
// rows at the default stride (what the pipeline's BGR caps describe); null
// when no memory can be had.
platform::GstBufferPtr UprightCopy(const unsigned char *bottomUp, int width, int height, int stride)
{
    const int rowBytes = RoundUp4(width * 3);
    platform::GstBufferPtr buffer(
        gst_buffer_new_allocate(nullptr, static_cast<gsize>(rowBytes) * static_cast<gsize>(height), nullptr));
    platform::BufferMap map(buffer.get(), GST_MAP_WRITE);
    if (!map.ok())
        return nullptr;
    for (int row = 0; row < height; ++row)
        std::memcpy(map.data() + static_cast<std::size_t>(row) * rowBytes,
                    bottomUp + static_cast<std::size_t>(height - 1 - row) * static_cast<std::size_t>(stride),
                    static_cast<std::size_t>(width) * 3);
    return buffer;
}

// `width` x `height` fitted within the relay's largest picture, shape kept,
// even sides (the encoder's 4:2:0 needs them).
void FitPicture(int width, int height, int &outWidth, int &outHeight)
{
    double scale = 1.0;
    if (width > CRelayPublisher::kMaxWidth || height > CRelayPublisher::kMaxHeight)
        scale = std::min(static_cast<double>(CRelayPublisher::kMaxWidth) / width,
                         static_cast<double>(CRelayPublisher::kMaxHeight) / height);
    outWidth = std::max(2, static_cast<int>(width * scale) & ~1);
    outHeight = std::max(2, static_cast<int>(height * scale) & ~1);
}

} // namespace

const char *RelayStateText(RelayState state)
{
    // In the order of RelayState.
    static const char *const kTexts[] = {
        "", "릴레이 주소 오류", "릴레이 연결 중", "릴레이 송출 중", "릴레이 연결 대기", "릴레이 송출 끝"};
    const auto index = static_cast<std::size_t>(state);
    return index < std::size(kTexts) ? kTexts[index] : "";
}

// The bytes the sink has sent on its connection; 0 before the relay accepted
// the publish (the sink has a connection only from then on).
guint64 BytesSent(GstElement *sink)
{
    GstStructure *raw = nullptr;
    g_object_get(sink, "stats", &raw, nullptr);
    platform::GstStructurePtr stats(raw);
    guint64 sent = 0;
    if (stats)
        gst_structure_get_uint64(stats.get(), "out-bytes-total", &sent);
    return sent;
}

// One attempt's pipeline and what the relay thread knows about it.
struct CRelayPublisher::Pipeline {
    platform::PipelineHolder pipeline;
    platform::GstPtr<GstBus> bus;
    GstElement *videoSrc = nullptr; // owned by the pipeline
    GstElement *audioSrc = nullptr;
    GstElement *sink = nullptr;
    GstClockTime base = 0; // system clock time of running time 0
    int width = 0, height = 0, fpsN = 15, fpsD = 1;
    GstClockTime frameDuration = GST_SECOND / 15;
    guint64 pictureBytes = 0;
    Clock::time_point started;
    bool connected = false;
    guint64 sentBytes = 0;
    Clock::time_point lastProgress;
    Clock::time_point lastStats;
    // Pictures: the caps of the last one pushed, its time and the picture
    // itself (what a gap repeats).
    platform::GstCapsPtr videoCaps;
    int capsWidth = 0, capsHeight = 0;
    GstClockTime lastVideoPts = GST_CLOCK_TIME_NONE;
    GstClockTime lastPictureArrival = 0;
    platform::GstBufferPtr lastPicture;
    int lastPictureWidth = 0, lastPictureHeight = 0;
    bool repeating = false;
    // Sound: where the pushed sound ends, and when sound last arrived.
    GstClockTime audioEnd = GST_CLOCK_TIME_NONE;
    GstClockTime lastSoundArrival = 0;
};

CRelayPublisher::CRelayPublisher()
{
    platform::EnsureGstInit();
}

CRelayPublisher::~CRelayPublisher()
{
    Stop();
}

void CRelayPublisher::SetPauseImage(const unsigned char *bottomUpBgr, int width, int height)
{
    if (!bottomUpBgr || width <= 0 || height <= 0)
        return;
    platform::GstBufferPtr buffer = UprightCopy(bottomUpBgr, width, height, width * 3);
    if (!buffer)
        return;
    m_pauseImage = std::move(buffer);
    m_pauseWidth = width;
    m_pauseHeight = height;
}

HRESULT CRelayPublisher::Start(const std::string &url)
{
    if (m_thread.joinable())
        return E_UNEXPECTED;
    if (!RelayAddress::Parse(url, m_address)) {
        VLOG(kModule, "릴레이 주소가 올바르지 않아 릴레이로 송출하지 않습니다: %s\n",
             MaskRelayKey(url).c_str());
        SetState(RelayState::Invalid);
        return E_INVALIDARG;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopRequested = false;
    }
    m_cancellable.reset(g_cancellable_new());
    VLOG(kModule, "릴레이 서버에 연결합니다: %s\n", m_address.Display().c_str());
    SetState(RelayState::Connecting);
    g_pRelay.store(this);
    m_thread = std::thread([this] { Run(); });
    return S_OK;
}

void CRelayPublisher::RequestStop()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopRequested = true;
    }
    m_wake.notify_all();
    if (m_cancellable)
        g_cancellable_cancel(m_cancellable.get());
}

void CRelayPublisher::Stop()
{
    CRelayPublisher *self = this;
    g_pRelay.compare_exchange_strong(self, nullptr);
    RequestStop();
    if (m_thread.joinable())
        m_thread.join();
    m_cancellable.reset();
    std::lock_guard<std::mutex> lock(m_lock);
    m_queue.clear();
    m_queuedPictures = 0;
    m_queuedAudioMs = 0;
}

void CRelayPublisher::SetState(RelayState state)
{
    m_state.store(state);
    if (m_observer)
        m_observer(state);
}

// ---------------------------------------------------------------------------
// Capture threads

void CRelayPublisher::PushVideo(const SourceFrame &frame, bool live)
{
    if (!frame.data || frame.width <= 0 || frame.height <= 0 || frame.stride < frame.width * 3)
        return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_sourceWidth = frame.width;
        m_sourceHeight = frame.height;
        m_fpsN = frame.fpsNumerator;
        m_fpsD = frame.fpsDenominator > 0 ? frame.fpsDenominator : 1;
    }
    if (!m_accepting.load(std::memory_order_acquire))
        return;
    Item item;
    item.video = true;
    item.captured = Now();
    if (live || !m_pauseImage) {
        // The copy that has to be made anyway also turns the picture upright.
        item.buffer = UprightCopy(frame.data, frame.width, frame.height, frame.stride);
        if (!item.buffer)
            return;
        item.width = frame.width;
        item.height = frame.height;
    } else {
        // The pause picture's memory is shared, never copied.
        item.buffer.reset(gst_buffer_copy(m_pauseImage.get()));
        item.width = m_pauseWidth;
        item.height = m_pauseHeight;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_queue.push_back(std::move(item));
        if (++m_queuedPictures > kMaxQueuedPictures) {
            const auto oldest =
                std::find_if(m_queue.begin(), m_queue.end(), [](const Item &i) { return i.video; });
            m_queue.erase(oldest);
            --m_queuedPictures;
            ++m_picturesDropped;
        }
    }
    m_wake.notify_one();
}

void CRelayPublisher::PushAudio(const unsigned char *data, long bytes, bool live)
{
    bytes -= bytes % kAudioBytesPerFrame;
    if (!data || bytes <= 0)
        return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_largestAudioBytes = std::max(m_largestAudioBytes, bytes);
    }
    if (!m_accepting.load(std::memory_order_acquire))
        return;
    Item item;
    item.captured = Now();
    item.buffer.reset(gst_buffer_new_allocate(nullptr, static_cast<gsize>(bytes), nullptr));
    if (!item.buffer)
        return;
    if (live)
        gst_buffer_fill(item.buffer.get(), 0, data, static_cast<gsize>(bytes));
    else
        gst_buffer_memset(item.buffer.get(), 0, 0, static_cast<gsize>(bytes));
    const std::uint64_t ms = static_cast<std::uint64_t>(bytes) * 1000 / (kAudioRate * kAudioBytesPerFrame);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_queue.push_back(std::move(item));
        m_queuedAudioMs += ms;
        while (m_queuedAudioMs > kMaxQueuedAudioMs) {
            const auto oldest =
                std::find_if(m_queue.begin(), m_queue.end(), [](const Item &i) { return !i.video; });
            if (oldest == m_queue.end() || oldest == std::prev(m_queue.end()))
                break;
            m_queuedAudioMs -=
                std::min<std::uint64_t>(m_queuedAudioMs, gst_buffer_get_size(oldest->buffer.get()) * 1000 /
                                                             (kAudioRate * kAudioBytesPerFrame));
            m_queue.erase(oldest);
        }
    }
    m_wake.notify_one();
}

// ---------------------------------------------------------------------------
// Relay thread

void CRelayPublisher::Run()
{
    pthread_setname_np(pthread_self(), "velmor-relay");
    auto pipeline = std::make_unique<Pipeline>();
    bool havePipeline = false;
    auto retryPause = kFirstRetry;
    auto nextAttempt = Clock::now();
    const auto startedAt = Clock::now();
    bool probing = false; // the relay's port refused: check it every second
    auto nextProbe = Clock::now();
    std::deque<Item> items;

    auto fail = [&](const std::string &why) {
        const RelayState before = m_state.load();
        m_accepting.store(false);
        pipeline = std::make_unique<Pipeline>(); // stops the old one
        havePipeline = false;
        if (before == RelayState::Publishing)
            VLOG(kModule, "릴레이 서버와의 연결이 끊어졌습니다 (%s). 다시 연결을 시도합니다.\n", why.c_str());
        else if (before == RelayState::Connecting)
            VLOG(kModule, "릴레이 서버에 연결하지 못했습니다 (%s). 다시 연결을 시도합니다.\n", why.c_str());
        if (before != RelayState::Waiting)
            SetState(RelayState::Waiting);
        nextAttempt = Clock::now() + retryPause;
        retryPause = std::min(retryPause * 2, kLongestRetry);
        // Is anyone listening at all? If not, watch for the relay's return.
        bool resolved = true;
        probing = !RelayAnswers(resolved) && resolved;
        nextProbe = Clock::now() + milliseconds(1000);
    };

    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_wake.wait_for(lock, milliseconds(50), [this] { return m_stopRequested || !m_queue.empty(); });
            if (m_stopRequested)
                break;
            items.swap(m_queue);
            m_queuedPictures = 0;
            m_queuedAudioMs = 0;
        }
        const auto now = Clock::now();
        if (!havePipeline) {
            items.clear();
            if (probing && now >= nextProbe) {
                bool resolved = true;
                if (RelayAnswers(resolved)) {
                    nextAttempt = now; // it is back
                    probing = false;
                } else {
                    probing = resolved;
                }
                nextProbe = Clock::now() + milliseconds(1000);
            }
            bool haveSource;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                haveSource = m_sourceWidth > 0 || now - startedAt >= kFirstPictureWait;
            }
            if (now < nextAttempt || !haveSource)
                continue;
            std::string why;
            if (!Build(*pipeline, why)) {
                CheckBus(*pipeline, why);
                fail(why);
                continue;
            }
            havePipeline = true;
            m_accepting.store(false);
            continue;
        }
        std::string error;
        if (CheckBus(*pipeline, error) || CheckConnection(*pipeline, error)) {
            items.clear();
            fail(error);
            continue;
        }
        if (!pipeline->connected) {
            items.clear();
            continue;
        }
        if (m_state.load() != RelayState::Publishing) {
            retryPause = kFirstRetry;
            probing = false;
            ++m_connections;
            if (m_connections.load() == 1)
                VLOG(kModule, "릴레이 서버로 송출을 시작합니다: %s (%dx%d, 초당 %.4g장)\n",
                     m_address.Display().c_str(), pipeline->width, pipeline->height,
                     static_cast<double>(pipeline->fpsN) / pipeline->fpsD);
            else
                VLOG(kModule, "릴레이 서버에 다시 연결하여 송출을 이어갑니다.\n");
            SetState(RelayState::Publishing);
            m_accepting.store(true, std::memory_order_release);
        }
        Feed(*pipeline, items);
        FillGaps(*pipeline);
    }

    g_pRelay.store(nullptr);
    m_accepting.store(false);
    if (havePipeline && pipeline->connected)
        EndStream(*pipeline);
    pipeline.reset();
    if (m_state.load() != RelayState::Off && m_state.load() != RelayState::Invalid) {
        VLOG(kModule, "릴레이 송출을 마쳤습니다.\n");
        SetState(RelayState::Ended);
    }
}

bool CRelayPublisher::Build(Pipeline &p, std::string &why)
{
    int sourceWidth, sourceHeight, fpsN, fpsD;
    long largestAudioBytes;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        sourceWidth = m_sourceWidth;
        sourceHeight = m_sourceHeight;
        fpsN = m_fpsN;
        fpsD = m_fpsD;
        largestAudioBytes = m_largestAudioBytes;
    }
    if (sourceWidth <= 0) {
        sourceWidth = m_pauseWidth > 0 ? m_pauseWidth : 320;
        sourceHeight = m_pauseHeight > 0 ? m_pauseHeight : 240;
    }
    if (fpsN <= 0 || fpsD <= 0) {
        fpsN = 15;
        fpsD = 1;
    }
    FitPicture(sourceWidth, sourceHeight, p.width, p.height);
    p.fpsN = fpsN;
    p.fpsD = fpsD;
    p.frameDuration = gst_util_uint64_scale_int(GST_SECOND, fpsD, fpsN);
    const double fps = static_cast<double>(fpsN) / fpsD;
    const int keyInterval = std::max(1, static_cast<int>(std::lround(2 * fps)));
    const int kbps =
        std::clamp(static_cast<int>(static_cast<double>(p.width) * p.height * fps / 11000.0), 300, 4000);
    // The muxer waits this long for the sound captured with a picture: a
    // sound device that fills large buffers delivers late.
    const long audioMs = largestAudioBytes * 1000 / (kAudioRate * kAudioBytesPerFrame);
    const long latencyMs = std::clamp(audioMs + 200, 300L, 1500L);

    char launch[2048];
    std::snprintf(
        launch, sizeof launch,
        "appsrc name=video is-live=true format=time do-timestamp=false min-latency=0 "
        "caps=video/x-raw,format=BGR,width=%d,height=%d,framerate=%d/%d "
        "! videoconvert ! videoscale add-borders=true "
        "! video/x-raw,format=I420,width=%d,height=%d,pixel-aspect-ratio=1/1 "
        "! x264enc tune=zerolatency speed-preset=veryfast key-int-max=%d bitrate=%d "
        "option-string=scenecut=0 ! h264parse ! queue "
        "! flvmux name=mux streamable=true latency=%lld ! rtmp2sink name=out sync=false async=false "
        "appsrc name=audio is-live=true format=time do-timestamp=false min-latency=0 "
        "caps=audio/x-raw,format=S16LE,rate=%d,channels=2,layout=interleaved "
        "! audioconvert ! audioresample ! audio/x-raw,rate=44100 ! avenc_aac bitrate=128000 "
        "! aacparse ! queue ! mux.",
        sourceWidth, sourceHeight, fpsN, fpsD, p.width, p.height, keyInterval, kbps,
        static_cast<long long>(latencyMs) * GST_MSECOND, kAudioRate);
    GError *error = nullptr;
    GstElement *element = gst_parse_launch(launch, &error);
    platform::GErrorPtr errorHolder(error);
    if (element)
        p.pipeline.reset(element);
    if (!element || error) { // a missing element leaves a pipeline without it
        why = error && error->message ? error->message : "no pipeline";
        return false;
    }
    p.bus.reset(gst_element_get_bus(element));
    platform::GstPtr<GstElement> video(gst_bin_get_by_name(p.pipeline.bin(), "video"));
    platform::GstPtr<GstElement> audio(gst_bin_get_by_name(p.pipeline.bin(), "audio"));
    platform::GstPtr<GstElement> sink(gst_bin_get_by_name(p.pipeline.bin(), "out"));
    if (!video || !audio || !sink) {
        why = "no pipeline";
        return false;
    }
    p.videoSrc = video.get();
    p.audioSrc = audio.get();
    p.sink = sink.get();
    // Room is managed by the relay thread: appsrc never blocks it.
    g_object_set(p.videoSrc, "block", FALSE, "max-bytes", static_cast<guint64>(0), nullptr);
    g_object_set(p.audioSrc, "block", FALSE, "max-bytes", static_cast<guint64>(0), nullptr);
    g_object_set(p.sink, "host", m_address.host.c_str(), "port", m_address.port, "application",
                 m_address.app.c_str(), "stream", m_address.key.c_str(), "timeout", 5u, nullptr);
    p.pictureBytes = static_cast<guint64>(RoundUp4(sourceWidth * 3)) * static_cast<guint64>(sourceHeight);

    // Running time 0 is now on the system clock, the clock the capture
    // threads stamp their buffers with.
    gst_pipeline_use_clock(GST_PIPELINE(p.pipeline.get()), SystemClock());
    gst_element_set_start_time(p.pipeline.get(), GST_CLOCK_TIME_NONE);
    p.base = Now();
    gst_element_set_base_time(p.pipeline.get(), p.base);
    p.started = Clock::now();
    p.lastStats = p.started;
    if (gst_element_set_state(p.pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        why = "the pipeline does not start";
        return false;
    }
    return true;
}

bool CRelayPublisher::CheckBus(Pipeline &p, std::string &error)
{
    if (!p.bus)
        return false;
    // Every message is taken off the bus (a live pipeline keeps posting),
    // the first error is the answer.
    while (GstMessage *raw = gst_bus_pop(p.bus.get())) {
        platform::GstMessagePtr message(raw);
        if (GST_MESSAGE_TYPE(raw) != GST_MESSAGE_ERROR)
            continue;
        GError *err = nullptr;
        gchar *debug = nullptr;
        gst_message_parse_error(raw, &err, &debug);
        platform::GErrorPtr errHolder(err);
        platform::GCharPtr debugHolder(debug);
        error = err && err->message ? err->message : "?";
        return true;
    }
    return false;
}

bool CRelayPublisher::CheckConnection(Pipeline &p, std::string &error)
{
    const auto now = Clock::now();
    if (now - p.lastStats < milliseconds(200))
        return false;
    p.lastStats = now;
    const guint64 sent = BytesSent(p.sink);
    if (!p.connected) {
        if (sent > 0) {
            p.connected = true;
            p.sentBytes = sent;
            p.lastProgress = now;
            // What was captured while connecting is gone: gaps count from now.
            p.lastSoundArrival = Now();
            return false;
        }
        if (now - p.started > kConnectTimeout) {
            error = "no answer";
            return true;
        }
        return false;
    }
    if (sent != p.sentBytes) {
        p.sentBytes = sent;
        p.lastProgress = now;
    } else if (now - p.lastProgress > kStallTimeout) {
        error = "relay takes no data";
        return true;
    }
    return false;
}

void CRelayPublisher::Feed(Pipeline &p, std::deque<Item> &items)
{
    for (Item &item : items) {
        if (item.captured < p.base)
            continue;
        if (item.video)
            PushToVideo(p, item.buffer.release(), item.width, item.height, item.captured);
        else
            PushToAudio(p, item.buffer.release(), item.captured);
    }
    items.clear();
}

bool CRelayPublisher::PushToVideo(Pipeline &p, GstBuffer *raw, int width, int height, GstClockTime captured)
{
    platform::GstBufferPtr buffer(raw);
    if (gst_app_src_get_current_level_bytes(GST_APP_SRC(p.videoSrc)) > kPicturesInPipeline * p.pictureBytes) {
        ++m_picturesDropped; // the encoder or the connection is behind
        return false;
    }
    GstClockTime pts = captured - p.base;
    // Pictures come at the source's rate with some jitter: stamped on the
    // rate's grid, players see an even rate.
    if (GST_CLOCK_TIME_IS_VALID(p.lastVideoPts)) {
        const GstClockTime expected = p.lastVideoPts + p.frameDuration;
        const GstClockTime distance = pts > expected ? pts - expected : expected - pts;
        if (distance < p.frameDuration / 2)
            pts = expected;
        if (pts <= p.lastVideoPts)
            pts = p.lastVideoPts + GST_MSECOND;
    }
    if (!p.videoCaps || width != p.capsWidth || height != p.capsHeight) {
        p.videoCaps.reset(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", "width",
                                              G_TYPE_INT, width, "height", G_TYPE_INT, height, "framerate",
                                              GST_TYPE_FRACTION, p.fpsN, p.fpsD, nullptr));
        p.capsWidth = width;
        p.capsHeight = height;
        p.pictureBytes = std::max<guint64>(p.pictureBytes, gst_buffer_get_size(buffer.get()));
    }
    buffer.reset(gst_buffer_make_writable(buffer.release()));
    StampBuffer(buffer.get(), pts, p.frameDuration);
    p.lastVideoPts = pts;
    p.lastPictureArrival = captured;
    p.lastPicture.reset(gst_buffer_ref(buffer.get()));
    p.lastPictureWidth = width;
    p.lastPictureHeight = height;
    p.repeating = false;
    const platform::GstSamplePtr sample(gst_sample_new(buffer.get(), p.videoCaps.get(), nullptr, nullptr));
    gst_app_src_push_sample(GST_APP_SRC(p.videoSrc), sample.get());
    ++m_picturesSent;
    return true;
}

void CRelayPublisher::PushToAudio(Pipeline &p, GstBuffer *raw, GstClockTime captured)
{
    platform::GstBufferPtr buffer(raw);
    if (gst_app_src_get_current_level_bytes(GST_APP_SRC(p.audioSrc)) > kSoundInPipelineBytes)
        return; // the encoder or the connection is behind
    const gsize bytes = gst_buffer_get_size(buffer.get());
    const guint64 frames = bytes / kAudioBytesPerFrame;
    const GstClockTime duration = gst_util_uint64_scale_int(frames, GST_SECOND, kAudioRate);
    // A buffer arrives when its last sample was captured.
    if (captured < p.base + duration)
        return;
    GstClockTime pts = captured - duration - p.base;
    p.lastSoundArrival = captured;
    if (GST_CLOCK_TIME_IS_VALID(p.audioEnd)) {
        if (pts + kAudioSnap >= p.audioEnd && pts <= p.audioEnd + kAudioSnap) {
            pts = p.audioEnd; // continues the sound before it
        } else if (pts < p.audioEnd) {
            // Overlaps what was pushed (silence that stood in for it): the
            // overlapping part goes.
            const guint64 cutFrames = gst_util_uint64_scale_int(p.audioEnd - pts, kAudioRate, GST_SECOND);
            if (cutFrames >= frames)
                return;
            buffer.reset(gst_buffer_copy_region(buffer.get(), GST_BUFFER_COPY_MEMORY,
                                                cutFrames * kAudioBytesPerFrame,
                                                (frames - cutFrames) * kAudioBytesPerFrame));
            pts = p.audioEnd;
        }
    }
    const GstClockTime length = gst_util_uint64_scale_int(
        gst_buffer_get_size(buffer.get()) / kAudioBytesPerFrame, GST_SECOND, kAudioRate);
    buffer.reset(gst_buffer_make_writable(buffer.release()));
    StampBuffer(buffer.get(), pts, length);
    p.audioEnd = pts + length;
    gst_app_src_push_buffer(GST_APP_SRC(p.audioSrc), buffer.release());
}

void CRelayPublisher::FillGaps(Pipeline &p)
{
    const GstClockTime now = Now();
    if (now < p.base)
        return;
    const GstClockTime running = now - p.base;
    // No picture (the camera stopped, or there is none): the last picture,
    // or the pause picture, again at the frame rate.
    if (!p.lastPicture && m_pauseImage) {
        p.lastPicture.reset(gst_buffer_ref(m_pauseImage.get()));
        p.lastPictureWidth = m_pauseWidth;
        p.lastPictureHeight = m_pauseHeight;
        p.lastPictureArrival = now;
    }
    if (p.lastPicture && (p.repeating || now - p.lastPictureArrival > kPictureGap)) {
        p.repeating = true;
        GstClockTime next =
            GST_CLOCK_TIME_IS_VALID(p.lastVideoPts) ? p.lastVideoPts + p.frameDuration : running;
        while (next <= running) {
            platform::GstBufferPtr again(gst_buffer_copy(p.lastPicture.get()));
            const int width = p.lastPictureWidth, height = p.lastPictureHeight;
            const GstClockTime arrival = p.lastPictureArrival;
            const bool pushed = PushToVideo(p, again.release(), width, height, p.base + next);
            p.lastPictureArrival = arrival; // a repeat is not a picture that came
            p.repeating = true;
            if (!pushed)
                break;
            next = p.lastVideoPts + p.frameDuration;
        }
    }
    // No sound (no microphone, or it stopped): silence up to the pictures.
    if (now - p.lastSoundArrival > kSoundGap && GST_CLOCK_TIME_IS_VALID(p.lastVideoPts)) {
        GstClockTime from = GST_CLOCK_TIME_IS_VALID(p.audioEnd) ? p.audioEnd : p.lastVideoPts;
        while (from + 100 * GST_MSECOND <= running &&
               gst_app_src_get_current_level_bytes(GST_APP_SRC(p.audioSrc)) <= kSoundInPipelineBytes) {
            const guint64 frames = kAudioRate / 10;
            GstBuffer *silence = gst_buffer_new_allocate(nullptr, frames * kAudioBytesPerFrame, nullptr);
            gst_buffer_memset(silence, 0, 0, frames * kAudioBytesPerFrame);
            StampBuffer(silence, from, 100 * GST_MSECOND);
            gst_app_src_push_buffer(GST_APP_SRC(p.audioSrc), silence);
            from += 100 * GST_MSECOND;
            p.audioEnd = from;
        }
    }
}

void CRelayPublisher::EndStream(Pipeline &p)
{
    // End of stream: flvmux finishes, rtmp2sink sends FCUnpublish and
    // deleteStream; then the pipeline is stopped, which closes the socket.
    gst_app_src_end_of_stream(GST_APP_SRC(p.videoSrc));
    gst_app_src_end_of_stream(GST_APP_SRC(p.audioSrc));
    const auto deadline = Clock::now() + kEndTimeout;
    while (Clock::now() < deadline) {
        platform::GstMessagePtr message(
            gst_bus_timed_pop_filtered(p.bus.get(), 100 * GST_MSECOND,
                                       static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        if (message)
            break;
    }
    // The commands go out on the sink's own thread: give them a moment.
    guint64 last = 0;
    for (int i = 0; i < 5; ++i) {
        const guint64 sent = BytesSent(p.sink);
        if (i > 0 && sent == last)
            break;
        last = sent;
        std::this_thread::sleep_for(milliseconds(60));
    }
}

bool CRelayPublisher::RelayAnswers(bool &resolved)
{
    resolved = true;
    platform::GObjectPtr<GSocketClient> client(g_socket_client_new());
    g_socket_client_set_timeout(client.get(), 1);
    g_socket_client_set_enable_proxy(client.get(), FALSE); // the relay itself, as rtmp2sink reaches it
    const bool v6 = m_address.host.find(':') != std::string::npos;
    const std::string target =
        (v6 ? "[" + m_address.host + "]" : m_address.host) + ":" + std::to_string(m_address.port);
    GError *error = nullptr;
    platform::GObjectPtr<GSocketConnection> connection(g_socket_client_connect_to_host(
        client.get(), target.c_str(), static_cast<guint16>(m_address.port), m_cancellable.get(), &error));
    platform::GErrorPtr errorHolder(error);
    if (error && error->domain == G_RESOLVER_ERROR)
        resolved = false;
    if (connection)
        g_io_stream_close(G_IO_STREAM(connection.get()), nullptr, nullptr);
    return connection != nullptr;
}

// ---------------------------------------------------------------------------
// Sinks

void RelayVideoSink(const SourceFrame &frame)
{
    if (g_nClosing.load(std::memory_order_relaxed))
        return;
    if (CRelayPublisher *relay = g_pRelay.load(std::memory_order_acquire))
        relay->PushVideo(frame, g_nLive.load(std::memory_order_relaxed) != 0);
}

void StreamAndRelayAudioSink(double sampleTime, const unsigned char *data, long bytes)
{
    AudioSampleSink(sampleTime, data, bytes);
    if (g_nClosing.load(std::memory_order_relaxed))
        return;
    if (CRelayPublisher *relay = g_pRelay.load(std::memory_order_acquire))
        relay->PushAudio(data, bytes, g_nLive.load(std::memory_order_relaxed) != 0);
}
