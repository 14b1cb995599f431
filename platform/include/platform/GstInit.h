#pragma once
// One GStreamer initialisation per process. Any module that builds a
// pipeline calls EnsureGstInit() first; the first caller initialises, later
// and concurrent callers wait for it (a function-local static is initialised
// exactly once, thread-safely). Header only; link GStreamer (PkgConfig::GST).
#include <gst/gst.h>

namespace platform {

inline bool EnsureGstInit()
{
    static const bool initialised = [] {
        GError *error = nullptr;
        const bool ok = gst_init_check(nullptr, nullptr, &error) != FALSE;
        if (error)
            g_error_free(error);
        return ok;
    }();
    return initialised;
}

} // namespace platform
