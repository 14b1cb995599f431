// The main of every test executable. It sets the environment every test
// relies on before anything else runs, so a test binary behaves the same
// under CTest and when started by hand: headless Qt, a private GStreamer
// registry, a private registry store and the folder of the built programs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("GST_REGISTRY", VELMOR_BINARY_DIR "/gst-registry.bin", 0);
    setenv("VELMOR_REGISTRY_DIR", VELMOR_BINARY_DIR "/test-registry/" VELMOR_TEST_NAME, 0);
    setenv("VELMOR_PROGRAM_DIR", VELMOR_PROGRAM_DIR, 0);
    setenv("VELMOR_SOURCE_DIR", VELMOR_SOURCE_DIR, 0);
    // No test may reach a real desktop or sound device.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
