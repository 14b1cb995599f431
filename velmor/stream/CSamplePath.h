#pragma once
// The sample path: carries every captured video frame and audio buffer from
// the capture threads to the writer. The two sinks copy the bytes into a
// SampleBlock, stamp it with milliseconds since the writer's start tick and
// queue it; ASFFileWriteThread (CNetWrite) wakes this object, which writes
// the queued blocks to the writer. While the host is off air (live flag 0)
// the sinks queue the pause picture and silence instead, so viewers stay
// connected.
//
// The main window owns one CSamplePath next to its CNetWrite; the capture
// graphs reach it through the process-wide pointer that its constructor sets.
//
// Threads: VideoSampleSink on the video graph's streaming thread,
// AudioSampleSink on the audio graph's; OnAsfWrite and WriteSampleToWriter on
// ASFFileWriteThread, which also queues the repeated picture while no frame
// comes; LoadPauseImage and the flags on the user-interface thread. The queue
// is guarded by one lock, held only briefly.
#include "CNetWrite.h"
#include "IAsfWriteOwner.h"
#include "SampleBlock.h"

#include "platform/Win32Types.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// Process-wide flags, written by the user-interface thread only.
// Closing: 1 from the moment the main window starts to close; the sinks then
// do nothing. Live: 1 while the host is on air ("btn_start"), 0 while paused.
extern std::atomic<std::int32_t> g_nClosing;
extern std::atomic<std::int32_t> g_nLive;

// The SampleSink functions the capture graphs call (sample time unused).
void VideoSampleSink(double sampleTime, const unsigned char *data, long bytes);
void AudioSampleSink(double sampleTime, const unsigned char *data, long bytes);

class CSamplePath : public IAsfWriteOwner {
public:
    static constexpr DWORD kPauseImageCapacity = 307200;
    static constexpr DWORD kSilenceSize = 128000;
    // 32 000 Hz, 16-bit, 2 channels.
    static constexpr DWORD kAudioBytesPerSecond = 128000;
    static constexpr DWORD kAudioBytesPerMs = kAudioBytesPerSecond / 1000;
    // The queue holds at most this many video blocks (3 s at 15 frames per
    // second) and this much sound; beyond either the oldest block of that
    // kind is dropped.
    static constexpr std::size_t kMaxQueuedVideoBlocks = 45;
    static constexpr DWORD kMaxQueuedAudioMs = 3000;
    // With no picture for longer than this while serving (a camera unplugged,
    // busy or never started), the last picture is repeated at the stream's
    // frame rate, so players keep a moving stream and the sound flows on.
    static constexpr DWORD kVideoStallMs = 1000;
    // With no audio buffer for this long the host has no running audio graph:
    // silence is fed on the writer clock so players do not wait for sound.
    static constexpr DWORD kAudioAbsentMs = 1500;

    explicit CSamplePath(CNetWrite &netWrite);
    virtual ~CSamplePath();
    CSamplePath(const CSamplePath &) = delete;
    CSamplePath &operator=(const CSamplePath &) = delete;

    // Loads the pause picture (bitmap resource 146). False when the program
    // carries no usable picture; the pause picture is then plain dark blue.
    bool LoadPauseImage();

    void OnAsfWrite(int reason) override;
    // Writes one block's bytes to the writer: 1 on success, 0 on any failure.
    int WriteSampleToWriter(DWORD input, const unsigned char *data, DWORD length, DWORD time);

    // What the sinks do once they found this object.
    void QueueVideo(const unsigned char *data, long bytes);
    void QueueAudio(const unsigned char *data, long bytes);

    const unsigned char *PauseImage() const { return m_pauseImage.data(); }
    DWORD PauseImageSize() const { return m_pauseImageSize; }

    // Figures for tests and benchmarks.
    std::uint64_t BlocksQueued() const { return m_blocksQueued.load(); }
    std::uint64_t BlocksWritten() const { return m_blocksWritten.load(); }
    std::uint64_t VideoBlocksDropped() const { return m_videoDropped.load(); }
    std::uint64_t AudioBlocksDropped() const { return m_audioDropped.load(); }
    std::uint64_t PicturesRepeated() const { return m_picturesRepeated.load(); }
    std::uint64_t SilenceBlocksFed() const { return m_silenceFed.load(); }
    std::size_t QueuedBlocks();
    // Called with every block right before it is written (on the write
    // thread); tests and the benchmark observe the order and the times.
    void SetWriteObserver(void (*observer)(void *context, const SampleBlock &block), void *context);

private:
    // "At most once a second" for the lines about dropped blocks.
    struct DropLog {
        DWORD lastTick = 0;
        bool logged = false;
        std::uint64_t countAtLastLog = 0;
    };

    void Append(SampleBlock *block);                    // queue lock held
    void DropOldest(DWORD input);                       // queue lock held
    void LogDropped(DropLog &log, std::uint64_t dropped, const char *what); // queue lock held
    void FeedSilenceUpTo(DWORD time, DWORD audioInput); // queue lock held
    void AfterVideoQueued(DWORD time);                  // queue lock held
    void SignalWriter(platform::HANDLE event, const char *what);
    // Write thread: queues repeats of the last picture while none comes.
    void RepeatStalledPicture();

    CNetWrite &m_net;
    std::vector<unsigned char> m_pauseImage;
    DWORD m_pauseImageSize = 0;

    std::mutex m_queueLock;
    std::deque<SampleBlock *> m_queue;
    std::size_t m_queuedVideo = 0;
    DWORD m_queuedAudioMs = 0;
    DWORD m_lastVideoMs = 0;  // time of the last picture queued, captured or repeated
    bool m_serving = false;   // the write thread has seen the writer ready
    bool m_repeating = false; // no picture came for kVideoStallMs: repeats are queued
    DWORD m_repeatFromMs = 0; // the repeats are stamped from here at the frame rate
    std::uint64_t m_repeatsInStall = 0;
    DWORD m_audioEndMs = 0;        // where the audio queued so far ends
    bool m_feedingSilence = false; // no audio graph: silence follows the video clock
    bool m_audioEndIsFedSilence = false;
    DropLog m_videoDropLog;
    DropLog m_audioDropLog;
    // The last picture the writer took (write thread only): what a stall repeats.
    SampleBlock *m_lastPicture = nullptr;

    void (*m_observer)(void *, const SampleBlock &) = nullptr;
    void *m_observerContext = nullptr;

    std::atomic<std::uint64_t> m_blocksQueued{0};
    std::atomic<std::uint64_t> m_blocksWritten{0};
    std::atomic<std::uint64_t> m_videoDropped{0};
    std::atomic<std::uint64_t> m_silenceFed{0};
    std::atomic<std::uint64_t> m_audioDropped{0};
    std::atomic<std::uint64_t> m_picturesRepeated{0};
};
