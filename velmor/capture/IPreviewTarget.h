#pragma once
// Where the Video Renderer paints: the preview control of the main window.
// The window gives one to CVideo before a build; with none, the renderer is a
// fakesink and nothing is painted.
struct PreviewRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

class IPreviewTarget {
public:
    virtual ~IPreviewTarget() = default;

    // The client rectangle of the preview control. Called on the thread that
    // builds the graph (the window's thread).
    virtual PreviewRect GetClientRect() const = 0;

    // One frame, on the renderer's streaming thread: bottom-up 24-bit BGR rows
    // `stride` bytes apart. The bytes belong to the graph: copy what is kept
    // and hand it to the window's thread with a queued call. Never called
    // after the renderer's owner was set to null.
    virtual void PresentFrame(const unsigned char *bottomUpBgr, int width, int height, int stride) = 0;
};
