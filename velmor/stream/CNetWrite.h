#pragma once
// The broadcaster's writer: owns the Windows Media writer, its HTTP network
// sink on the encoder listen port, the two events and ASFFileWriteThread,
// the only thread that writes samples to the writer. The owner (the sample
// path) supplies the queue and writes the samples when the thread wakes it.
//
// Threads: InitWriter, StartNetworkStream and ReleaseWriter run on the
// user-interface thread. The capture threads read the start tick, the input
// numbers and ASFFileWriteEvent (atomics) and set the event. The write
// thread calls the owner's OnAsfWrite: when samples are queued, and at least
// every kIdleWakeMs.
#include "CWMProfileManager.h"
#include "CWMWriter.h"
#include "CWMWriterNetworkSink.h"
#include "IAsfWriteOwner.h"

#include "platform/Win32Event.h"
#include "platform/Win32Types.h"

#include <atomic>
#include <thread>

class CNetWrite {
public:
    static constexpr DWORD kSystemProfileVersion = WMT_VER_7_0;
    static constexpr DWORD kSystemProfileNumber = kBroadcastSystemProfile;
    static constexpr DWORD kAdjustedStreamIndex = 1;
    static constexpr DWORD kVideoBufferWindowMs = 1000;
    static constexpr DWORD kMaxClients = 50;
    // The write thread wakes at least this often, even with nothing queued,
    // so the sample path can keep the picture moving when no frame comes.
    static constexpr DWORD kIdleWakeMs = 50;
    // At shutdown the write thread writes what is queued for at most this
    // long; a stalled encoder cannot hold the window open.
    static constexpr DWORD kCloseDrainMs = 600;

    CNetWrite() = default;
    virtual ~CNetWrite();
    CNetWrite(const CNetWrite &) = delete;
    CNetWrite &operator=(const CNetWrite &) = delete;

    HRESULT InitWriter(IAsfWriteOwner *owner);
    // Opens the HTTP sink on `port` (0: any free port, see ListenPort), sets
    // the profile, starts the write thread and begins writing.
    HRESULT StartNetworkStream(DWORD port);
    HRESULT SetupProfile();
    // Ends the write thread (the owner writes what is still queued first),
    // flushes and ends the writer and releases everything. Safe to repeat.
    void ReleaseWriter();

    // Read by the capture side.
    DWORD StartTick() const { return m_dwStartTick.load(std::memory_order_acquire); }
    DWORD VideoInput() const { return m_dwVideoInput.load(std::memory_order_acquire); }
    DWORD AudioInput() const { return m_dwAudioInput.load(std::memory_order_acquire); }
    // Frames per second of the stream's video (0 before the profile is set).
    DWORD VideoFrameRate() const { return m_dwVideoFps.load(std::memory_order_acquire); }
    // INVALID_HANDLE_VALUE until the writer is ready for samples.
    platform::HANDLE WriteEvent() const { return ASFFileWriteEvent.load(std::memory_order_acquire); }

    CWMWriter *Writer() const { return m_pWMWriter; }
    IAsfWriteOwner *Owner() const { return m_pOwner; }
    CWMWriterNetworkSink *NetworkSink() const { return m_pNetSink; }
    DWORD ListenPort() const { return m_pNetSink ? m_pNetSink->Port() : 0; }

    // The tick count (milliseconds, wrapping at 2^32) the sample times count from.
    static DWORD GetTickCount();

protected:
    // The steps that can fail for lack of system resources; tests replace them.
    virtual platform::HANDLE NewEvent(bool manualReset, bool initialState);
    virtual bool LaunchWriteThread();

private:
    static void ASFFileWriteThread(CNetWrite *self);
    void CloseEvents();

    std::atomic<DWORD> m_dwStartTick{0};
    CWMWriter *m_pWMWriterAdvanced = nullptr; // the writer's advanced interface (same object)
    CWMWriter *m_pWMWriter = nullptr;
    CWMWriterNetworkSink *m_pNetSink = nullptr;
    IAsfWriteOwner *m_pOwner = nullptr;
    std::atomic<platform::HANDLE> ASFFileWriteEvent{platform::INVALID_HANDLE_VALUE};
    std::atomic<platform::HANDLE> ASFFileExitEvent{platform::INVALID_HANDLE_VALUE};
    platform::HANDLE m_privateWriteEvent = platform::INVALID_HANDLE_VALUE; // what the thread waits on
    std::thread m_writeThread;
    std::atomic<DWORD> m_dwVideoInput{0};
    std::atomic<DWORD> m_dwAudioInput{0};
    std::atomic<DWORD> m_dwVideoFps{0};
};
