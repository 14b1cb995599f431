#include "CSamplePath.h"

#include "CLogFile.h"
#include "ProgramResources.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

std::atomic<std::int32_t> g_nClosing{0};
std::atomic<std::int32_t> g_nLive{0};

namespace {

// The main window's sample path, for the capture sinks.
std::atomic<CSamplePath *> g_pSamplePath{nullptr};

// Largest buffer a sink accepts: anything bigger is not a frame of ours.
constexpr long kMaxSampleBytes = 16L * 1024 * 1024;

std::int32_t Le32(const unsigned char *p)
{
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
}
std::uint16_t Le16(const unsigned char *p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

} // namespace

void VideoSampleSink(double /*sampleTime*/, const unsigned char *data, long bytes)
{
    if (g_nClosing.load(std::memory_order_relaxed))
        return;
    if (CSamplePath *path = g_pSamplePath.load(std::memory_order_acquire))
        path->QueueVideo(data, bytes);
}

void AudioSampleSink(double /*sampleTime*/, const unsigned char *data, long bytes)
{
    if (g_nClosing.load(std::memory_order_relaxed))
        return;
    if (CSamplePath *path = g_pSamplePath.load(std::memory_order_acquire))
        path->QueueAudio(data, bytes);
}

CSamplePath::CSamplePath(CNetWrite &netWrite) : m_net(netWrite), m_pauseImage(kPauseImageCapacity)
{
    g_pSamplePath.store(this, std::memory_order_release);
}

CSamplePath::~CSamplePath()
{
    CSamplePath *self = this;
    g_pSamplePath.compare_exchange_strong(self, nullptr);
    // The write thread calls back into this object: it must end first. The
    // main window releases the writer itself; this covers a window that is
    // destroyed without doing so.
    if (m_net.Owner() == this)
        m_net.ReleaseWriter();
    std::lock_guard<std::mutex> lock(m_queueLock);
    for (SampleBlock *b : m_queue)
        SampleBlock::Free(b);
    m_queue.clear();
    SampleBlock::Free(m_lastPicture);
    m_lastPicture = nullptr;
}

bool CSamplePath::LoadPauseImage()
{
    // Without a usable picture viewers still get a plain dark picture.
    auto fallback = [this] {
        const DWORD size = 320 * 240 * 3;
        for (DWORD i = 0; i < size; i += 3) {
            m_pauseImage[i] = 90; // blue, green, red
            m_pauseImage[i + 1] = 30;
            m_pauseImage[i + 2] = 15;
        }
        m_pauseImageSize = size;
        return false;
    };
    const ProgramResource *res = FindBitmapResource(IDB_PAUSE);
    if (!res || res->size < 54 || res->data[0] != 'B' || res->data[1] != 'M')
        return fallback();
    const unsigned char *bmp = res->data;
    const std::uint32_t bitsOffset = static_cast<std::uint32_t>(Le32(bmp + 10));
    const std::uint32_t infoSize = static_cast<std::uint32_t>(Le32(bmp + 14));
    const std::int32_t width = Le32(bmp + 18);
    const std::int32_t height = Le32(bmp + 22);
    const std::uint16_t bitCount = Le16(bmp + 28);
    const std::uint32_t compression = static_cast<std::uint32_t>(Le32(bmp + 30));
    if (infoSize < 40 || width <= 0 || height == 0 || bitCount != 24 || compression != 0)
        return fallback();
    const std::uint64_t rows =
        static_cast<std::uint64_t>(height < 0 ? -static_cast<std::int64_t>(height) : height);
    const std::uint64_t rowBytes = static_cast<std::uint64_t>(width) * 3;
    const std::uint64_t stride = (rowBytes + 3) & ~std::uint64_t{3};
    if (rowBytes * rows > kPauseImageCapacity || bitsOffset > res->size ||
        stride * rows > res->size - bitsOffset)
        return fallback();
    // Rows are kept bottom-up, as the video input takes them.
    for (std::uint64_t r = 0; r < rows; ++r) {
        const std::uint64_t srcRow = height > 0 ? r : rows - 1 - r;
        std::memcpy(m_pauseImage.data() + r * rowBytes, bmp + bitsOffset + srcRow * stride, rowBytes);
    }
    m_pauseImageSize = static_cast<DWORD>(rowBytes * rows);
    return true;
}

void CSamplePath::SignalWriter(platform::HANDLE event, const char *what)
{
    if (!platform::SetEvent(event))
        VLOG("VelmorDlg", "ErrorCode = %d, %s WriterEvent's SetEvent() Failed!\n",
             static_cast<int>(platform::GetLastError()), what);
}

void CSamplePath::Append(SampleBlock *block)
{
    m_queue.push_back(block);
    ++m_blocksQueued;
    const DWORD videoInput = m_net.VideoInput();
    const DWORD audioInput = m_net.AudioInput();
    if (block->input == videoInput) {
        if (++m_queuedVideo <= kMaxQueuedVideoBlocks)
            return;
        // The encoder cannot keep up: give up the oldest picture.
        DropOldest(videoInput);
        LogDropped(m_videoDropLog, m_videoDropped.load(), "video frames");
    } else if (block->input == audioInput) {
        m_queuedAudioMs += block->length / kAudioBytesPerMs;
        if (m_queuedAudioMs <= kMaxQueuedAudioMs)
            return;
        // Sound is bounded as well: the oldest goes first, so what players
        // hear next is as recent as the encoder allows.
        while (m_queuedAudioMs > kMaxQueuedAudioMs && m_queue.front() != block)
            DropOldest(audioInput);
        LogDropped(m_audioDropLog, m_audioDropped.load(), "audio blocks");
    }
}

void CSamplePath::DropOldest(DWORD input)
{
    const bool video = input == m_net.VideoInput();
    for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
        if ((*it)->input != input)
            continue;
        if (video) {
            --m_queuedVideo;
            ++m_videoDropped;
        } else {
            m_queuedAudioMs -= std::min(m_queuedAudioMs, (*it)->length / kAudioBytesPerMs);
            ++m_audioDropped;
        }
        SampleBlock::Free(*it);
        m_queue.erase(it);
        return;
    }
    m_queuedAudioMs = 0; // nothing of that kind left (cannot happen for a counted kind)
}

void CSamplePath::LogDropped(DropLog &log, std::uint64_t dropped, const char *what)
{
    const DWORD now = CNetWrite::GetTickCount();
    if (log.logged && now - log.lastTick < 1000)
        return;
    VLOG("VelmorDlg", "The encoder is behind: %llu %s dropped.\n",
         static_cast<unsigned long long>(dropped - log.countAtLastLog), what);
    log.countAtLastLog = dropped;
    log.lastTick = now;
    log.logged = true;
}

void CSamplePath::FeedSilenceUpTo(DWORD time, DWORD audioInput)
{
    while (static_cast<std::int32_t>(time - m_audioEndMs) > 0) {
        const DWORD ms = std::min<DWORD>(time - m_audioEndMs, 1000);
        SampleBlock *block = SampleBlock::Create(audioInput, m_audioEndMs, nullptr, ms * kAudioBytesPerMs);
        if (!block)
            return;
        Append(block);
        ++m_silenceFed;
        m_audioEndMs += ms;
        m_audioEndIsFedSilence = true;
    }
}

void CSamplePath::AfterVideoQueued(DWORD time)
{
    if (static_cast<std::int32_t>(time - m_lastVideoMs) > 0)
        m_lastVideoMs = time;
    // Without an audio graph nothing would ever carry sound and players
    // would wait for it: follow the video clock with silence.
    const std::int32_t gap = static_cast<std::int32_t>(time - m_audioEndMs);
    if (m_feedingSilence ? gap >= 100 : gap > static_cast<std::int32_t>(kAudioAbsentMs)) {
        m_feedingSilence = true;
        FeedSilenceUpTo(time, m_net.AudioInput());
    }
}

void CSamplePath::QueueVideo(const unsigned char *data, long bytes)
{
    if (!data || bytes <= 0 || bytes > kMaxSampleBytes)
        return;
    const platform::HANDLE event = m_net.WriteEvent();
    if (event == platform::INVALID_HANDLE_VALUE)
        return; // the writer is not started yet: the frame is dropped
    const DWORD input = m_net.VideoInput();

    std::lock_guard<std::mutex> lock(m_queueLock);
    // Stamped under the lock, so pictures and their repeats stay in order.
    const DWORD time = CNetWrite::GetTickCount() - m_net.StartTick();
    SampleBlock *block = g_nLive.load(std::memory_order_relaxed)
                             ? SampleBlock::Create(input, time, data, static_cast<DWORD>(bytes))
                             : SampleBlock::Create(input, time, m_pauseImage.data(), m_pauseImageSize);
    if (!block)
        return;
    Append(block);
    if (m_repeating) {
        m_repeating = false;
        VLOG("VelmorDlg", "Pictures arrive again; %llu repeated pictures filled the gap.\n",
             static_cast<unsigned long long>(m_repeatsInStall));
    }
    AfterVideoQueued(time);
    SignalWriter(event, "VideoFile");
}

void CSamplePath::RepeatStalledPicture()
{
    if (g_nClosing.load(std::memory_order_relaxed) || m_net.WriteEvent() == platform::INVALID_HANDLE_VALUE)
        return;
    const DWORD fps = m_net.VideoFrameRate();
    if (fps == 0)
        return;
    const DWORD input = m_net.VideoInput();
    std::lock_guard<std::mutex> lock(m_queueLock);
    // While live the last picture the writer took stands still; paused (or
    // before any picture) the pause picture does.
    const bool live = g_nLive.load(std::memory_order_relaxed) && m_lastPicture;
    const unsigned char *picture = live ? m_lastPicture->Data() : m_pauseImage.data();
    const DWORD length = live ? m_lastPicture->length : m_pauseImageSize;
    if (length == 0)
        return; // no picture to repeat (the pause picture is not loaded)
    const DWORD now = CNetWrite::GetTickCount() - m_net.StartTick();
    if (!m_serving) {
        // The stall clock starts when the writer is ready, not at the start
        // tick: starting the encoders may itself take a second.
        m_serving = true;
        if (static_cast<std::int32_t>(now - m_lastVideoMs) > 0)
            m_lastVideoMs = now;
        return;
    }
    if (!m_repeating) {
        if (static_cast<std::int32_t>(now - m_lastVideoMs) <= static_cast<std::int32_t>(kVideoStallMs))
            return;
        m_repeating = true;
        m_repeatFromMs = m_lastVideoMs;
        m_repeatsInStall = 0;
        VLOG("VelmorDlg", "No picture for more than %u ms: the last picture is repeated %u times a second.\n",
             static_cast<unsigned>(kVideoStallMs), static_cast<unsigned>(fps));
    }
    for (;;) {
        const DWORD time = m_repeatFromMs + static_cast<DWORD>((m_repeatsInStall + 1) * 1000 /
                                                               static_cast<std::uint64_t>(fps));
        if (static_cast<std::int32_t>(now - time) < 0)
            break;
        SampleBlock *block = SampleBlock::Create(input, time, picture, length);
        if (!block)
            break;
        Append(block);
        ++m_repeatsInStall;
        ++m_picturesRepeated;
        AfterVideoQueued(time);
    }
}

void CSamplePath::QueueAudio(const unsigned char *data, long bytes)
{
    if (!data || bytes <= 0 || bytes > kMaxSampleBytes)
        return;
    const platform::HANDLE event = m_net.WriteEvent();
    if (event == platform::INVALID_HANDLE_VALUE)
        return;
    const DWORD elapsed = CNetWrite::GetTickCount() - m_net.StartTick();
    // A buffer arrives when its last sample has been captured; its first
    // sample was captured its duration earlier, on the same clock.
    DWORD length = static_cast<DWORD>(bytes) & ~DWORD{3};
    if (length == 0)
        return;
    const DWORD durationMs = length / kAudioBytesPerMs;
    DWORD time = elapsed > durationMs ? elapsed - durationMs : 0;
    const unsigned char *from = data;

    std::lock_guard<std::mutex> lock(m_queueLock);
    m_feedingSilence = false;
    const std::int32_t overlap = static_cast<std::int32_t>(m_audioEndMs - time);
    if (overlap > 100 && m_audioEndIsFedSilence) {
        // Sound that overlaps silence we fed while no audio came is cut, so
        // the sound stays with the picture.
        const DWORD cut = static_cast<DWORD>(overlap) * kAudioBytesPerMs;
        if (cut >= length)
            return;
        from += cut;
        length -= cut;
        time = m_audioEndMs;
    } else if (overlap > 0) {
        // Captured sound is never dropped: it follows what is queued.
        time = m_audioEndMs;
    }
    m_audioEndIsFedSilence = false;
    const DWORD input = m_net.AudioInput();
    SampleBlock *block = g_nLive.load(std::memory_order_relaxed)
                             ? SampleBlock::Create(input, time, from, length)
                             : SampleBlock::Create(input, time, nullptr, length);
    if (!block)
        return;
    Append(block);
    m_audioEndMs = time + length / kAudioBytesPerMs;
    SignalWriter(event, "AudioFile");
}

std::size_t CSamplePath::QueuedBlocks()
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_queue.size();
}

void CSamplePath::SetWriteObserver(void (*observer)(void *, const SampleBlock &), void *context)
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_observer = observer;
    m_observerContext = context;
}

void CSamplePath::OnAsfWrite(int reason)
{
    void (*observer)(void *, const SampleBlock &) = nullptr;
    void *context = nullptr;
    const DWORD videoInput = m_net.VideoInput();
    CWMWriter *writer = m_net.Writer();
    std::size_t discarded = 0;
    auto writeAndFree = [&](SampleBlock *b) {
        // Closing, and the encoder took longer than the writer allows: what
        // is left goes unwritten (a stalled encoder would hold the window
        // open for hours).
        if (writer && writer->WaitsExpired()) {
            SampleBlock::Free(b);
            ++discarded;
            return;
        }
        if (observer)
            observer(context, *b);
        const int written = WriteSampleToWriter(b->input, b->Data(), b->length, b->time);
        if (written && b->input == videoInput) {
            // Kept: the picture a stall repeats.
            SampleBlock::Free(m_lastPicture);
            m_lastPicture = b;
            return;
        }
        SampleBlock::Free(b);
    };
    if (reason == 1) {
        RepeatStalledPicture();
        // Detach the queue under the lock and write outside it, so the
        // capture threads are never held up by the encoder.
        std::deque<SampleBlock *> taken;
        {
            std::lock_guard<std::mutex> lock(m_queueLock);
            taken.swap(m_queue);
            m_queuedVideo = 0;
            m_queuedAudioMs = 0;
            observer = m_observer;
            context = m_observerContext;
        }
        for (SampleBlock *b : taken)
            writeAndFree(b);
    } else if (reason == 0) {
        std::lock_guard<std::mutex> lock(m_queueLock);
        observer = m_observer;
        context = m_observerContext;
        for (SampleBlock *b : m_queue)
            writeAndFree(b);
        m_queue.clear();
        m_queuedVideo = 0;
        m_queuedAudioMs = 0;
    } else {
        {
            std::lock_guard<std::mutex> lock(m_queueLock);
            for (SampleBlock *b : m_queue)
                SampleBlock::Free(b);
            m_queue.clear();
            m_queuedVideo = 0;
            m_queuedAudioMs = 0;
        }
        VLOG("VelmorDlg", "[ WAIT_FAILED ] ASF 파일 쓰기 이상 종료\n");
    }
    if (discarded)
        VLOG("VelmorDlg", "Closing: %zu queued blocks were not written; the encoder is behind.\n", discarded);
}

int CSamplePath::WriteSampleToWriter(DWORD input, const unsigned char *data, DWORD length, DWORD time)
{
    CWMWriter *writer = m_net.Writer();
    if (!writer) {
        VLOG("VelmorDlg", "m_pWMWriter = 0x%08x\n", 0u);
        return 0;
    }
    std::unique_ptr<CWMSample> sample;
    HRESULT hr = writer->AllocateSample(length, sample);
    if (FAILED(hr) || !sample) {
        VLOG("VelmorDlg", "[ hr=0x%08x, pSample=0x%08x ] DataSize: %d Failed to AllocateSample\n",
             static_cast<unsigned>(hr), 0u, static_cast<int>(length));
        return 0;
    }
    unsigned char *buffer = nullptr;
    DWORD capacity = 0;
    hr = sample->GetBufferAndLength(&buffer, &capacity);
    if (FAILED(hr) || capacity < length) {
        VLOG("VelmorDlg", "[ hr=0x%08x ] Failed to GetBufferAndLength\n", static_cast<unsigned>(hr));
        return 0;
    }
    std::memcpy(buffer, data, length);
    hr = sample->SetLength(length);
    if (FAILED(hr)) {
        VLOG("VelmorDlg", "[ hr=0x%08x ] Failed to SetLength\n", static_cast<unsigned>(hr));
        return 0;
    }
    hr = writer->WriteSample(input, static_cast<QWORD>(time) * 10000, 0, sample.get());
    if (FAILED(hr)) {
        VLOG("VelmorDlg", "[ hr=0x%08x ] Failed to WriteSample\n", static_cast<unsigned>(hr));
        std::fprintf(stderr, "[ hr=0x%08x ] Failed to WriteSample\n", static_cast<unsigned>(hr));
        return 0;
    }
    ++m_blocksWritten;
    return 1;
}
