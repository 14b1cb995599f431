#pragma once
// The audio capture graph: the picked input device forced to 32 000 Hz,
// 16-bit stereo, a Sample Grabber handing every buffer to the audio sink, and
// a Null Renderer.
//   <device> ! capsfilter audio/x-raw,format=S16LE,rate=32000,channels=2 ! <Sample Grabber> ! fakesink
// Built and run in one call, on the main window's thread; the sink is called
// on the graph's streaming thread. Log lines go to module "Audio".
#include "CCaptureGraphBuilder.h"
#include "CSampleGrabber.h"
#include "CSampleGrabberCallback.h"
#include "SampleSink.h"

class CAudio {
public:
    CAudio();
    virtual ~CAudio();
    CAudio(const CAudio &) = delete;
    CAudio &operator=(const CAudio &) = delete;

    // Builds, connects and runs the graph for the device of that friendly
    // name (UTF-8). S_FALSE when name is null; E_INVALIDARG, with nothing
    // built, when it is longer than 260 bytes in CP949.
    HRESULT InitAudioDevice(const char *name);
    HRESULT RunGraph();
    // Stops the graph; when stopping fails returns that and keeps everything,
    // else releases all and returns 0.
    HRESULT ReleaseGraph();

    void SetAudioSink(SampleSink sink) { m_audioSink = sink; }
    SampleSink CurrentSink() const { return m_callback.Sink(); }

    // Fixed capture settings.
    static constexpr std::uint16_t kChannels = 2;
    static constexpr std::uint32_t kSamplesPerSec = 32000;
    static constexpr std::uint16_t kBitsPerSample = 16;
    static constexpr std::uint16_t kBlockAlign = 4;
    static constexpr std::uint32_t kAvgBytesPerSec = 128000;
    static constexpr long kBufferBytes = 128000;

    const WAVEFORMATEX &WaveFormat() const { return m_waveFormat; }

    WAVEFORMATEX m_waveFormat{};
    std::shared_ptr<CCaptureGraphBuilder> m_pCaptureGraphBuilder;
    std::shared_ptr<CGraph> m_pGraph;
    std::shared_ptr<CCaptureFilter> m_pCapture;
    std::shared_ptr<CSampleGrabber> m_pGrabber;
    std::shared_ptr<CFilter> m_pNullRenderer;

private:
    HRESULT SetAudioProperties();

    CSampleGrabberCallback m_callback;
    SampleSink m_audioSink = nullptr;
};
