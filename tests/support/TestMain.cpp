// The main of every test executable. It sets the environment every test
// relies on before anything else runs, so a test binary behaves the same
// under CTest and when started by hand: headless Qt, a private GStreamer
// registry, a private registry store and state folder, and the folder of the
// built programs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#if defined(__SANITIZE_THREAD__)
// GStreamer's libav plugin and GLib's type registration hold more locks at
// once than the thread sanitizer's deadlock detector can track, which aborts
// or hangs the run inside the detector. Races are still reported; only the
// lock-order bookkeeping is off.
extern "C" const char *__tsan_default_options()
{
    return "detect_deadlocks=0";
}
#endif

int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("GST_REGISTRY", VELMOR_BINARY_DIR "/gst-registry.bin", 0);
    setenv("VELMOR_REGISTRY_DIR", VELMOR_BINARY_DIR "/test-registry/" VELMOR_TEST_NAME, 0);
    setenv("VELMOR_PROGRAM_DIR", VELMOR_PROGRAM_DIR, 0);
    setenv("VELMOR_SOURCE_DIR", VELMOR_SOURCE_DIR, 0);
    // The product's temporary folder lives under the XDG state folder: never
    // the user's own, whatever a test forgets to set.
    setenv("XDG_STATE_HOME", VELMOR_BINARY_DIR "/test-state/" VELMOR_TEST_NAME, 1);
    // No test may reach a real desktop or sound device.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
