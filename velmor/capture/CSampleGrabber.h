#pragma once
// The Sample Grabber: an in-line filter that hands every buffer passing
// through it to its callback, on the streaming thread, and passes it on.
//   capsfilter name=accept ! [videoflip method=vertical-flip] ! identity name=grab
// SetMediaType fixes what its input accepts. Asked for 24-bit RGB it takes BGR
// and turns the rows bottom-up, the DIB layout the writer and the renderer
// expect, so every frame leaves the grabber as a bottom-up RGB24 DIB.
// SetCallbackFrameSize makes the callback receive every picture at one size
// (scaled, its shape kept with black borders) while the buffer passes on to
// the renderer unchanged.
#include "CFilter.h"
#include "CMediaType.h"
#include "CSampleGrabberCallback.h"

#include <gst/video/video.h>

#include <atomic>
#include <memory>
#include <mutex>

class CSampleGrabber : public CFilter {
public:
    static HRESULT Create(std::shared_ptr<CSampleGrabber> &grabber);
    ~CSampleGrabber() override;

    // Set before connecting. A video type with no format block means "this
    // subtype, any size".
    HRESULT SetMediaType(const CMediaType &mt);
    // Keep a reference to the last buffer (no copy).
    HRESULT SetBufferSamples(bool keep);
    // which = 0: SampleCB is called; 1: BufferCB. Null stops the calls.
    HRESULT SetCallback(CSampleGrabberCallback *callback, int which);
    // The type on the input connection; before data flows, the type the
    // upstream pin will give.
    HRESULT GetConnectedMediaType(CMediaType &mt) const;

    // A ceiling on the bytes of one BufferCB call: larger buffers are handed
    // over in pieces of whole blocks (the capture pin's suggested allocator),
    // each stamped with its own time at `bytesPerSecond`.
    void SetBufferCeiling(long bytes, long blockAlign, long bytesPerSecond);

    // Video: the callback receives every frame as a width x height 24-bit RGB
    // DIB, whatever size the source settled on; a picture of another shape
    // is fitted whole, centred between black borders. 0 x 0 (the default)
    // hands the frames over as they are. Set before the graph runs.
    HRESULT SetCallbackFrameSize(int width, int height);
    // Video: also hands every frame at the size it passes the grabber (before
    // the fitting above) to `sink`; null stops it. Set before the graph runs.
    void SetSourceFrameSink(SourceFrameSink sink) { m_sourceSink.store(sink); }

private:
    struct ConverterFree {
        void operator()(GstVideoConverter *c) const { gst_video_converter_free(c); }
    };
    // The scaler for the current input caps: used on the streaming thread,
    // freed with the grabber; guarded by m_scalerMutex (the thread sanitizer
    // cannot see the graph's threads being joined).
    struct Scaler {
        platform::GstCapsPtr caps;
        std::unique_ptr<GstVideoConverter, ConverterFree> converter;
        GstVideoInfo in{};
        GstVideoInfo out{};
        platform::GstBufferPtr output;
        bool passThrough = false;
    };

    explicit CSampleGrabber(GstElement *bin, GstElement *accept, GstElement *grab);

    static GstPadProbeReturn OnBuffer(GstPad *pad, GstPadProbeInfo *info, gpointer self);
    void Deliver(GstBuffer *buffer);
    // The frame at the callback's size; null when it cannot be scaled. May
    // return `buffer` itself when it already has that size.
    GstBuffer *ScaledForCallback(GstBuffer *buffer);
    bool PrepareScaler(int width, int height);
    void DeliverSourceFrame(SourceFrameSink sink, GstBuffer *buffer);

    GstElement *m_accept; // owned by the bin
    GstElement *m_grab;   // owned by the bin
    GstElement *m_flip = nullptr;
    platform::GstPtr<GstPad> m_probePad;
    gulong m_probeId = 0;

    std::atomic<CSampleGrabberCallback *> m_callback{nullptr};
    std::atomic<int> m_which{0};
    std::atomic<bool> m_bufferSamples{false};
    std::atomic<long> m_ceilingBytes{0};
    std::atomic<long> m_blockAlign{1};
    std::atomic<long> m_bytesPerSecond{0};
    std::atomic<int> m_frameWidth{0};
    std::atomic<int> m_frameHeight{0};
    std::mutex m_scalerMutex;
    Scaler m_scaler;
    std::atomic<SourceFrameSink> m_sourceSink{nullptr};
    // The video info of the caps the source frames came with (streaming
    // thread only).
    platform::GstCapsPtr m_sourceCaps;
    GstVideoInfo m_sourceInfo{};
    bool m_sourceInfoValid = false;
    std::mutex m_lastMutex;
    platform::GstBufferPtr m_last;
};
