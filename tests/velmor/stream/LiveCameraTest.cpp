// The broadcaster's capture graphs on the in-process test devices feeding the
// real sample path and writer, read back by ffmpeg over HTTP.
#include "BroadcastFixture.h"
#include "CAudio.h"
#include "CVideo.h"
#include "TestDevices.h"

using namespace streamtest;

using LiveCamera = Broadcast;

TEST_F(LiveCamera, A1280x720CameraGivesA320x240StreamWithBorders)
{
    testdevices::FakeDevice camera =
        testdevices::Camera("HD Camera", "video/x-raw,format=I420,width=1280,height=720,framerate=15/1");
    camera.pattern = "white";
    testdevices::SetFakeDevices(
        {camera, testdevices::Microphone("Test Mic", "audio/x-raw,format=S16LE,rate=32000,channels=2")});
    ASSERT_EQ(StartBroadcast(), S_OK);
    g_nLive = 1;
    CVideo video;
    CAudio audio;
    video.SetVideoSink(&VideoSampleSink);
    audio.SetAudioSink(&AudioSampleSink);
    ASSERT_TRUE(SUCCEEDED(video.InitVideoDevice("HD Camera")));
    ASSERT_TRUE(SUCCEEDED(audio.InitAudioDevice("Test Mic")));
    ASSERT_TRUE(SUCCEEDED(video.RunGraph()));

    const std::string url = "http://127.0.0.1:" + std::to_string(m_port) + "/";
    std::string probed;
    RunShell("timeout 20 ffprobe -v error -show_entries stream=codec_name,width,height -of compact " + url,
             &probed);
    const std::string rawFile = m_dir.file("hd.rgb");
    std::string decodeLog;
    RunShell("timeout 20 ffmpeg -nostdin -v error -i " + url +
                 " -map 0:v -frames:v 30 -f rawvideo -pix_fmt rgb24 -y " + rawFile,
             &decodeLog);

    // What the main window does when it closes.
    g_nClosing = 1;
    video.ReleaseGraph();
    audio.ReleaseGraph();
    StopBroadcast();
    testdevices::ClearFakeDevices();

    EXPECT_NE(probed.find("codec_name=wmv2|width=320|height=240"), std::string::npos) << probed;
    const std::string rgb = TestDir::Read(rawFile);
    ASSERT_EQ(rgb.size(), 30 * kFrameBytes) << decodeLog;
    // The 16:9 picture fills the width; black bands of 30 rows above and below.
    const auto *last = reinterpret_cast<const unsigned char *>(rgb.data()) + 29 * kFrameBytes;
    EXPECT_GT(MeanColour(last, kWidth, 0, 40, kWidth, 160).g, 200);
    EXPECT_LT(MeanColour(last, kWidth, 0, 0, kWidth, 26).g, 40);
    EXPECT_LT(MeanColour(last, kWidth, 0, 214, kWidth, 26).g, 40);
    const std::string log = Log();
    EXPECT_EQ(log.find("Failed to WriteSample"), std::string::npos) << log;
}
