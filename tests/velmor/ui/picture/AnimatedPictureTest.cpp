// GIF files made here block by block, so every delay, offset, disposal and
// damage is exactly what the test says.
#include "CAnimatedPicture.h"
#include "GifFrames.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>

#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {


struct FrameSpec {
    int left, top, width, height;
    int delay;        // -1: no graphic control extension
    int disposal;
    int colour;       // palette index 0-3
};

void Put16(std::string &s, int v)
{
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
}

// Image data in uncompressed LZW: 3-bit codes, a clear code before every
// second pixel so the code width never grows.
std::string ImageData(int pixels, int colour)
{
    std::string out(1, '\x02'); // minimum code size
    std::string bytes;
    unsigned acc = 0;
    int bits = 0;
    auto emit = [&](unsigned code) {
        acc |= code << bits;
        bits += 3;
        while (bits >= 8) {
            bytes.push_back(static_cast<char>(acc & 0xFF));
            acc >>= 8;
            bits -= 8;
        }
    };
    for (int i = 0; i < pixels; ++i) {
        if (i % 2 == 0)
            emit(4);
        emit(static_cast<unsigned>(colour));
    }
    emit(5);
    if (bits > 0)
        bytes.push_back(static_cast<char>(acc & 0xFF));
    for (std::size_t at = 0; at < bytes.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, bytes.size() - at);
        out.push_back(static_cast<char>(n));
        out.append(bytes, at, n);
    }
    out.push_back('\0');
    return out;
}

std::string MakeGif(int width, int height, const std::vector<FrameSpec> &frames, bool withComment = true)
{
    std::string s = "GIF89a";
    Put16(s, width);
    Put16(s, height);
    s += '\x81'; // global colour table of 4 entries
    s += '\0';
    s += '\0';
    s += std::string("\xff\x00\x00" "\x00\xff\x00" "\x00\x00\xff" "\xff\xff\xff", 12);
    s += std::string("\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00", 19); // loop forever
    for (const FrameSpec &f : frames) {
        if (withComment)
            s += std::string("\x21\xfe\x03hi!\x00", 7);
        if (f.delay >= 0) {
            s += "\x21\xf9\x04";
            s += static_cast<char>((f.disposal & 7) << 2);
            Put16(s, f.delay);
            s += '\0';
            s += '\0';
        }
        s += '\x2c';
        Put16(s, f.left);
        Put16(s, f.top);
        Put16(s, f.width);
        Put16(s, f.height);
        s += '\0';
        s += ImageData(f.width * f.height, f.colour);
    }
    s += '\x3b';
    return s;
}

QByteArray Bytes(const std::string &s)
{
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

GifLayout Parse(const std::string &s)
{
    return ParseGif(reinterpret_cast<const std::uint8_t *>(s.data()), s.size());
}

} // namespace

TEST(GifFrames, ThreeFramesWithDelaysOffsetsAndDisposal)
{
    const std::string gif = MakeGif(8, 6, {{0, 0, 8, 6, 0, 0, 0}, {2, 1, 4, 3, 4, 2, 1}, {5, 3, 3, 3, 5, 3, 2}});
    GifLayout layout = Parse(gif);
    ASSERT_TRUE(layout.isGif);
    EXPECT_EQ(layout.width, 8);
    EXPECT_EQ(layout.height, 6);
    EXPECT_EQ(layout.headerSize, 13u + 12u);
    ASSERT_EQ(layout.frames.size(), 3u);
    EXPECT_EQ(layout.frames[1].left, 2);
    EXPECT_EQ(layout.frames[1].top, 1);
    EXPECT_EQ(layout.frames[1].width, 4);
    EXPECT_EQ(layout.frames[1].height, 3);
    EXPECT_EQ(layout.frames[0].delay, 0);
    EXPECT_EQ(layout.frames[1].delay, 4);
    EXPECT_EQ(layout.frames[2].delay, 5);
    EXPECT_EQ(layout.frames[1].disposal, 2);
    EXPECT_EQ(layout.frames[2].disposal, 3);
    EXPECT_EQ(CAnimatedPicture::FrameWaitMs(0), 100);
    EXPECT_EQ(CAnimatedPicture::FrameWaitMs(4), 100);
    EXPECT_EQ(CAnimatedPicture::FrameWaitMs(5), 50);
    EXPECT_EQ(CAnimatedPicture::FrameWaitMs(-1), -1);
    // Each cut-out frame is a GIF of its own that a plain decoder reads.
    for (const GifFrameBlock &f : layout.frames) {
        EXPECT_EQ(f.gif.substr(0, 6), "GIF89a");
        EXPECT_EQ(f.gif.back(), '\x3b');
        QImage img = QImage::fromData(Bytes(f.gif), "GIF");
        EXPECT_FALSE(img.isNull());
    }
}

TEST(GifFrames, FrameWithoutControlExtensionHasNoDelay)
{
    GifLayout layout = Parse(MakeGif(4, 4, {{0, 0, 4, 4, 10, 0, 0}, {0, 0, 4, 4, -1, 0, 1}}, false));
    ASSERT_EQ(layout.frames.size(), 2u);
    EXPECT_EQ(layout.frames[0].delay, 10);
    EXPECT_EQ(layout.frames[1].delay, -1);
}

TEST(GifFrames, DamagedFilesGiveOnlyWholeFrames)
{
    const std::string gif = MakeGif(8, 6, {{0, 0, 8, 6, 3, 0, 0}, {0, 0, 8, 6, 3, 0, 1}});
    const std::size_t full = Parse(gif).frames.size();
    ASSERT_EQ(full, 2u);
    // Every prefix parses without reading past its end and never gains frames.
    for (std::size_t cut = 0; cut < gif.size(); ++cut) {
        const std::string part = gif.substr(0, cut);
        std::vector<std::uint8_t> exact(part.begin(), part.end());
        GifLayout layout = ParseGif(exact.data(), exact.size());
        EXPECT_LE(layout.frames.size(), full);
    }
    // An unknown block ends the walk.
    std::string odd = gif;
    odd[13 + 12] = '\x21';
    odd[13 + 12 + 1] = '\x00';
    EXPECT_TRUE(Parse(odd).frames.empty());
    EXPECT_FALSE(Parse("GIF90a....").isGif);
}

class AnimatedPicture : public testing::Test {
protected:
    void SetUp() override { App<QApplication>(); }
};

TEST_F(AnimatedPicture, SingleFrameIsStillWithoutThread)
{
    CAnimatedPicture picture;
    picture.resize(40, 30);
    ASSERT_TRUE(picture.Load(Bytes(MakeGif(8, 6, {{0, 0, 8, 6, 10, 0, 2}}))));
    EXPECT_TRUE(picture.IsGIF());
    EXPECT_EQ(picture.FrameCount(), 0);
    EXPECT_TRUE(picture.Draw());
    EXPECT_FALSE(picture.IsPlaying());
    EXPECT_EQ(picture.PictureSize(), QSize(8, 6));
    EXPECT_EQ(picture.Snapshot().pixelColor(3, 3), QColor(0, 0, 255));
    // The control stretches the picture over its whole area.
    EXPECT_EQ(picture.grab().toImage().pixelColor(35, 25), QColor(0, 0, 255));
}

TEST_F(AnimatedPicture, AnimationPlaysAndStopsOnUnload)
{
    CAnimatedPicture picture;
    ASSERT_TRUE(picture.Load(Bytes(MakeGif(8, 6, {{0, 0, 8, 6, 0, 0, 0}, {2, 1, 4, 3, 4, 2, 1}, {5, 3, 3, 3, 5, 3, 2}}))));
    ASSERT_EQ(picture.FrameCount(), 3);
    EXPECT_EQ(picture.FrameInfo(2).left, 5);
    EXPECT_FALSE(picture.Draw());
    EXPECT_TRUE(picture.IsPlaying());
    // Within a few frames the first frame's red has been drawn.
    QElapsedTimer t;
    t.start();
    bool sawRed = false;
    while (!sawRed && t.elapsed() < 3000) {
        QApplication::processEvents();
        sawRed = picture.Snapshot().pixelColor(0, 0) == QColor(255, 0, 0);
    }
    EXPECT_TRUE(sawRed);
    t.restart();
    picture.UnLoad();
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_FALSE(picture.IsPlaying());
    EXPECT_EQ(picture.FrameCount(), 0);
    EXPECT_FALSE(picture.Draw());
}

TEST_F(AnimatedPicture, FrameWithoutDelayHoldsUntilStopped)
{
    CAnimatedPicture picture;
    // Frame 1 (green) has no control extension: the animation stays on it.
    ASSERT_TRUE(picture.Load(Bytes(MakeGif(4, 4, {{0, 0, 4, 4, 1, 0, 0}, {0, 0, 4, 4, -1, 0, 1}}, false))));
    picture.Draw();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 600)
        QApplication::processEvents();
    EXPECT_EQ(picture.Snapshot().pixelColor(1, 1), QColor(0, 255, 0));
    EXPECT_TRUE(picture.IsPlaying());
    picture.UnLoad();
    EXPECT_FALSE(picture.IsPlaying());
}

TEST_F(AnimatedPicture, StillFormatsAndGarbage)
{
    QImage jpeg(30, 20, QImage::Format_RGB32);
    jpeg.fill(Qt::white);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(jpeg.save(&buffer, "JPG"));
    CAnimatedPicture picture;
    ASSERT_TRUE(picture.Load(bytes));
    EXPECT_FALSE(picture.IsGIF());
    EXPECT_EQ(picture.PictureSize(), QSize(30, 20));
    EXPECT_TRUE(picture.Draw());

    EXPECT_FALSE(picture.Load(QByteArray("not a picture")));
    const std::string gif = MakeGif(8, 6, {{0, 0, 8, 6, 3, 0, 0}});
    EXPECT_FALSE(picture.Load(Bytes(gif.substr(0, 30))));
    EXPECT_FALSE(picture.Load(QString::fromLatin1(":/no/such/resource")));
}

TEST_F(AnimatedPicture, DestroyedWhilePlaying)
{
    auto *picture = new CAnimatedPicture;
    ASSERT_TRUE(picture->Load(Bytes(MakeGif(4, 4, {{0, 0, 4, 4, 0, 0, 0}, {0, 0, 4, 4, 0, 0, 1}}))));
    picture->Draw();
    QApplication::processEvents();
    delete picture; // joins the thread; queued repaints for it are dropped
    QApplication::processEvents();
    SUCCEED();
}

TEST_F(AnimatedPicture, SmallFramesAreDrawnAtTheirOffsetsWithTheirDisposal)
{
    const QColor red(255, 0, 0), green(0, 255, 0), blue(0, 0, 255);
    // A red picture, then a green 4 x 3 frame at (2, 1) with the disposal
    // under test, then a blue 1 x 1 frame that holds (no control extension).
    auto play = [&](int disposal) {
        auto picture = std::make_unique<CAnimatedPicture>();
        EXPECT_TRUE(picture->Load(Bytes(MakeGif(
            8, 6, {{0, 0, 8, 6, 1, 0, 0}, {2, 1, 4, 3, 1, disposal, 1}, {7, 5, 1, 1, -1, 0, 2}}))));
        picture->Draw();
        EXPECT_TRUE(PumpUntil([&] { return picture->Snapshot().pixelColor(7, 5) == blue; }, 5000));
        return picture;
    };

    // Disposal 0 leaves the green frame: exactly its 4 x 3 pixels, not the
    // whole picture squeezed into them.
    auto kept = play(0);
    const QImage a = kept->Snapshot();
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 8; ++x) {
            if (x == 7 && y == 5)
                continue;
            const bool inFrame = x >= 2 && x < 6 && y >= 1 && y < 4;
            EXPECT_EQ(a.pixelColor(x, y), inFrame ? green : red) << x << "," << y;
        }
    }
    kept->UnLoad();

    // Disposal 2 gives the frame's area back to the background colour.
    auto cleared = play(2);
    const QImage b = cleared->Snapshot();
    EXPECT_EQ(b.pixelColor(2, 1), cleared->palette().color(QPalette::Button));
    EXPECT_EQ(b.pixelColor(5, 3), cleared->palette().color(QPalette::Button));
    EXPECT_EQ(b.pixelColor(1, 1), red);
    EXPECT_EQ(b.pixelColor(6, 3), red);
    cleared->UnLoad();

    // Disposal 3 puts back what was under the frame.
    auto restored = play(3);
    const QImage c = restored->Snapshot();
    EXPECT_EQ(c.pixelColor(2, 1), red);
    EXPECT_EQ(c.pixelColor(5, 3), red);
    restored->UnLoad();
}
