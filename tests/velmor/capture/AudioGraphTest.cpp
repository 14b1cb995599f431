// The audio capture graph against the in-process test microphones: the forced
// 32 kHz stereo format, the buffers in the sink and the failure lines.
#include "CAudio.h"
#include "CaptureTestSupport.h"
#include "TestDevices.h"

using testdevices::FakeDevice;
using testdevices::Microphone;
using testdevices::SetFakeDevices;

namespace {

class AudioGraph : public ::testing::Test {
protected:
    void SetUp() override { AudioBuffers().Reset(); }
    void TearDown() override
    {
        audio.ReleaseGraph();
        testdevices::ClearFakeDevices();
    }
    LogCapture log;
    CAudio audio;
};

const char *kStereo32k = "audio/x-raw,format=S16LE,rate=32000,channels=2,layout=interleaved";

} // namespace

TEST_F(AudioGraph, MicrophoneAccepting32kStereoDeliversPcmInBlocksOf4)
{
    SetFakeDevices({Microphone("Mic", kStereo32k)});
    audio.SetAudioSink(&AudioSink);
    ASSERT_EQ(audio.InitAudioDevice("Mic"), S_OK) << log.Text();
    CMediaType connected;
    ASSERT_EQ(audio.m_pGrabber->GetConnectedMediaType(connected), S_OK);
    EXPECT_EQ(connected.wfx.nSamplesPerSec, 32000u);
    EXPECT_EQ(connected.wfx.nChannels, 2u);
    EXPECT_EQ(connected.wfx.wBitsPerSample, 16u);
    EXPECT_EQ(connected.wfx.nBlockAlign, 4u);
    // Built and running in one call.
    ASSERT_TRUE(AudioBuffers().WaitFor(5));
    std::lock_guard<std::mutex> lock(AudioBuffers().mutex);
    EXPECT_TRUE(AudioBuffers().allMultiplesOf4);
    for (long size : AudioBuffers().sizes) {
        EXPECT_GT(size, 0);
        EXPECT_LE(size, 128000);
    }
    EXPECT_EQ(audio.WaveFormat().nAvgBytesPerSec, 128000u);
    EXPECT_EQ(audio.WaveFormat().nSamplesPerSec, 32000u);
}

TEST_F(AudioGraph, DeviceWithManyFormatsIsForcedTo32kStereo16Bit)
{
    SetFakeDevices({Microphone("Mic wide", "audio/x-raw,format={S16LE,F32LE},rate=[8000,48000],"
                                           "channels=[1,2],layout=interleaved")});
    audio.SetAudioSink(&AudioSink);
    ASSERT_EQ(audio.InitAudioDevice("Mic wide"), S_OK) << log.Text();
    ASSERT_TRUE(AudioBuffers().WaitFor(3));
    CMediaType connected;
    ASSERT_EQ(audio.m_pGrabber->GetConnectedMediaType(connected), S_OK);
    EXPECT_EQ(connected.subtype, "S16LE");
    EXPECT_EQ(connected.wfx.nSamplesPerSec, 32000u);
    EXPECT_EQ(connected.wfx.nChannels, 2u);
}

TEST_F(AudioGraph, BufferTimesAdvanceWithTheBytes)
{
    SetFakeDevices({Microphone("Mic", kStereo32k)});
    audio.SetAudioSink(&AudioSink);
    ASSERT_EQ(audio.InitAudioDevice("Mic"), S_OK);
    ASSERT_TRUE(AudioBuffers().WaitFor(6));
    std::lock_guard<std::mutex> lock(AudioBuffers().mutex);
    const auto &t = AudioBuffers().times;
    const auto &s = AudioBuffers().sizes;
    for (std::size_t i = 1; i < 5; ++i)
        EXPECT_NEAR(t[i] - t[i - 1], static_cast<double>(s[i - 1]) / 128000.0, 0.002) << i;
}

TEST_F(AudioGraph, BuffersLargerThanTheSuggestedAllocatorArriveInPieces)
{
    // 48000 frames per buffer: 192000 bytes, more than the 128000 ceiling.
    FakeDevice mic = Microphone("Mic big", kStereo32k);
    mic.samplesPerBuffer = 48000;
    SetFakeDevices({mic});
    audio.SetAudioSink(&AudioSink);
    ASSERT_EQ(audio.InitAudioDevice("Mic big"), S_OK);
    ASSERT_TRUE(AudioBuffers().WaitFor(2, std::chrono::seconds(15)));
    std::lock_guard<std::mutex> lock(AudioBuffers().mutex);
    ASSERT_GE(AudioBuffers().sizes.size(), 2u);
    EXPECT_EQ(AudioBuffers().sizes[0], 128000);
    EXPECT_EQ(AudioBuffers().sizes[1], 64000);
    EXPECT_TRUE(AudioBuffers().allMultiplesOf4);
    // The second piece starts one second of audio later.
    EXPECT_NEAR(AudioBuffers().times[1] - AudioBuffers().times[0], 1.0, 1e-6);
    // The pieces hold the device's bytes in order: the sine continues
    // across the cut without a jump.
    const auto &first = AudioBuffers().buffers[0];
    const auto &second = AudioBuffers().buffers[1];
    auto sample = [](const std::vector<unsigned char> &b, std::size_t frame) {
        return static_cast<int>(static_cast<std::int16_t>(b[frame * 4] | (b[frame * 4 + 1] << 8)));
    };
    EXPECT_LT(std::abs(sample(second, 0) - sample(first, 31999)), 3000);
}

TEST_F(AudioGraph, DeviceWithoutFormatControlFailsAtSetAudioProperties)
{
    FakeDevice mic = Microphone("Mic plain", "");
    SetFakeDevices({mic});
    EXPECT_EQ(audio.InitAudioDevice("Mic plain"), E_NOINTERFACE);
    EXPECT_TRUE(log.Contains("SetAudioProperties() error (hr=0x80004002).\n")) << log.Text();
    EXPECT_EQ(audio.m_pGrabber, nullptr) << "nothing after the failed step is made";
    EXPECT_EQ(audio.ReleaseGraph(), 0);
    EXPECT_EQ(audio.m_pGraph, nullptr);
}

TEST_F(AudioGraph, DeviceRefusing32kStereoFailsAtSetAudioProperties)
{
    SetFakeDevices({Microphone("Mic mono", "audio/x-raw,format=S16LE,rate=44100,channels=1,layout=interleaved")});
    EXPECT_EQ(audio.InitAudioDevice("Mic mono"), VFW_E_INVALIDMEDIATYPE);
    EXPECT_TRUE(log.Contains("SetAudioProperties() error (hr=0x80040200).\n")) << log.Text();
}

TEST_F(AudioGraph, NullNameUnknownNameAndEmptyRelease)
{
    SetFakeDevices({Microphone("Mic", kStereo32k)});
    EXPECT_EQ(audio.InitAudioDevice(nullptr), 1);
    EXPECT_EQ(audio.m_pGraph, nullptr);
    EXPECT_EQ(audio.InitAudioDevice(std::string(261, 'm').c_str()), E_INVALIDARG);
    EXPECT_EQ(audio.m_pGraph, nullptr);
    EXPECT_EQ(audio.ReleaseGraph(), 0);
    EXPECT_EQ(audio.RunGraph(), E_FAIL);
    EXPECT_EQ(audio.InitAudioDevice("Microphone"), E_FAIL);
    EXPECT_TRUE(log.Contains("Could not create  CLSID_AudioInputDeviceCategory (hr=0x80004005).\n"));
}

TEST_F(AudioGraph, NoBufferReachesTheSinkAfterRelease)
{
    SetFakeDevices({Microphone("Mic", kStereo32k)});
    audio.SetAudioSink(&AudioSink);
    ASSERT_EQ(audio.InitAudioDevice("Mic"), S_OK);
    ASSERT_TRUE(AudioBuffers().WaitFor(3));
    EXPECT_EQ(audio.ReleaseGraph(), 0);
    const long after = AudioBuffers().Calls();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(AudioBuffers().Calls(), after);
}

TEST_F(AudioGraph, DestroyingARunningGraphStopsItFirst)
{
    SetFakeDevices({Microphone("Mic", kStereo32k)});
    {
        CAudio running;
        running.SetAudioSink(&AudioSink);
        ASSERT_EQ(running.InitAudioDevice("Mic"), S_OK);
        ASSERT_TRUE(AudioBuffers().WaitFor(2));
    }
    const long after = AudioBuffers().Calls();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(AudioBuffers().Calls(), after);
}

TEST_F(AudioGraph, BuildAndRelease100Times)
{
    SetFakeDevices({Microphone("Mic", kStereo32k)});
    audio.SetAudioSink(&AudioSink);
    for (int i = 0; i < 100; ++i) {
        AudioBuffers().Reset();
        ASSERT_EQ(audio.InitAudioDevice("Mic"), S_OK) << "round " << i;
        gpointer watched[] = {audio.m_pGraph->Pipeline(), audio.m_pCapture->Element(),
                              audio.m_pGrabber->Element(), audio.m_pNullRenderer->Element()};
        for (gpointer &object : watched)
            g_object_add_weak_pointer(G_OBJECT(object), &object);
        ASSERT_TRUE(AudioBuffers().WaitFor(1)) << "round " << i;
        ASSERT_EQ(audio.ReleaseGraph(), 0);
        for (gpointer object : watched)
            ASSERT_EQ(object, nullptr) << "round " << i;
    }
}
