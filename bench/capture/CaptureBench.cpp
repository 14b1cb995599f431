// capture_bench: how long a camera graph takes to build, run and release, and
// how many 320x240 RGB24 frames per second reach the video sink from a 60 fps
// test camera (frames that would be lost to the grabber path show up as a
// lower rate). Prints its figures; run by hand.
#include "CAudio.h"
#include "CVideo.h"
#include "TestDevices.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

std::atomic<long> g_frames{0};
std::atomic<long> g_bytes{0};
std::atomic<long> g_audioBytes{0};

void CountFrame(double, const unsigned char *, long bytes)
{
    g_frames.fetch_add(1);
    g_bytes.fetch_add(bytes);
}

void CountAudio(double, const unsigned char *, long bytes)
{
    g_audioBytes.fetch_add(bytes);
}

double Ms(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main()
{
    testdevices::SetFakeDevices(
        {testdevices::Camera("Bench Cam", "video/x-raw,format=I420,width=640,height=480,framerate=60/1;"
                                          "video/x-raw,format=BGR,width=320,height=240,framerate=60/1"),
         testdevices::Microphone("Bench Mic", "audio/x-raw,format=S16LE,rate=32000,channels=2,layout=interleaved")});

    CVideo video;
    video.SetVideoSink(&CountFrame);
    constexpr int kRounds = 50;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
        video.InitVideoDevice("Bench Cam");
        video.RunGraph();
        video.ReleaseGraph();
    }
    std::printf("camera graph build+run+release: %.2f ms per round (%d rounds)\n",
                Ms(std::chrono::steady_clock::now() - start) / kRounds, kRounds);

    g_frames = 0;
    g_bytes = 0;
    video.InitVideoDevice("Bench Cam");
    video.RunGraph();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long framesBefore = g_frames.load();
    start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double seconds = Ms(std::chrono::steady_clock::now() - start) / 1000.0;
    const long frames = g_frames.load() - framesBefore;
    video.ReleaseGraph();
    std::printf("video sink: %.1f frames/s from a 60 fps camera, %.1f MB/s, %ld bytes per frame\n",
                frames / seconds, g_bytes.load() / 1e6 / (seconds + 0.3),
                frames ? g_bytes.load() / g_frames.load() : 0L);

    CAudio audio;
    audio.SetAudioSink(&CountAudio);
    audio.InitAudioDevice("Bench Mic");
    start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double audioSeconds = Ms(std::chrono::steady_clock::now() - start) / 1000.0;
    audio.ReleaseGraph();
    std::printf("audio sink: %.0f bytes/s (32 kHz stereo 16-bit is 128000)\n", g_audioBytes.load() / audioSeconds);
    testdevices::ClearFakeDevices();
    return 0;
}
