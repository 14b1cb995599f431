#pragma once
// The video capture graph: a camera (picked by its friendly name) or the
// screen, a Sample Grabber that insists on 24-bit RGB and hands every frame to
// the video sink, and the Video Renderer painting into the preview target.
//   <source> ! [converters] ! <Sample Grabber> ! <Video Renderer | fakesink>
// Before connecting, the source is asked for 320x240 with a numbered chain of
// attempts that is traced into the log (module "Video"). Whatever size it
// settles on, the sink receives 320x240 frames (scaled, with borders).
//
// Build, run and release run on the main window's thread; the grabber calls
// the sink on the graph's streaming thread.
#include "CCaptureGraphBuilder.h"
#include "CSampleGrabber.h"
#include "CSampleGrabberCallback.h"
#include "CVideoRenderer.h"
#include "IPreviewTarget.h"
#include "SampleSink.h"

#include <vector>

class CVideo {
public:
    // The size of every frame the video sink receives.
    static constexpr int kFrameWidth = 320;
    static constexpr int kFrameHeight = 240;

    CVideo();
    ~CVideo();
    CVideo(const CVideo &) = delete;
    CVideo &operator=(const CVideo &) = delete;

    // Builds and connects the camera graph for the device of that friendly
    // name (UTF-8); does not run it. S_FALSE when name is null or longer than
    // 260 bytes in CP949.
    HRESULT InitVideoDevice(const char *name);
    // Builds, connects and runs the screen graph.
    HRESULT InitScreenCapture();
    // E_FAIL when there is no graph, else the graph's Run result.
    HRESULT RunGraph();
    // Stops and releases everything; always 0; safe on an empty object.
    HRESULT ReleaseGraph();

    // The preview control the renderer paints into; set before a build.
    void SetPreviewWindow(IPreviewTarget *window) { m_hPreviewWnd = window; }
    IPreviewTarget *PreviewWindow() const { return m_hPreviewWnd; }
    // The function every frame goes to; the grabber callback takes it at
    // each build and drops it at release.
    void SetVideoSink(SampleSink sink) { m_videoSink = sink; }
    SampleSink CurrentSink() const { return m_callback.Sink(); }
    // Every frame also goes, at the size the source settled on, to this
    // function (the broadcast relay); null: none. Taken at each build.
    void SetSourceFrameSink(SourceFrameSink sink) { m_sourceSink = sink; }
    // Before the 320x240 attempts, ask a camera for its largest format within
    // width x height (the relay's picture); 0 x 0 (the default): do not.
    void SetLargestFormatWithin(int width, int height)
    {
        m_largestWidth = width;
        m_largestHeight = height;
    }

    // The format list of the last camera build and its searches.
    const std::vector<CMediaType> &FormatList() const { return m_formatList; }
    int FindFormat(std::uint32_t compression, int width, int height) const;
    int FindNearestFormat(std::uint32_t compression, int width, int height) const;
    // The list entry with the most pixels within width x height; -1 if none.
    int FindLargestFormat(int width, int height) const;
    HRESULT GetFormatList();
    // For tests of the searches: replaces the format list.
    void SetFormatListForTest(std::vector<CMediaType> list) { m_formatList = std::move(list); }

    // The header the manual format attempts ask for: 320x240, 24-bit RGB.
    static BITMAPINFOHEADER DefaultFormatTemplate();

    // Fields, in the order the graph is made of (owning references).
    std::shared_ptr<CCaptureGraphBuilder> m_pCaptureGraphBuilder;
    std::shared_ptr<CGraph> m_pGraph;
    std::shared_ptr<CSampleGrabber> m_pGrabber;
    std::shared_ptr<CCaptureFilter> m_pVideoCapture;
    std::shared_ptr<CFilter> m_pRenderer;
    std::shared_ptr<CStreamConfig> m_pStreamConfig;
    bool m_bVfwCaptureDialogs = false;
    std::shared_ptr<CCaptureFilter> m_pScreenSource;

private:
    HRESULT ConnectDirectShow();
    HRESULT CreateVideoCaptureGraphBuilder();
    HRESULT CreateVideoRender();
    HRESULT CreateSampleGrabberAndFilterConnect();
    HRESULT CreatePrevviewWnd();
    HRESULT CreateScreenVideoRender();
    HRESULT CreateScreenSampleGrabberAndFilterConnect();

    HRESULT CreateGraphObjects(bool screen);
    HRESULT CreateRenderer(bool screen);
    void NegotiateCaptureFormat(const std::shared_ptr<CCaptureFilter> &source, bool camera);
    HRESULT SetFormatByIndex(int index);
    HRESULT ConnectGrabber(const std::shared_ptr<CCaptureFilter> &source, bool screen);

    std::vector<CMediaType> m_formatList;
    BITMAPINFOHEADER m_formatTemplate;
    CSampleGrabberCallback m_callback;
    IPreviewTarget *m_hPreviewWnd = nullptr;
    SampleSink m_videoSink = nullptr;
    SourceFrameSink m_sourceSink = nullptr;
    int m_largestWidth = 0;
    int m_largestHeight = 0;
};
