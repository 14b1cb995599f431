#pragma once
// Publishes the broadcast to an RTMP relay (nginx with its RTMP module, see
// tools/relay/) beside the local stream: the same captured pictures and
// sound, the pause picture and silence while the host is off air, as H.264
// and AAC in FLV, at the camera's own size up to 1280x720.
//
// The capture threads only copy what they hand over into a bounded queue
// (the oldest data goes when it is full) and never wait: the relay cannot
// slow, stall or change the local stream. One thread of this object
// ("velmor-relay") owns the pipeline, feeds it from the queue, watches the
// connection and reconnects: 1 s after a failure, then 2, 4 ... up to 30 s;
// while the relay's port refuses connections it is asked once a second, so a
// relay that comes back is published to again within about a second. The
// log gets one line per change of state (module "Relay"); the key of the
// address never appears in it.
//
// The pipeline, built when the first picture tells the size and rate:
//   appsrc name=video is-live=true format=time caps=video/x-raw,format=BGR,...
//     ! videoconvert ! videoscale add-borders=true
//     ! video/x-raw,format=I420,width=W,height=H,pixel-aspect-ratio=1/1
//     ! x264enc tune=zerolatency speed-preset=veryfast key-int-max=2s bitrate=K
//               option-string=scenecut=0 ! h264parse ! queue
//     ! flvmux name=mux streamable=true latency=L ! rtmp2sink host=... sync=false
//   appsrc name=audio is-live=true format=time caps=audio/x-raw,format=S16LE,rate=32000,channels=2
//     ! audioconvert ! audioresample ! audio/x-raw,rate=44100
//     ! avenc_aac bitrate=128000 ! aacparse ! queue ! mux.
//
// Threads: PushVideo and PushAudio on the capture threads (through
// RelayVideoSink / RelayAudioSink); everything else on the owner's thread,
// which also receives the state observer's calls from the relay thread.
#include "RelayAddress.h"
#include "SampleSink.h"

#include "platform/GstHolders.h"
#include "platform/Win32Types.h"

#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

enum class RelayState {
    Off,        // no relay address, or not started
    Invalid,    // the address is not rtmp://host[:port]/app/key
    Connecting, // the first connection is being made
    Publishing, // the relay takes the stream
    Waiting,    // unreachable, refused or dropped: the next attempt is due
    Ended,      // the broadcast ended; the stream was closed
};

// The relay's state in the program's words, for the main window.
const char *RelayStateText(RelayState state);

class CRelayPublisher {
public:
    static constexpr int kMaxWidth = 1280;
    static constexpr int kMaxHeight = 720;
    // The local stream's sound: 32 000 Hz, 16-bit, 2 channels.
    static constexpr int kAudioRate = 32000;
    static constexpr int kAudioBytesPerFrame = 4;
    // The queue in front of the relay thread: a few pictures and a second of
    // sound; beyond that the oldest of the kind is dropped.
    static constexpr std::size_t kMaxQueuedPictures = 8;
    static constexpr std::uint64_t kMaxQueuedAudioMs = 1000;
    // Reconnection pauses.
    static constexpr std::chrono::milliseconds kFirstRetry{1000};
    static constexpr std::chrono::milliseconds kLongestRetry{30000};

    // Called on the relay thread at every change of state.
    using StateObserver = std::function<void(RelayState state)>;

    CRelayPublisher();
    ~CRelayPublisher();
    CRelayPublisher(const CRelayPublisher &) = delete;
    CRelayPublisher &operator=(const CRelayPublisher &) = delete;

    void SetStateObserver(StateObserver observer) { m_observer = std::move(observer); }
    // The picture shown while the host is off air: bottom-up 24-bit BGR rows
    // of width x height (the local stream's pause picture). Before Start.
    void SetPauseImage(const unsigned char *bottomUpBgr, int width, int height);

    // Starts publishing to `url`. E_INVALIDARG (logged, state Invalid) for an
    // address that is not rtmp://host[:port]/app/key; nothing is sent then.
    HRESULT Start(const std::string &url);
    // Ends the broadcast on the relay without waiting: the stream is ended
    // (end of stream, FCUnpublish, deleteStream) and the connection closed.
    void RequestStop();
    // RequestStop, then waits for the relay thread (3 s at most for the end
    // of the stream to be sent).
    void Stop();

    // Capture threads: a picture at the source's size and a buffer of the
    // local stream's sound. Off air they stand for the pause picture and
    // silence. Copied; never waits.
    void PushVideo(const SourceFrame &frame, bool live);
    void PushAudio(const unsigned char *data, long bytes, bool live);

    RelayState State() const { return m_state.load(); }
    const RelayAddress &Address() const { return m_address; }

    // Figures for tests and benchmarks.
    std::uint64_t PicturesSent() const { return m_picturesSent.load(); }
    std::uint64_t PicturesDropped() const { return m_picturesDropped.load(); }
    std::uint64_t Connections() const { return m_connections.load(); }

private:
    struct Item {
        bool video = false;
        platform::GstBufferPtr buffer;
        GstClockTime captured = 0; // system clock when it arrived
        int width = 0, height = 0; // video
    };
    struct Pipeline;

    void Run();
    void SetState(RelayState state);
    bool Build(Pipeline &p, std::string &why);
    void Feed(Pipeline &p, std::deque<Item> &items);
    void FillGaps(Pipeline &p);
    bool PushToVideo(Pipeline &p, GstBuffer *buffer, int width, int height, GstClockTime captured);
    void PushToAudio(Pipeline &p, GstBuffer *buffer, GstClockTime captured);
    bool CheckBus(Pipeline &p, std::string &error);
    bool CheckConnection(Pipeline &p, std::string &error);
    void EndStream(Pipeline &p);
    bool RelayAnswers(bool &resolved);

    RelayAddress m_address;
    StateObserver m_observer;
    platform::GstBufferPtr m_pauseImage; // top-down BGR, default stride
    int m_pauseWidth = 0, m_pauseHeight = 0;

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Item> m_queue; // guarded by m_lock
    std::size_t m_queuedPictures = 0;
    std::uint64_t m_queuedAudioMs = 0;
    bool m_stopRequested = false; // guarded by m_lock
    // The camera's own size and rate (also while off air), guarded by m_lock.
    int m_sourceWidth = 0, m_sourceHeight = 0, m_fpsN = 0, m_fpsD = 1;
    long m_largestAudioBytes = 0;

    std::atomic<bool> m_accepting{false}; // a pipeline wants data
    std::atomic<RelayState> m_state{RelayState::Off};
    std::thread m_thread;
    platform::GObjectPtr<GCancellable> m_cancellable; // cancels the reachability check

    std::atomic<std::uint64_t> m_picturesSent{0};
    std::atomic<std::uint64_t> m_picturesDropped{0};
    std::atomic<std::uint64_t> m_connections{0};
};

// The SourceFrameSink of the video graph.
void RelayVideoSink(const SourceFrame &frame);
// The SampleSink of the audio graph when a relay is set: the local stream's
// AudioSampleSink, then the relay.
void StreamAndRelayAudioSink(double sampleTime, const unsigned char *data, long bytes);
