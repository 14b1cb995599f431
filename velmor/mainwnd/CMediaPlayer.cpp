#include "CMediaPlayer.h"

#include "CLogFile.h"
#include "platform/GstInit.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// "Class not registered": what creating a missing player component reports.
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr unsigned long kCookie = 1;

// Whether this machine has anywhere to send sound: a sound card, or a sound
// server of the desktop session. Probing every output element instead is
// slow and noisy on a machine without any.
bool HasSoundOutput()
{
    auto exists = [](const std::string &path) { return !path.empty() && access(path.c_str(), F_OK) == 0; };
    if (exists("/dev/snd") || std::getenv("PULSE_SERVER") != nullptr)
        return true;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr &&
           (exists(std::string(runtime) + "/pulse/native") || exists(std::string(runtime) + "/pipewire-0"));
}

// Makes every sink in `bin` play in time, as a sound device does. A sink
// that takes the sound as fast as it comes (fakesink's default) lets the
// audio run ahead: the network buffer empties ahead of the picture, and the
// player flips between buffering and playing several times a second.
void KeepTime(GstElement *bin)
{
    GstIterator *sinks = gst_bin_iterate_sinks(GST_BIN(bin));
    gst_iterator_foreach(
        sinks,
        [](const GValue *item, gpointer) {
            GObject *sink = G_OBJECT(g_value_get_object(item));
            const GParamSpec *spec = g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "sync");
            gboolean sync = TRUE;
            if (spec == nullptr || spec->value_type != G_TYPE_BOOLEAN)
                return;
            g_object_get(sink, "sync", &sync, nullptr);
            if (!sync) {
                g_object_set(sink, "sync", TRUE, nullptr);
                VLOG("VelmorDlg", "소리 출력 %s(을)를 재생 시각에 맞춥니다 (sync=true).\n",
                     GST_OBJECT_NAME(sink));
            }
        },
        nullptr);
    gst_iterator_free(sinks);
}

// The sound output: the desktop's own when there is one, else a sink that
// keeps the clock but discards the sound. VELMOR_AUDIO_SINK names another
// element description to use instead; its sinks keep the clock too.
platform::GstPtr<GstElement> MakeAudioSink(bool *realOutput)
{
    const char *chosen = std::getenv("VELMOR_AUDIO_SINK");
    *realOutput = chosen != nullptr ? true : HasSoundOutput();
    GstElement *sink = nullptr;
    if (chosen != nullptr) {
        sink = gst_parse_bin_from_description(chosen, TRUE, nullptr);
        if (sink != nullptr)
            KeepTime(sink);
    } else if (*realOutput)
        sink = gst_element_factory_make("autoaudiosink", nullptr);
    if (sink == nullptr) {
        *realOutput = false;
        sink = gst_element_factory_make("fakesink", "no-sound-output");
        if (sink)
            g_object_set(sink, "sync", TRUE, nullptr);
    }
    return platform::AdoptFloating(sink);
}

} // namespace

CMediaPlayer::CMediaPlayer(QObject *parent) : QObject(parent)
{
    m_busTimer.setInterval(20);
    connect(&m_busTimer, &QTimer::timeout, this, &CMediaPlayer::PollBus);
}

CMediaPlayer::~CMediaPlayer()
{
    close();
}

HRESULT CMediaPlayer::Create()
{
    if (m_playbin)
        return S_OK;
    if (!platform::EnsureGstInit())
        return E_FAIL;

    platform::PipelineHolder playbin(gst_element_factory_make("playbin", "player"));
    if (!playbin)
        return REGDB_E_CLASSNOTREG;

    platform::GstPtr<GstElement> video = platform::AdoptFloating(gst_element_factory_make("appsink", "picture"));
    if (!video)
        return REGDB_E_CLASSNOTREG;
    platform::GstCapsPtr caps(gst_caps_from_string("video/x-raw,format=BGRx"));
    g_object_set(video.get(), "caps", caps.get(), "emit-signals", TRUE, "max-buffers", 2u, "drop", TRUE,
                 "sync", TRUE, nullptr);
    g_signal_connect(video.get(), "new-sample", G_CALLBACK(&CMediaPlayer::OnNewSample), this);
    g_signal_connect(video.get(), "new-preroll", G_CALLBACK(&CMediaPlayer::OnNewPreroll), this);

    platform::GstPtr<GstElement> audio = MakeAudioSink(&m_audioOutput);
    if (!m_audioOutput)
        VLOG("VelmorDlg", "소리 출력 장치가 없어 소리를 내지 않고 재생합니다.\n");

    g_object_set(playbin.get(), "video-sink", video.get(), nullptr);
    if (audio)
        g_object_set(playbin.get(), "audio-sink", audio.get(), nullptr);
    g_object_set(playbin.get(), "volume", m_volume / 100.0, "mute", m_mute ? TRUE : FALSE, nullptr);
    // A short network buffer, so a viewer starts soon and stays close to the
    // broadcaster. The network queue measures it with its estimate of the
    // incoming rate, which starts high (the broadcaster sends the stream since
    // the last key frame at once): in practice it waits for about a second of
    // data before it reports the buffer full, enough to ride out a hiccup.
    g_object_set(playbin.get(), "buffer-duration", static_cast<gint64>(250 * GST_MSECOND), nullptr);

    m_bus.reset(gst_element_get_bus(playbin.get()));
    m_playbin = std::move(playbin);
    // What playing a stream needs is loaded meanwhile, while the window
    // starts up, instead of when the URL is opened.
    m_preload = std::thread([] {
        for (const char *plugin : {"soup", "typefindfunctions", "asf", "libav", "videoconvertscale",
                                   "videoconvert", "audioconvert", "audioresample", "volume", "app"})
            if (GstPlugin *loaded = gst_plugin_load_by_name(plugin))
                gst_object_unref(loaded);
    });
    m_busTimer.start();
    return S_OK;
}

HRESULT CMediaPlayer::Advise(IWMPEvents *events, unsigned long *cookie)
{
    if (events == nullptr || cookie == nullptr)
        return E_POINTER;
    if (m_events != nullptr)
        return E_FAIL; // one subscriber at a time
    m_events = events;
    m_cookie = kCookie;
    *cookie = m_cookie;
    return S_OK;
}

HRESULT CMediaPlayer::Unadvise(unsigned long cookie)
{
    if (m_events == nullptr || cookie != m_cookie)
        return E_INVALIDARG;
    m_events = nullptr;
    m_cookie = 0;
    return S_OK;
}

HRESULT CMediaPlayer::put_URL(const std::string &url)
{
    if (!m_playbin)
        return E_UNEXPECTED;
    gst_element_set_state(m_playbin.get(), GST_STATE_NULL);
    m_buffering = false;
    m_url = url;
    if (url.empty())
        return S_OK;
    m_openedURLs.push_back(url);
    m_firstDecodedAtNs.store(0);
    m_firstPictureAtNs.store(0);
    m_openedAtNs.store(std::chrono::steady_clock::now().time_since_epoch().count());
    g_object_set(m_playbin.get(), "uri", url.c_str(), nullptr);
    if (m_events)
        m_events->OpenStateChange(wmposMediaConnecting);
    SetPlayState(wmppsTransitioning);
    if (gst_element_set_state(m_playbin.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        SetPlayState(wmppsStopped);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CMediaPlayer::get_volume(long *volume) const
{
    if (volume == nullptr)
        return E_POINTER;
    *volume = m_volume;
    return S_OK;
}

HRESULT CMediaPlayer::put_volume(long volume)
{
    if (volume < 0 || volume > 100)
        return E_INVALIDARG;
    m_volume = volume;
    if (m_playbin)
        g_object_set(m_playbin.get(), "volume", volume / 100.0, nullptr);
    return S_OK;
}

HRESULT CMediaPlayer::get_mute(bool *mute) const
{
    if (mute == nullptr)
        return E_POINTER;
    *mute = m_mute;
    return S_OK;
}

HRESULT CMediaPlayer::put_mute(bool mute)
{
    m_mute = mute;
    if (m_playbin)
        g_object_set(m_playbin.get(), "mute", mute ? TRUE : FALSE, nullptr);
    return S_OK;
}

HRESULT CMediaPlayer::close()
{
    if (m_preload.joinable())
        m_preload.join();
    m_busTimer.stop();
    // The NULL state joins the streaming threads, so no picture arrives later.
    m_playbin.reset();
    m_bus.reset();
    m_url.clear();
    m_buffering = false;
    m_playState = wmppsUndefined;
    return S_OK;
}

GstFlowReturn CMediaPlayer::OnNewPreroll(GstElement *, gpointer self)
{
    // The first picture is decoded and held until playing starts; only the
    // moment is noted (the picture itself comes again as a sample).
    auto *player = static_cast<CMediaPlayer *>(self);
    long long none = 0;
    player->m_firstDecodedAtNs.compare_exchange_strong(
        none, std::chrono::steady_clock::now().time_since_epoch().count());
    return GST_FLOW_OK;
}

GstFlowReturn CMediaPlayer::OnNewSample(GstElement *sink, gpointer self)
{
    auto *player = static_cast<CMediaPlayer *>(self);
    platform::GstSamplePtr sample(gst_app_sink_pull_sample(GST_APP_SINK(sink)));
    if (!sample)
        return GST_FLOW_OK;
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())))
        return GST_FLOW_OK;
    platform::BufferMap map(gst_sample_get_buffer(sample.get()), GST_MAP_READ);
    if (!map.ok())
        return GST_FLOW_OK;
    const int width = GST_VIDEO_INFO_WIDTH(&info);
    const int height = GST_VIDEO_INFO_HEIGHT(&info);
    const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    if (width <= 0 || height <= 0 || static_cast<gsize>(stride) * height > map.size())
        return GST_FLOW_OK;
    // BGRx in memory is Qt's RGB32 on a little-endian machine. Copy: the
    // buffer goes back to the decoder when this call returns.
    QImage frame = QImage(map.data(), width, height, stride, QImage::Format_RGB32).copy();
    player->m_framesDecoded.fetch_add(1);
    long long none = 0;
    player->m_firstPictureAtNs.compare_exchange_strong(
        none, std::chrono::steady_clock::now().time_since_epoch().count());
    QMetaObject::invokeMethod(player, [player, frame] { player->DeliverFrame(frame); }, Qt::QueuedConnection);
    return GST_FLOW_OK;
}

void CMediaPlayer::DeliverFrame(const QImage &frame)
{
    if (!m_playbin)
        return;
    m_lastFrame = frame;
    if (m_videoTarget)
        m_videoTarget(frame);
}

void CMediaPlayer::PollBus()
{
    // Handle what is waiting now; events may close the player meanwhile.
    while (m_bus) {
        platform::GstMessagePtr message(gst_bus_pop(m_bus.get()));
        if (!message)
            break;
        HandleMessage(message.get());
    }
}

void CMediaPlayer::SetPlayState(long state)
{
    if (state == m_playState)
        return;
    m_playState = state;
    if (m_events)
        m_events->PlayStateChange(state);
}

void CMediaPlayer::HandleMessage(GstMessage *message)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_STATE_CHANGED: {
        if (GST_MESSAGE_SRC(message) != GST_OBJECT(m_playbin.get()))
            break;
        GstState oldState, newState, pending;
        gst_message_parse_state_changed(message, &oldState, &newState, &pending);
        if (newState == GST_STATE_PAUSED && oldState == GST_STATE_READY && m_events)
            m_events->OpenStateChange(wmposMediaOpen);
        if (newState == GST_STATE_PLAYING)
            SetPlayState(wmppsPlaying);
        else if (newState == GST_STATE_PAUSED && oldState == GST_STATE_PLAYING && !m_buffering &&
                 GST_STATE_TARGET(m_playbin.get()) == GST_STATE_PAUSED)
            SetPlayState(wmppsPaused); // a pause of its own, not a stop passing through paused
        break;
    }
    case GST_MESSAGE_BUFFERING: {
        gint percent = 100;
        gst_message_parse_buffering(message, &percent);
        // While the network buffer refills the pipeline waits in PAUSED, so
        // the buffer can fill at all; it plays on once it is full.
        if (percent < 100 && !m_buffering) {
            m_buffering = true;
            ++m_bufferingStarts;
            if (m_playbin && GST_STATE_TARGET(m_playbin.get()) == GST_STATE_PLAYING)
                gst_element_set_state(m_playbin.get(), GST_STATE_PAUSED);
            SetPlayState(wmppsBuffering);
            if (m_events)
                m_events->Buffering(true);
        } else if (percent >= 100 && m_buffering) {
            m_buffering = false;
            if (m_events)
                m_events->Buffering(false);
            if (m_playbin)
                gst_element_set_state(m_playbin.get(), GST_STATE_PLAYING);
        }
        break;
    }
    case GST_MESSAGE_STREAM_START:
        if (m_events)
            m_events->NewStream();
        break;
    case GST_MESSAGE_WARNING: {
        GError *raw = nullptr;
        gst_message_parse_warning(message, &raw, nullptr);
        platform::GErrorPtr error(raw);
        if (m_events)
            m_events->Warning(error ? error->code : 0, 0, error ? error->message : "");
        break;
    }
    case GST_MESSAGE_EOS:
        if (m_events)
            m_events->EndOfStream(0);
        SetPlayState(wmppsMediaEnded);
        if (m_playbin)
            gst_element_set_state(m_playbin.get(), GST_STATE_READY);
        SetPlayState(wmppsStopped);
        break;
    case GST_MESSAGE_ERROR: {
        // A stream that cannot be opened or breaks: the player stops and
        // keeps its last picture, as it would at the end of the media.
        GError *raw = nullptr;
        gst_message_parse_error(message, &raw, nullptr);
        platform::GErrorPtr error(raw);
        VLOG("VelmorDlg", "재생 오류: %s\n", error ? error->message : "?");
        if (m_buffering) {
            m_buffering = false;
            if (m_events)
                m_events->Buffering(false);
        }
        if (m_events)
            m_events->Disconnect(error ? error->code : 0);
        if (m_playbin)
            gst_element_set_state(m_playbin.get(), GST_STATE_READY);
        SetPlayState(wmppsStopped);
        break;
    }
    default:
        break;
    }
}
