// Connecting filters: direct links, converters inserted where the formats
// differ, and the refusals that make a build fail.
#include "CSampleGrabber.h"
#include "CaptureGraph.h"
#include "CaptureTestSupport.h"
#include "TestDevices.h"

#include "platform/GstInit.h"

using testdevices::Camera;
using testdevices::Microphone;
using testdevices::SetFakeDevices;

namespace {

class GraphConnect : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetFakeDevices({Camera("Cam", "video/x-raw,format=I420,width=320,height=240"),
                        Microphone("Mic", "audio/x-raw,format=S16LE,rate=32000,channels=2,layout=interleaved")});
    }
    void TearDown() override { testdevices::ClearFakeDevices(); }

    std::shared_ptr<CCaptureFilter> Bind(DeviceCategory category, const char *name)
    {
        std::shared_ptr<CCaptureFilter> filter;
        std::uint16_t index = 0;
        EXPECT_EQ(FindCaptureDevice(category, name, filter, index), S_OK);
        return filter;
    }
    std::shared_ptr<CSampleGrabber> RgbGrabber()
    {
        std::shared_ptr<CSampleGrabber> grabber;
        EXPECT_EQ(CSampleGrabber::Create(grabber), S_OK);
        grabber->SetMediaType(CMediaType::Rgb24Video());
        return grabber;
    }
    std::size_t ElementCount(CGraph &graph)
    {
        return GST_BIN(graph.Pipeline())->numchildren;
    }
};

} // namespace

TEST_F(GraphConnect, DifferentFormatsGetConvertersBetween)
{
    CGraph graph("Video");
    auto cam = Bind(DeviceCategory::VideoInput, "Cam");
    auto grabber = RgbGrabber();
    ASSERT_EQ(graph.AddFilter(cam, "Video Capture"), S_OK);
    ASSERT_EQ(graph.AddFilter(grabber, "Sample Grabber"), S_OK);
    EXPECT_EQ(ConnectFilters(graph, *cam, *grabber), S_OK);
    EXPECT_EQ(ElementCount(graph), 4u) << "videoconvert and videoscale were added";
    // Everything is connected now: a second call has no free pair left.
    EXPECT_EQ(ConnectFilters(graph, *cam, *grabber), E_FAIL);
}

TEST_F(GraphConnect, AudioCannotFeedTheRgbGrabber)
{
    CGraph graph("Video");
    auto mic = Bind(DeviceCategory::AudioInput, "Mic");
    auto grabber = RgbGrabber();
    ASSERT_EQ(graph.AddFilter(mic, "Mic"), S_OK);
    ASSERT_EQ(graph.AddFilter(grabber, "Sample Grabber"), S_OK);
    EXPECT_EQ(ConnectFilters(graph, *mic, *grabber), E_FAIL);
    EXPECT_EQ(ElementCount(graph), 2u) << "converters tried on the way are taken out again";
}

TEST_F(GraphConnect, FiltersOutsideTheGraphDoNotConnect)
{
    CGraph graph("Video");
    auto cam = Bind(DeviceCategory::VideoInput, "Cam");
    auto grabber = RgbGrabber();
    ASSERT_EQ(graph.AddFilter(cam, "Video Capture"), S_OK);
    EXPECT_EQ(ConnectFilters(graph, *cam, *grabber), E_FAIL);
    platform::GstPtr<GstPad> out, in;
    ASSERT_EQ(cam->GetPin(PinDirection::Output, 0, out), S_OK);
    ASSERT_EQ(grabber->GetPin(PinDirection::Input, 0, in), S_OK);
    EXPECT_EQ(graph.Connect(out.get(), in.get()), VFW_E_NOT_IN_GRAPH);
    EXPECT_EQ(graph.Connect(nullptr, in.get()), E_POINTER);
    // A filter belongs to one graph.
    CGraph other("Video");
    EXPECT_EQ(other.AddFilter(cam, "Video Capture"), VFW_E_WRONG_STATE);
}

TEST_F(GraphConnect, GetPinCountsPinsOfOneDirection)
{
    auto grabber = RgbGrabber();
    platform::GstPtr<GstPad> pin;
    EXPECT_EQ(GetPin(grabber.get(), PinDirection::Input, 0, &pin), S_OK);
    EXPECT_EQ(GST_PAD_DIRECTION(pin.get()), GST_PAD_SINK);
    EXPECT_EQ(GetPin(grabber.get(), PinDirection::Output, 0, &pin), S_OK);
    EXPECT_EQ(GST_PAD_DIRECTION(pin.get()), GST_PAD_SRC);
    EXPECT_EQ(GetPin(grabber.get(), PinDirection::Output, 1, &pin), E_FAIL);
    EXPECT_EQ(GetPin(nullptr, PinDirection::Output, 0, &pin), E_FAIL);
    EXPECT_EQ(GetPin(grabber.get(), PinDirection::Output, 0, nullptr), E_FAIL);
}

TEST(SampleGrabberCallback, IsNotCountedAndForwardsToItsSink)
{
    static long got = 0;
    CSampleGrabberCallback cb;
    EXPECT_EQ(cb.AddRef(), 2u);
    EXPECT_EQ(cb.Release(), 1u);
    void *object = nullptr;
    EXPECT_EQ(cb.QueryInterface(InterfaceId::ISampleGrabberCB, &object), S_OK);
    EXPECT_EQ(object, &cb);
    EXPECT_EQ(cb.QueryInterface(InterfaceId::Other, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    const unsigned char bytes[8] = {};
    CMediaSample sample(bytes, 8);
    EXPECT_EQ(cb.SampleCB(0.5, &sample), S_OK) << "no sink: still S_OK";
    cb.SetSink([](double, const unsigned char *, long n) { got += n; });
    EXPECT_EQ(cb.SampleCB(0.5, &sample), S_OK);
    EXPECT_EQ(cb.BufferCB(0.5, bytes, 4), S_OK);
    EXPECT_EQ(got, 12);
}
