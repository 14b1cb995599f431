// The video capture graph against the in-process test cameras: format
// negotiation with its log lines, device look-up, frames in the sink and the
// release order.
#include "CVideo.h"
#include "CaptureGraph.h"
#include "CaptureTestSupport.h"
#include "TestDevices.h"

#include <gst/app/gstappsink.h>

#include <atomic>
#include <csignal>
#include <filesystem>

#include <sys/wait.h>
#include <unistd.h>

using testdevices::Camera;
using testdevices::FakeDevice;
using testdevices::SetFakeDevices;

namespace {

const char *kWarning = "★★ 경고 ★★";
const char *kWarn4 = "★★ 경고 ★★ 4차 연결시도 실패 (1차 수동연결 실패 : RGB)\n";
const char *kWarn5 = "★★ 경고 ★★ 5차 연결시도 실패 (2차 수동연결 실패 : I420)\n";
const char *kWarn6 = "★★ 경고 ★★ 6차 연결시도 실패 (3차 수동연결 실패 : IYUV)\n";
const char *kNoStreamConfig = "비디오캡쳐 필터에서 IAMStreamConfig 인터페이스를 지원하지 않음\n";
const char *kResizeLine = "자동으로 포멧셋팅을 할 수 없는 환경이므로 스케일러 필터를 통해 강제로 리사이즈하도록 셋팅\n";

class VideoGraph : public ::testing::Test {
protected:
    void SetUp() override { VideoFrames().Reset(); }
    void TearDown() override
    {
        video.ReleaseGraph();
        testdevices::ClearFakeDevices();
    }

    // Builds, runs and waits for a few frames; returns the first frame.
    std::vector<unsigned char> RunAndTakeFrame(long frames = 3)
    {
        EXPECT_EQ(video.RunGraph(), S_OK);
        EXPECT_TRUE(VideoFrames().WaitFor(frames));
        std::lock_guard<std::mutex> lock(VideoFrames().mutex);
        return VideoFrames().buffers.empty() ? std::vector<unsigned char>{} : VideoFrames().buffers.back();
    }

    LogCapture log;
    CVideo video;
};

// Takes one 320x240 frame of a test pattern straight from GStreamer, top-down
// as GStreamer lays rows, to compare the graph's bottom-up frames with.
std::vector<unsigned char> ReferenceFrame(const char *pattern)
{
    const std::string line = std::string("videotestsrc num-buffers=1 pattern=") + pattern +
                             " ! video/x-raw,format=BGR,width=320,height=240 ! appsink name=out";
    platform::PipelineHolder pipe(gst_parse_launch(line.c_str(), nullptr));
    platform::GstPtr<GstElement> out(gst_bin_get_by_name(pipe.bin(), "out"));
    gst_element_set_state(pipe.get(), GST_STATE_PLAYING);
    platform::GstSamplePtr sample(gst_app_sink_pull_sample(GST_APP_SINK(out.get())));
    std::vector<unsigned char> bytes;
    if (sample) {
        platform::BufferMap map(gst_sample_get_buffer(sample.get()), GST_MAP_READ);
        bytes.assign(map.data(), map.data() + map.size());
    }
    return bytes;
}

const unsigned char *Pixel(const std::vector<unsigned char> &frame, int x, int row)
{
    return frame.data() + static_cast<std::size_t>(row) * 960 + static_cast<std::size_t>(x) * 3;
}

class PreviewRecorder : public IPreviewTarget {
public:
    PreviewRect GetClientRect() const override { return PreviewRect{0, 0, 400, 300}; }
    void PresentFrame(const unsigned char *, int width, int height, int stride) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++frames;
        lastWidth = width;
        lastHeight = height;
        lastStride = stride;
    }
    int Frames()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return frames;
    }
    std::mutex mutex;
    int frames = 0, lastWidth = 0, lastHeight = 0, lastStride = 0;
};

} // namespace

TEST_F(VideoGraph, Attempt1Picks320x240RgbWithoutWarnings)
{
    SetFakeDevices({Camera("Cam RGB", "video/x-raw,format=I420,width=640,height=480,framerate=30/1;"
                                      "video/x-raw,format=BGR,width=320,height=240,framerate=30/1")});
    ASSERT_EQ(video.InitVideoDevice("Cam RGB"), S_FALSE) << "no preview window: the preview step gives S_FALSE";
    ASSERT_EQ(video.FormatList().size(), 2u);
    EXPECT_EQ(video.FormatList()[1].bmiHeader.biCompression, BI_RGB);
    EXPECT_EQ(video.FormatList()[0].bmiHeader.biCompression, FOURCC_I420);
    CMediaType current;
    ASSERT_EQ(video.m_pStreamConfig->GetFormat(current), S_OK);
    EXPECT_EQ(current.bmiHeader.biCompression, BI_RGB);
    EXPECT_EQ(current.bmiHeader.biWidth, 320);
    EXPECT_EQ(log.Count(kWarning), 0u);
    EXPECT_FALSE(log.Contains(kNoStreamConfig));
    video.SetVideoSink(&VideoSink);
}

TEST_F(VideoGraph, Attempt2Picks320x240InTheCurrentCompression)
{
    // No RGB 320x240: the camera's current compression (I420, its first
    // mode) at 320x240 comes before the nearest RGB mode.
    SetFakeDevices({Camera("Cam YUV", "video/x-raw,format=I420,width=640,height=480,framerate=15/1;"
                                      "video/x-raw,format=BGR,width=352,height=288,framerate=15/1;"
                                      "video/x-raw,format=I420,width=320,height=240,framerate=15/1")});
    video.SetVideoSink(&VideoSink);
    ASSERT_TRUE(SUCCEEDED(video.InitVideoDevice("Cam YUV")));
    ASSERT_EQ(video.FormatList().size(), 3u);
    CMediaType current;
    ASSERT_EQ(video.m_pStreamConfig->GetFormat(current), S_OK);
    EXPECT_EQ(current.bmiHeader.biCompression, FOURCC_I420);
    EXPECT_EQ(current.bmiHeader.biWidth, 320);
    EXPECT_EQ(current.bmiHeader.biHeight, 240);
    EXPECT_EQ(log.Count(kWarning), 0u);
    EXPECT_EQ(RunAndTakeFrame().size(), 230400u);
}

TEST_F(VideoGraph, FramesAre230400BytesOfBottomUpBgr)
{
    SetFakeDevices({Camera("Cam RGB", "video/x-raw,format=BGR,width=320,height=240,framerate=30/1")});
    video.SetVideoSink(&VideoSink);
    ASSERT_TRUE(SUCCEEDED(video.InitVideoDevice("Cam RGB")));
    const std::vector<unsigned char> frame = RunAndTakeFrame();
    ASSERT_EQ(frame.size(), 230400u);
    {
        std::lock_guard<std::mutex> lock(VideoFrames().mutex);
        for (long size : VideoFrames().sizes)
            EXPECT_EQ(size, 230400);
    }
    const std::vector<unsigned char> reference = ReferenceFrame("smpte");
    ASSERT_EQ(reference.size(), 230400u);
    // The picture's top-left is the white bar; in a bottom-up frame that is
    // the last row in memory. The bottom-left of the pattern is the dark
    // blue -I block, the first row in memory.
    const unsigned char *topLeft = Pixel(frame, 0, 239);
    EXPECT_EQ(topLeft[0], 255);
    EXPECT_EQ(topLeft[1], 255);
    EXPECT_EQ(topLeft[2], 255);
    const unsigned char *bottomLeft = Pixel(frame, 0, 0);
    EXPECT_GT(bottomLeft[0], bottomLeft[2]) << "more blue than red";
    EXPECT_LT(bottomLeft[1], 128);
    // The pattern's bottom-right corner is noise; compare left of it.
    for (int row : {0, 10, 200, 239})
        for (int x : {0, 60, 200})
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(Pixel(frame, x, row)[c], Pixel(reference, x, 239 - row)[c])
                    << "row " << row << " x " << x;
    // Bottom and top of the pattern differ, so the comparison above means something.
    EXPECT_NE(std::vector<unsigned char>(Pixel(frame, 0, 0), Pixel(frame, 0, 0) + 3),
              std::vector<unsigned char>(Pixel(frame, 0, 239), Pixel(frame, 0, 239) + 3));
}

TEST_F(VideoGraph, ListWithout320x240PicksNearestAndConvertsToRgb)
{
    SetFakeDevices({Camera("Cam Big", "video/x-raw,format=YUY2,width=640,height=480,framerate=15/1;"
                                      "video/x-raw,format=YUY2,width=352,height=288,framerate=15/1")});
    video.SetVideoSink(&VideoSink);
    ASSERT_TRUE(SUCCEEDED(video.InitVideoDevice("Cam Big")));
    CMediaType current;
    ASSERT_EQ(video.m_pStreamConfig->GetFormat(current), S_OK);
    EXPECT_EQ(current.bmiHeader.biWidth, 352);
    EXPECT_EQ(current.bmiHeader.biHeight, 288);
    EXPECT_EQ(log.Count(kWarning), 0u);
    const std::vector<unsigned char> frame = RunAndTakeFrame();
    EXPECT_EQ(frame.size(), 230400u) << "scaled to the writer's size";
}

// Cameras whose only modes are larger or of another shape: the sink gets
// 320x240 frames with the whole picture between black borders, while the
// preview shows the camera's own frames.
TEST_F(VideoGraph, CamerasWithout320x240DeliverScaledFramesWithBorders)
{
    struct Case {
        const char *name;
        const char *caps;
        int width, height; // the camera's mode
        int left, top;     // where the picture starts in the 320x240 frame
    };
    const Case cases[] = {
        {"Cam CIF", "video/x-raw,format=I420,width=352,height=288,framerate=15/1", 352, 288, 14, 0},
        {"Cam HD", "video/x-raw,format=I420,width=1280,height=720,framerate=15/1", 1280, 720, 0, 30},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeDevice cam = Camera(c.name, c.caps);
        cam.pattern = "white";
        SetFakeDevices({cam});
        VideoFrames().Reset();
        PreviewRecorder preview;
        video.SetPreviewWindow(&preview);
        video.SetVideoSink(&VideoSink);
        ASSERT_EQ(video.InitVideoDevice(c.name), S_OK);
        const std::vector<unsigned char> frame = RunAndTakeFrame();
        {
            std::lock_guard<std::mutex> lock(VideoFrames().mutex);
            for (long size : VideoFrames().sizes)
                EXPECT_EQ(size, 230400);
        }
        ASSERT_EQ(frame.size(), 230400u);
        auto brightness = [&](int x, int row) {
            const unsigned char *p = Pixel(frame, x, row);
            return (p[0] + p[1] + p[2]) / 3;
        };
        // The picture (white) fills the middle, the borders are black.
        EXPECT_GT(brightness(160, 120), 230);
        EXPECT_GT(brightness(c.left + 2, 120), 230);
        EXPECT_GT(brightness(160, c.top + 2), 230);
        EXPECT_GT(brightness(319 - c.left - 2, 237 - c.top), 230);
        if (c.left > 0) {
            EXPECT_LT(brightness(c.left - 2, 120), 20);
            EXPECT_LT(brightness(319 - c.left + 2, 120), 20);
        }
        if (c.top > 0) {
            EXPECT_LT(brightness(160, c.top - 2), 20);
            EXPECT_LT(brightness(160, 239 - c.top + 2), 20);
        }
        for (int i = 0; i < 300 && preview.Frames() < 1; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(preview.lastWidth, c.width);
        EXPECT_EQ(preview.lastHeight, c.height);
        video.ReleaseGraph();
    }
}

TEST_F(VideoGraph, NearestFormatTiesFromADevice)
{
    SetFakeDevices({Camera("Cam Tie", "video/x-raw,format=BGR,width=400,height=300;"
                                      "video/x-raw,format=BGR,width=240,height=180"),
                    Camera("Cam Other", "video/x-raw,format=BGR,width=400,height=250;"
                                        "video/x-raw,format=BGR,width=330,height=300")});
    video.SetVideoSink(&VideoSink);
    CMediaType current;
    // Equally near: the first listed.
    ASSERT_TRUE(SUCCEEDED(video.InitVideoDevice("Cam Tie")));
    ASSERT_EQ(video.m_pStreamConfig->GetFormat(current), S_OK);
    EXPECT_EQ(current.bmiHeader.biWidth, 400);
    EXPECT_EQ(RunAndTakeFrame().size(), 230400u);
    video.ReleaseGraph();
    // The later entry is nearer in width: it wins although farther in height.
    VideoFrames().Reset();
    ASSERT_TRUE(SUCCEEDED(video.InitVideoDevice("Cam Other")));
    ASSERT_EQ(video.m_pStreamConfig->GetFormat(current), S_OK);
    EXPECT_EQ(current.bmiHeader.biWidth, 330);
    EXPECT_EQ(current.bmiHeader.biHeight, 300);
    // Rows of 330 pixels are padded to whole 32-bit words (990 -> 992 bytes);
    // the scaled frame has none.
    EXPECT_EQ(RunAndTakeFrame().size(), 230400u);
    EXPECT_EQ(log.Count(kWarning), 0u);
}

TEST_F(VideoGraph, TopDownFormatIsFoundByAbsoluteHeight)
{
    SetFakeDevices({Camera("Cam TD", "video/x-raw,format=I420,width=640,height=480;"
                                     "video/x-raw,format=BGR,width=320,height=240,top-down=true")});
    video.SetVideoSink(&VideoSink);
    ASSERT_TRUE(SUCCEEDED(video.InitVideoDevice("Cam TD")));
    ASSERT_EQ(video.FormatList().size(), 2u);
    EXPECT_EQ(video.FormatList()[1].bmiHeader.biHeight, -240);
    EXPECT_EQ(video.FindFormat(BI_RGB, 320, 240), 1);
    CMediaType current;
    ASSERT_EQ(video.m_pStreamConfig->GetFormat(current), S_OK);
    EXPECT_EQ(current.bmiHeader.biCompression, BI_RGB);
    EXPECT_EQ(log.Count(kWarning), 0u);
    EXPECT_EQ(RunAndTakeFrame().size(), 230400u);
}

TEST_F(VideoGraph, SourceRefusingEveryFormatLogsAttempts4To6AndStillBuilds)
{
    // Only ranges: the device lists no single type, and it gives YUY2 only.
    SetFakeDevices({Camera("Cam Stubborn",
                           "video/x-raw,format=YUY2,width=[400,640],height=[300,480],framerate=15/1")});
    video.SetVideoSink(&VideoSink);
    ASSERT_TRUE(SUCCEEDED(video.InitVideoDevice("Cam Stubborn")));
    EXPECT_TRUE(video.FormatList().empty());
    const std::string text = log.Text();
    const std::size_t at4 = text.find(kWarn4), at5 = text.find(kWarn5), at6 = text.find(kWarn6);
    ASSERT_NE(at4, std::string::npos) << text;
    ASSERT_NE(at5, std::string::npos);
    ASSERT_NE(at6, std::string::npos);
    EXPECT_LT(at4, at5);
    EXPECT_LT(at5, at6);
    // The source keeps its own format (the test source settles on the size
    // nearest 320x240 it can give); the sink still gets 320x240 RGB24.
    EXPECT_EQ(RunAndTakeFrame().size(), 230400u);
}

TEST_F(VideoGraph, SourceWithoutFormatControlLogsBothLinesAndStillPreviews)
{
    FakeDevice cam = Camera("Cam Plain", "");
    cam.producedCaps = "video/x-raw,format=I420,width=176,height=144,framerate=15/1";
    SetFakeDevices({cam});
    video.SetVideoSink(&VideoSink);
    ASSERT_TRUE(SUCCEEDED(video.InitVideoDevice("Cam Plain")));
    EXPECT_EQ(video.m_pStreamConfig, nullptr);
    const std::string text = log.Text();
    const std::size_t missing = text.find(kNoStreamConfig);
    const std::size_t resize = text.find(kResizeLine);
    ASSERT_NE(missing, std::string::npos) << text;
    ASSERT_NE(resize, std::string::npos) << text;
    EXPECT_LT(missing, resize);
    EXPECT_EQ(log.Count(kWarning), 0u);
    EXPECT_EQ(RunAndTakeFrame().size(), 230400u);
}

TEST_F(VideoGraph, NullOrOverlongNameBuildsNothing)
{
    EXPECT_EQ(video.InitVideoDevice(nullptr), 1);
    EXPECT_EQ(video.InitVideoDevice(std::string(261, 'x').c_str()), S_FALSE);
    EXPECT_EQ(video.m_pGraph, nullptr);
    EXPECT_EQ(video.m_pVideoCapture, nullptr);
}

TEST_F(VideoGraph, UnknownCameraFailsWithTheDeviceLine)
{
    SetFakeDevices({Camera("Cam A", "video/x-raw,format=BGR,width=320,height=240")});
    EXPECT_EQ(video.InitVideoDevice("Cam B"), E_FAIL);
    EXPECT_TRUE(log.Contains("Couldn't create CLSID_VideoInputDeviceCategory (hr=0x80004005).\n"));
    EXPECT_EQ(video.m_pGraph, nullptr);
}

TEST_F(VideoGraph, TwoCamerasWithOneNameUseTheFirstThatBinds)
{
    FakeDevice broken = Camera("Twin", "video/x-raw,format=I420,width=640,height=480");
    broken.bindable = false;
    FakeDevice second = Camera("Twin", "video/x-raw,format=BGR,width=320,height=240");
    FakeDevice third = Camera("Twin", "video/x-raw,format=YUY2,width=176,height=144");
    SetFakeDevices({broken, second, third});

    std::shared_ptr<CCaptureFilter> filter;
    std::uint16_t index = 0;
    ASSERT_EQ(FindCaptureDevice(DeviceCategory::VideoInput, "Twin", filter, index), S_OK);
    EXPECT_EQ(index, 1);

    ASSERT_TRUE(SUCCEEDED(video.InitVideoDevice("Twin")));
    ASSERT_EQ(video.FormatList().size(), 1u);
    EXPECT_EQ(video.FormatList()[0].bmiHeader.biCompression, BI_RGB);
}

TEST_F(VideoGraph, FindCaptureDeviceResults)
{
    SetFakeDevices({Camera("Cam A", "video/x-raw,format=BGR,width=320,height=240"),
                    Camera("카메라 B", "video/x-raw,format=BGR,width=320,height=240")});
    std::shared_ptr<CCaptureFilter> filter;
    std::uint16_t index = 7;
    EXPECT_EQ(FindCaptureDevice(DeviceCategory::VideoInput, nullptr, filter, index), S_FALSE);
    EXPECT_EQ(FindCaptureDevice(DeviceCategory::VideoInput, std::string(300, 'a').c_str(), filter, index),
              E_FAIL);
    EXPECT_EQ(index, kDeviceNotFound);
    // Case-sensitive, byte for byte.
    EXPECT_EQ(FindCaptureDevice(DeviceCategory::VideoInput, "cam a", filter, index), E_FAIL);
    EXPECT_EQ(index, kDeviceNotFound);
    EXPECT_EQ(filter, nullptr);
    // Korean names compare in CP949 and are found.
    ASSERT_EQ(FindCaptureDevice(DeviceCategory::VideoInput, "카메라 B", filter, index), S_OK);
    EXPECT_EQ(index, 1);
    EXPECT_NE(filter, nullptr);
    // Cameras are not microphones.
    EXPECT_EQ(FindCaptureDevice(DeviceCategory::AudioInput, "Cam A", filter, index), E_FAIL);
}

TEST_F(VideoGraph, RebuildingForAnotherCameraKeepsOnlyItsFormats)
{
    SetFakeDevices({Camera("Cam A", "video/x-raw,format=I420,width=640,height=480;"
                                    "video/x-raw,format=BGR,width=320,height=240"),
                    Camera("Cam B", "video/x-raw,format=YUY2,width=176,height=144")});
    ASSERT_TRUE(SUCCEEDED(video.InitVideoDevice("Cam A")));
    EXPECT_EQ(video.FormatList().size(), 2u);
    video.ReleaseGraph();
    EXPECT_TRUE(video.FormatList().empty());
    ASSERT_TRUE(SUCCEEDED(video.InitVideoDevice("Cam B")));
    ASSERT_EQ(video.FormatList().size(), 1u);
    EXPECT_EQ(video.FormatList()[0].bmiHeader.biCompression, MakeFourCC('Y', 'U', 'Y', '2'));
    // Even without the release in between, a build lists only its own camera.
    ASSERT_TRUE(SUCCEEDED(video.InitVideoDevice("Cam A")));
    EXPECT_EQ(video.FormatList().size(), 2u);
}

TEST_F(VideoGraph, NoFrameReachesTheSinkAfterRelease)
{
    SetFakeDevices({Camera("Cam RGB", "video/x-raw,format=BGR,width=320,height=240,framerate=60/1")});
    video.SetVideoSink(&VideoSink);
    ASSERT_TRUE(SUCCEEDED(video.InitVideoDevice("Cam RGB")));
    RunAndTakeFrame(5);
    EXPECT_EQ(video.ReleaseGraph(), 0);
    EXPECT_EQ(video.CurrentSink(), nullptr);
    EXPECT_EQ(video.m_pGraph, nullptr);
    EXPECT_EQ(video.m_pGrabber, nullptr);
    const long after = VideoFrames().Calls();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(VideoFrames().Calls(), after);
}

TEST_F(VideoGraph, EmptyObjectReleasesWithZeroAndCannotRun)
{
    EXPECT_EQ(video.ReleaseGraph(), 0);
    EXPECT_EQ(video.ReleaseGraph(), 0);
    EXPECT_EQ(video.RunGraph(), E_FAIL);
}

TEST_F(VideoGraph, ScreenGraphRunsHeadlessWith320x240Frames)
{
    video.SetVideoSink(&VideoSink);
    ASSERT_TRUE(SUCCEEDED(video.InitScreenCapture()));
    EXPECT_TRUE(log.Contains("synthetic desktop"));
    // Built and already running: frames arrive without RunGraph. (The first
    // clock overlay of a process may build the font cache: allow for it.)
    ASSERT_TRUE(VideoFrames().WaitFor(2, std::chrono::seconds(60)));
    std::lock_guard<std::mutex> lock(VideoFrames().mutex);
    for (long size : VideoFrames().sizes)
        EXPECT_EQ(size, 230400);
    // The screen graph never fills the format list; attempt 4 set the size.
    EXPECT_TRUE(video.FormatList().empty());
    EXPECT_EQ(log.Count(kWarning), 0u);
}

TEST_F(VideoGraph, ScreenAfterCameraLeavesNoCameraFormats)
{
    SetFakeDevices({Camera("Cam A", "video/x-raw,format=BGR,width=320,height=240")});
    ASSERT_TRUE(SUCCEEDED(video.InitVideoDevice("Cam A")));
    video.ReleaseGraph();
    ASSERT_TRUE(SUCCEEDED(video.InitScreenCapture()));
    EXPECT_TRUE(video.FormatList().empty());
    EXPECT_EQ(video.m_pVideoCapture, nullptr);
    EXPECT_NE(video.m_pScreenSource, nullptr);
}

TEST_F(VideoGraph, RendererPaintsIntoThePreviewTargetUntilReleased)
{
    SetFakeDevices({Camera("Cam RGB", "video/x-raw,format=BGR,width=320,height=240,framerate=60/1")});
    PreviewRecorder preview;
    video.SetPreviewWindow(&preview);
    ASSERT_EQ(video.InitVideoDevice("Cam RGB"), S_OK) << "a preview window makes the preview step succeed";
    CVideoRenderer *window = video.m_pGraph->QueryVideoWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->get_Owner(), &preview);
    EXPECT_EQ(window->get_WindowStyle(), WS_CHILD);
    EXPECT_EQ(window->WindowPosition().right, 400);
    EXPECT_EQ(window->WindowPosition().bottom, 300);
    ASSERT_EQ(video.RunGraph(), S_OK);
    for (int i = 0; i < 200 && preview.Frames() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(preview.Frames(), 3);
    EXPECT_EQ(preview.lastWidth, 320);
    EXPECT_EQ(preview.lastHeight, 240);
    EXPECT_GE(preview.lastStride, 960);
    video.ReleaseGraph();
    const int after = preview.Frames();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(preview.Frames(), after);
}

TEST_F(VideoGraph, SourceWithoutFormatControlPreviewsInItsOwnSize)
{
    FakeDevice cam = Camera("Cam Plain", "");
    cam.producedCaps = "video/x-raw,format=I420,width=176,height=144,framerate=30/1";
    SetFakeDevices({cam});
    PreviewRecorder preview;
    video.SetPreviewWindow(&preview);
    ASSERT_EQ(video.InitVideoDevice("Cam Plain"), S_OK);
    ASSERT_EQ(video.RunGraph(), S_OK);
    for (int i = 0; i < 300 && preview.Frames() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(preview.Frames(), 2);
    EXPECT_EQ(preview.lastWidth, 176);
    EXPECT_EQ(preview.lastHeight, 144);
}

TEST_F(VideoGraph, BuildRunAndRelease100Times)
{
    SetFakeDevices({Camera("Cam RGB", "video/x-raw,format=BGR,width=320,height=240,framerate=60/1")});
    video.SetVideoSink(&VideoSink);
    for (int i = 0; i < 100; ++i) {
        VideoFrames().Reset();
        ASSERT_TRUE(SUCCEEDED(video.InitVideoDevice("Cam RGB"))) << "round " << i;
        // Every GStreamer object of the graph must be gone after the release.
        gpointer watched[] = {video.m_pGraph->Pipeline(), video.m_pVideoCapture->Element(),
                              video.m_pGrabber->Element(), video.m_pRenderer->Element()};
        for (gpointer &object : watched)
            g_object_add_weak_pointer(G_OBJECT(object), &object);
        ASSERT_EQ(video.RunGraph(), S_OK);
        ASSERT_TRUE(VideoFrames().WaitFor(1)) << "round " << i;
        ASSERT_EQ(video.ReleaseGraph(), 0);
        for (gpointer &object : watched)
            ASSERT_EQ(object, nullptr) << "round " << i << " object " << (&object - watched);
    }
}

namespace {

// A private X server for one test, on a display number nobody uses.
class XvfbServer {
public:
    XvfbServer()
    {
        for (int n = 90 + ::getpid() % 50; n < 200 && m_pid <= 0; ++n) {
            const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
            if (std::filesystem::exists(socket) || std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock"))
                continue;
            const std::string display = ":" + std::to_string(n);
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp",
                         static_cast<char *>(nullptr));
                ::_exit(127);
            }
            m_pid = pid;
            m_display = display;
            for (int i = 0; i < 100 && !std::filesystem::exists(socket); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            m_ready = std::filesystem::exists(socket);
        }
    }
    ~XvfbServer()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }
    bool Ready() const { return m_ready; }
    const std::string &Display() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
    bool m_ready = false;
};

} // namespace

TEST_F(VideoGraph, ScreenGraphGrabsTheXDisplayWhenOneAnswers)
{
    XvfbServer x;
    if (!x.Ready())
        GTEST_SKIP() << "Xvfb did not start";
    setenv("DISPLAY", x.Display().c_str(), 1);
    video.SetVideoSink(&VideoSink);
    const HRESULT hr = video.InitScreenCapture();
    EXPECT_TRUE(SUCCEEDED(hr));
    EXPECT_TRUE(log.Contains("Screen source: ximagesrc on display " + x.Display())) << log.Text();
    EXPECT_TRUE(VideoFrames().WaitFor(2));
    {
        std::lock_guard<std::mutex> lock(VideoFrames().mutex);
        for (long size : VideoFrames().sizes)
            EXPECT_EQ(size, 230400);
    }
    video.ReleaseGraph();
    unsetenv("DISPLAY");
}
