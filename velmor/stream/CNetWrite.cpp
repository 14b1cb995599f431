#include "CNetWrite.h"

#include "CLogFile.h"
#include "CWMProfileManager.h"

#include "platform/LocalTime.h"

#include <pthread.h>

#include <cerrno>
#include <system_error>

using platform::HANDLE;
using platform::INVALID_HANDLE_VALUE;

CNetWrite::~CNetWrite()
{
    ReleaseWriter();
}

DWORD CNetWrite::GetTickCount()
{
    return static_cast<DWORD>(platform::GetTickCount64());
}

HANDLE CNetWrite::NewEvent(bool manualReset, bool initialState)
{
    return platform::CreateEvent(manualReset, initialState);
}

bool CNetWrite::LaunchWriteThread()
{
    try {
        m_writeThread = std::thread(&CNetWrite::ASFFileWriteThread, this);
        return true;
    } catch (const std::system_error &e) {
        platform::SetLastError(static_cast<DWORD>(e.code().value()));
        return false;
    }
}

HRESULT CNetWrite::InitWriter(IAsfWriteOwner *owner)
{
    m_pOwner = owner;
    // COM needs no initialisation here: the writer is an ordinary object.
    if (m_pWMWriter)
        return S_OK;
    m_pWMWriter = new (std::nothrow) CWMWriter();
    if (!m_pWMWriter) {
        VLOG("NetWrite", "Could not create WMWriter (hr=0x%08x).\n", static_cast<unsigned>(E_OUTOFMEMORY));
        return E_OUTOFMEMORY;
    }
    m_pWMWriterAdvanced = m_pWMWriter;
    return S_OK;
}

HRESULT CNetWrite::StartNetworkStream(DWORD port)
{
    if (!m_pWMWriter || !m_pWMWriterAdvanced || !m_pOwner)
        return E_UNEXPECTED;
    if (m_pNetSink || m_writeThread.joinable())
        return E_UNEXPECTED; // there is no restart

    m_pNetSink = new (std::nothrow) CWMWriterNetworkSink();
    if (!m_pNetSink) {
        VLOG("NetWrite", "Could not create WMCreateWriterNetworkSink (hr=0x%08x).\n",
             static_cast<unsigned>(E_OUTOFMEMORY));
        return E_OUTOFMEMORY;
    }
    HRESULT hr = m_pNetSink->SetNetworkProtocol(WMT_PROTOCOL_HTTP);
    if (FAILED(hr)) {
        VLOG("NetWrite", "IWMWriterNetworkSink::SetNetworkProtocol error (hr=0x%08x).\n",
             static_cast<unsigned>(hr));
        return hr;
    }
    DWORD dwPort = port;
    hr = m_pNetSink->Open(&dwPort);
    if (FAILED(hr)) {
        VLOG("NetWrite", "IWMWriterNetworkSink::Open error (hr=0x%08x).\n", static_cast<unsigned>(hr));
        return hr;
    }
    hr = m_pNetSink->SetMaximumClients(kMaxClients);
    if (FAILED(hr)) {
        VLOG("NetWrite", "IWMWriterNetworkSink::SetMaximumClients error (hr=0x%08x).\n",
             static_cast<unsigned>(hr));
        return hr;
    }
    hr = m_pWMWriterAdvanced->AddSink(m_pNetSink);
    if (FAILED(hr)) {
        VLOG("NetWrite", "IWMWriterAdvanced::AddSink error (hr=0x%08x).\n", static_cast<unsigned>(hr));
        return hr;
    }
    hr = SetupProfile();
    if (FAILED(hr))
        return hr;

    DWORD inputCount = 0;
    hr = m_pWMWriter->GetInputCount(&inputCount);
    if (FAILED(hr))
        return hr;
    for (DWORD i = 0; i < inputCount; ++i) {
        WMMediaType type = WMMediaType::Unknown;
        hr = m_pWMWriter->GetInputProps(i, &type);
        if (FAILED(hr))
            return hr;
        if (type == WMMEDIATYPE_Video)
            m_dwVideoInput.store(i, std::memory_order_release);
        else if (type == WMMEDIATYPE_Audio)
            m_dwAudioInput.store(i, std::memory_order_release);
    }

    m_dwStartTick.store(GetTickCount(), std::memory_order_release);

    // The write event starts signalled, so the thread makes one pass over
    // the (empty) queue as soon as it runs. It is published to the capture
    // side only once the thread runs: a set-up that fails part-way leaves
    // the sinks dropping samples and reports the failure, so the main window
    // does not go on as if a stream were being served.
    HANDLE writeEvent = NewEvent(false, true);
    if (!writeEvent) {
        const DWORD err = platform::GetLastError();
        VLOG("NetWrite", "Error Code => %d, ASFFileWriteEvent 생성 실패\n", static_cast<int>(err));
        return HRESULT_FROM_ERRNO(err ? static_cast<int>(err) : ENOMEM);
    }
    HANDLE exitEvent = NewEvent(true, false);
    if (!exitEvent) {
        const DWORD err = platform::GetLastError();
        VLOG("NetWrite", "Error Code => %d, ASFFileExitEvent 생성 실패\n", static_cast<int>(err));
        platform::CloseHandle(writeEvent);
        return HRESULT_FROM_ERRNO(err ? static_cast<int>(err) : ENOMEM);
    }
    ASFFileExitEvent.store(exitEvent, std::memory_order_release);
    m_privateWriteEvent = writeEvent;
    if (!LaunchWriteThread()) {
        const DWORD err = platform::GetLastError();
        VLOG("NetWrite", "Error Code => %d, ASFFileWriteThread 생성 실패\n", static_cast<int>(err));
        m_privateWriteEvent = INVALID_HANDLE_VALUE;
        platform::CloseHandle(writeEvent);
        ASFFileExitEvent.store(INVALID_HANDLE_VALUE, std::memory_order_release);
        platform::CloseHandle(exitEvent);
        return HRESULT_FROM_ERRNO(err ? static_cast<int>(err) : EAGAIN);
    }

    hr = m_pWMWriter->BeginWriting();
    if (FAILED(hr)) {
        VLOG("NetWrite", "IWMWriter::BeginWriting error (hr=0x%08x).\n", static_cast<unsigned>(hr));
        return hr;
    }
    // From now on the capture callbacks queue their samples.
    ASFFileWriteEvent.store(writeEvent, std::memory_order_release);
    return S_OK;
}

HRESULT CNetWrite::SetupProfile()
{
    CWMProfileManager manager;
    HRESULT hr = manager.SetSystemProfileVersion(kSystemProfileVersion);
    std::unique_ptr<CWMProfile> profile;
    if (SUCCEEDED(hr))
        hr = manager.LoadSystemProfile(kSystemProfileNumber, profile);
    if (SUCCEEDED(hr) && !profile)
        hr = E_FAIL;
    if (FAILED(hr)) {
        VLOG("NetWrite", "Could not create EmptyProfil (hr=0x%08x).\n", static_cast<unsigned>(hr));
        return hr;
    }
    CWMStreamConfig config;
    hr = profile->GetStream(kAdjustedStreamIndex, config);
    if (FAILED(hr)) {
        VLOG("NetWrite", "IWMProfile::GetStream error (hr=0x%08x).\n", static_cast<unsigned>(hr));
        return hr;
    }
    if (config.GetStreamType() == WMMEDIATYPE_Video) {
        hr = config.SetBufferWindow(kVideoBufferWindowMs);
        if (SUCCEEDED(hr))
            hr = profile->ReconfigStream(config);
        if (FAILED(hr))
            return hr;
    }
    hr = m_pWMWriter->SetProfile(*profile);
    if (FAILED(hr)) {
        VLOG("NetWrite", "IWMWriter::SetProfile error (hr=0x%08x).\n", static_cast<unsigned>(hr));
        return hr;
    }
    for (const CWMStreamConfig &stream : profile->Streams())
        if (stream.type == WMMEDIATYPE_Video)
            m_dwVideoFps.store(static_cast<DWORD>(stream.framesPerSecond), std::memory_order_release);
    return hr;
}

void CNetWrite::ASFFileWriteThread(CNetWrite *self)
{
    ::pthread_setname_np(::pthread_self(), "ASFFileWrite");
    HANDLE events[2] = {self->ASFFileExitEvent.load(std::memory_order_acquire), self->m_privateWriteEvent};
    for (;;) {
        const DWORD result = platform::WaitForMultipleObjects(2, events, 0, kIdleWakeMs);
        if (result == platform::WAIT_OBJECT_0) {
            self->m_pOwner->OnAsfWrite(0);
            return;
        }
        // Samples queued, or a quiet spell: either way a pass over the queue.
        if (result == platform::WAIT_OBJECT_0 + 1 || result == platform::WAIT_TIMEOUT) {
            self->m_pOwner->OnAsfWrite(1);
            continue;
        }
        self->m_pOwner->OnAsfWrite(-1);
        return;
    }
}

void CNetWrite::CloseEvents()
{
    const HANDLE writeEvent = m_privateWriteEvent;
    ASFFileWriteEvent.store(INVALID_HANDLE_VALUE, std::memory_order_release);
    m_privateWriteEvent = INVALID_HANDLE_VALUE;
    const HANDLE exitEvent = ASFFileExitEvent.exchange(INVALID_HANDLE_VALUE, std::memory_order_acq_rel);
    if (writeEvent != INVALID_HANDLE_VALUE)
        platform::CloseHandle(writeEvent);
    if (exitEvent != INVALID_HANDLE_VALUE)
        platform::CloseHandle(exitEvent);
}

void CNetWrite::ReleaseWriter()
{
    // No more samples are queued from here on; the thread writes the rest,
    // for a short while at most. Each later step ends by its own moment
    // counted from here, so a slow machine does not add the delays up.
    ASFFileWriteEvent.store(INVALID_HANDLE_VALUE, std::memory_order_release);
    const auto drainEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCloseDrainMs);
    if (m_pWMWriter && m_writeThread.joinable())
        m_pWMWriter->LimitWaits(drainEnd);
    if (m_pNetSink)
        m_pNetSink->EndBy(drainEnd + std::chrono::milliseconds(CWMWriter::kEndWaitMs) +
                          CWMWriterNetworkSink::kEndFlushTime);
    const HANDLE exitEvent = ASFFileExitEvent.load(std::memory_order_acquire);
    if (exitEvent != INVALID_HANDLE_VALUE)
        platform::SetEvent(exitEvent);
    if (m_writeThread.joinable())
        m_writeThread.join();
    CloseEvents();

    if (m_pWMWriter && m_pWMWriter->IsWriting()) {
        m_pWMWriter->Flush();
        m_pWMWriter->EndWriting();
    }
    m_pWMWriterAdvanced = nullptr;
    delete m_pWMWriter;
    m_pWMWriter = nullptr;
    if (m_pNetSink) {
        m_pNetSink->Close();
        delete m_pNetSink;
        m_pNetSink = nullptr;
    }
}
