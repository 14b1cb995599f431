#pragma once
// Stamps a new buffer with its time and duration.
//
// GStreamer allocates GstBuffer structs from GLib's slice allocator, which
// recycles memory between threads through caches the thread sanitizer cannot
// see; the first stores into a recycled struct would be reported as races
// with its previous owner. The buffer must be the caller's alone.
#include <gst/gst.h>

#if defined(__SANITIZE_THREAD__)
extern "C" void AnnotateIgnoreWritesBegin(const char *file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char *file, int line);
#endif

inline void StampBuffer(GstBuffer *buffer, GstClockTime pts, GstClockTime duration)
{
#if defined(__SANITIZE_THREAD__)
    AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
#endif
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DURATION(buffer) = duration;
#if defined(__SANITIZE_THREAD__)
    AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
#endif
}
