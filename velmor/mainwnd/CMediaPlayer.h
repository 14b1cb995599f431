#pragma once
// The media player the viewer embeds: plays a URL (the broadcaster's HTTP ASF
// stream, or an advertisement clip) with GStreamer's playbin, hands decoded
// pictures to a video target on the window thread, raises play-state,
// buffering, open-state and end-of-stream events to one IWMPEvents
// subscriber, and offers volume 0-100 and mute.
//
//   playbin uri=URL video-sink="appsink caps=video/x-raw,format=BGRx"
//           audio-sink="autoaudiosink | fakesink sync=true | $VELMOR_AUDIO_SINK"
//
// The bus is read by a timer on the owning thread; no GLib main loop runs.
#include "WMPTypes.h"

#include "platform/GstHolders.h"
#include "platform/Win32Types.h"

#include <QImage>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class CMediaPlayer : public QObject {
    Q_OBJECT
public:
    using VideoTarget = std::function<void(const QImage &)>;

    explicit CMediaPlayer(QObject *parent = nullptr);
    ~CMediaPlayer() override;

    // Builds the player. Fails when GStreamer or playbin is missing.
    HRESULT Create();
    bool IsCreated() const { return static_cast<bool>(m_playbin); }

    // One subscriber; Advise returns a cookie, Unadvise takes it back.
    HRESULT Advise(IWMPEvents *events, unsigned long *cookie);
    HRESULT Unadvise(unsigned long cookie);

    // Opens `url` and starts playing it (auto-start).
    HRESULT put_URL(const std::string &url);
    const std::string &URL() const { return m_url; }
    // Every URL opened so far, oldest first (diagnostics and tests).
    const std::vector<std::string> &OpenedURLs() const { return m_openedURLs; }

    HRESULT get_volume(long *volume) const;
    HRESULT put_volume(long volume);
    HRESULT get_mute(bool *mute) const;
    HRESULT put_mute(bool mute);

    // Stops playback and releases the media.
    HRESULT close();

    long playState() const { return m_playState; }
    void SetVideoTarget(VideoTarget target) { m_videoTarget = std::move(target); }
    const QImage &LastFrame() const { return m_lastFrame; }

    // Pictures decoded so far (test and diagnostics hook; any thread).
    unsigned long long FramesDecoded() const { return m_framesDecoded.load(); }
    // When the current URL was opened, its first picture was decoded (held
    // while the player buffers) and its first picture was shown, on the
    // steady clock (nanoseconds since its epoch, shared by every process of
    // the machine); 0 until then (diagnostics, benchmarks).
    long long OpenedAtNs() const { return m_openedAtNs.load(); }
    long long FirstDecodedAtNs() const { return m_firstDecodedAtNs.load(); }
    long long FirstPictureAtNs() const { return m_firstPictureAtNs.load(); }

    // How often the player has stopped to refill its network buffer.
    unsigned long long BufferingStarts() const { return m_bufferingStarts; }

    // Whether sound goes to a real output device (false: discarded).
    bool HasAudioOutput() const { return m_audioOutput; }

private:
    static GstFlowReturn OnNewSample(GstElement *sink, gpointer self);
    static GstFlowReturn OnNewPreroll(GstElement *sink, gpointer self);
    void DeliverFrame(const QImage &frame);
    void PollBus();
    void HandleMessage(GstMessage *message);
    void SetPlayState(long state);

    platform::PipelineHolder m_playbin;
    platform::GstPtr<GstBus> m_bus;
    QTimer m_busTimer;
    IWMPEvents *m_events = nullptr;
    unsigned long m_cookie = 0;
    std::string m_url;
    std::vector<std::string> m_openedURLs;
    long m_playState = wmppsUndefined;
    long m_volume = 100;
    bool m_mute = false;
    bool m_buffering = false;
    unsigned long long m_bufferingStarts = 0;
    bool m_audioOutput = false;
    VideoTarget m_videoTarget;
    QImage m_lastFrame;
    std::atomic<unsigned long long> m_framesDecoded{0};
    std::atomic<long long> m_openedAtNs{0};
    std::atomic<long long> m_firstDecodedAtNs{0};
    std::thread m_preload; // loads the plugins a stream needs, from Create on
    std::atomic<long long> m_firstPictureAtNs{0};
};
