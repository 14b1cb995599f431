// The format-list searches of the video graph and the mapping between caps
// and media types they rely on.
#include "CVideo.h"
#include "platform/GstInit.h"

#include <gtest/gtest.h>

namespace {

const std::uint32_t YUY2 = MakeFourCC('Y', 'U', 'Y', '2');

CMediaType Entry(std::uint32_t compression, int width, int height)
{
    CMediaType mt;
    mt.majortype = MajorType::Video;
    mt.formattype = FormatType::VideoInfo;
    mt.bmiHeader.biCompression = compression;
    mt.bmiHeader.biWidth = width;
    mt.bmiHeader.biHeight = height;
    mt.bmiHeader.biBitCount = 24;
    return mt;
}

int Nearest(std::vector<CMediaType> list)
{
    CVideo video;
    video.SetFormatListForTest(std::move(list));
    return video.FindNearestFormat(BI_RGB, 320, 240);
}

} // namespace

TEST(FormatSearch, FindFormatMatchesCompressionWidthAndAbsoluteHeight)
{
    CVideo video;
    EXPECT_EQ(video.FindFormat(BI_RGB, 320, 240), -1) << "empty list";
    video.SetFormatListForTest({Entry(YUY2, 320, 240), Entry(BI_RGB, 320, -240), Entry(BI_RGB, 320, 240)});
    EXPECT_EQ(video.FindFormat(BI_RGB, 320, 240), 1) << "top-down entry matches first";
    EXPECT_EQ(video.FindFormat(BI_RGB, 320, -240), 1);
    EXPECT_EQ(video.FindFormat(YUY2, 320, 240), 0);
    EXPECT_EQ(video.FindFormat(FOURCC_I420, 320, 240), -1);
    EXPECT_EQ(video.FindFormat(BI_RGB, 240, 320), -1);
}

TEST(FormatSearch, NearestPrefersTheWantedCompressionGroup)
{
    // The YUY2 entry is closer, but an RGB entry exists.
    EXPECT_EQ(Nearest({Entry(YUY2, 322, 242), Entry(BI_RGB, 640, 480)}), 1);
    // No RGB at all: the nearest of the others.
    EXPECT_EQ(Nearest({Entry(YUY2, 640, 480), Entry(YUY2, 352, 288), Entry(YUY2, 1280, 720)}), 1);
    // An exact match wins outright.
    EXPECT_EQ(Nearest({Entry(BI_RGB, 330, 250), Entry(BI_RGB, 320, 240)}), 1);
    EXPECT_EQ(Nearest({}), -1);
}

TEST(FormatSearch, NearestTiesKeepTheFirstUnlessALaterIsNearerInTheOtherDimension)
{
    // Equally near in both dimensions: the first stays.
    EXPECT_EQ(Nearest({Entry(BI_RGB, 400, 300), Entry(BI_RGB, 240, 180)}), 0);
    // The later entry is nearer in width though farther in height: it wins.
    EXPECT_EQ(Nearest({Entry(BI_RGB, 400, 250), Entry(BI_RGB, 330, 300)}), 1);
    // A later entry farther in both dimensions never replaces.
    EXPECT_EQ(Nearest({Entry(BI_RGB, 352, 288), Entry(BI_RGB, 640, 480), Entry(BI_RGB, 176, 144)}), 0);
    // Height is compared by absolute value.
    EXPECT_EQ(Nearest({Entry(BI_RGB, 640, 480), Entry(BI_RGB, 352, -288)}), 1);
}

TEST(MediaType, CapsStructuresBecomeDibHeaders)
{
    platform::EnsureGstInit();
    auto read = [](const char *text) {
        platform::GstCapsPtr caps(gst_caps_from_string(text));
        return CMediaType::FromStructure(gst_caps_get_structure(caps.get(), 0));
    };
    auto bgr = read("video/x-raw,format=BGR,width=320,height=240,framerate=30/1");
    ASSERT_TRUE(bgr);
    EXPECT_EQ(bgr->bmiHeader.biCompression, BI_RGB);
    EXPECT_EQ(bgr->bmiHeader.biBitCount, 24);
    EXPECT_EQ(bgr->bmiHeader.biHeight, 240);
    EXPECT_EQ(bgr->bmiHeader.biSizeImage, 230400u);
    EXPECT_EQ(bgr->frameRateNum, 30);
    EXPECT_EQ(read("video/x-raw,format=BGR,width=320,height=240,top-down=true")->bmiHeader.biHeight, -240);
    EXPECT_EQ(read("video/x-raw,format=BGRx,width=16,height=16")->bmiHeader.biBitCount, 32);
    EXPECT_EQ(read("video/x-raw,format=I420,width=16,height=16")->bmiHeader.biCompression, FOURCC_I420);
    EXPECT_EQ(read("video/x-raw,format=YUY2,width=16,height=16")->bmiHeader.biCompression, YUY2);
    EXPECT_EQ(read("image/jpeg,width=16,height=16")->bmiHeader.biCompression, FOURCC_MJPG);
    EXPECT_FALSE(read("video/x-raw,format=BGR,width=[16,32],height=16")) << "a range is not one type";
    EXPECT_FALSE(read("video/x-raw,width=16,height=16")) << "no format";
    auto pcm = read("audio/x-raw,format=S16LE,rate=32000,channels=2,layout=interleaved");
    ASSERT_TRUE(pcm);
    EXPECT_EQ(pcm->wfx.nBlockAlign, 4);
    EXPECT_EQ(pcm->wfx.nAvgBytesPerSec, 128000u);
    EXPECT_EQ(pcm->wfx.wBitsPerSample, 16);
}

TEST(MediaType, ManualAttemptTypesAskForTheRightFormats)
{
    platform::EnsureGstInit();
    CMediaType mt = Entry(BI_RGB, 320, 240);
    auto formatOf = [](const CMediaType &t) {
        platform::GstCapsPtr caps = t.ToCaps();
        if (!caps)
            return std::string("(none)");
        const char *f = gst_structure_get_string(gst_caps_get_structure(caps.get(), 0), "format");
        return std::string(f ? f : "");
    };
    EXPECT_EQ(formatOf(mt), "BGR");
    mt.bmiHeader.biCompression = FOURCC_I420;
    EXPECT_EQ(formatOf(mt), "I420");
    mt.bmiHeader.biCompression = FOURCC_IYUV;
    EXPECT_EQ(formatOf(mt), "I420") << "IYUV is the same layout";
    mt.bmiHeader.biCompression = MakeFourCC('Z', 'Z', 'Z', 'Z');
    EXPECT_EQ(formatOf(mt), "(none)");
    // Top-down heights ask for the same size.
    CMediaType topDown = Entry(BI_RGB, 320, -240);
    platform::GstCapsPtr caps = topDown.ToCaps();
    int height = 0;
    gst_structure_get_int(gst_caps_get_structure(caps.get(), 0), "height", &height);
    EXPECT_EQ(height, 240);
}
