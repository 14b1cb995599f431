#pragma once
// A picture control: shows a still picture, or plays a GIF of several frames
// as an animation on a thread of its own. Frames are drawn into an offscreen
// image that the control stretches over its whole area when it paints.
// The viewer shows its buffering animation in it.
#include "GifFrames.h"

#include "platform/Win32Event.h"

#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

class CAnimatedPicture : public QWidget {
    Q_OBJECT
public:
    explicit CAnimatedPicture(QWidget *parent = nullptr);
    ~CAnimatedPicture() override;

    // Loads a picture from the program's resources (":/gif/158").
    bool Load(const QString &resourcePath);
    // Loads a picture from memory: a GIF (animated or not) or any still format
    // Qt's image readers know.
    bool Load(const QByteArray &bytes);
    // Starts the animation, or renders the still picture. False until loaded.
    bool Draw();
    // Stops the animation (within 5000 ms) and releases every picture.
    void UnLoad();

    void SetPaintRect(const QRect &rect);

    // What was loaded (tests and diagnostics).
    int FrameCount() const { return static_cast<int>(m_frames.size()); }
    const GifFrameBlock &FrameInfo(int i) const { return m_frames[static_cast<std::size_t>(i)].info; }
    bool IsGIF() const { return m_isGIF; }
    bool IsPlaying() const { return m_threadRunning.load(); }
    QSize PictureSize() const { return m_pictureSize; }
    // Milliseconds the animation waits on frame `i`; -1: until stopped.
    static int FrameWaitMs(int delay);
    // A copy of the offscreen image as it is now.
    QImage Snapshot() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Frame {
        GifFrameBlock info;
        QImage picture;
    };

    bool PrepareDC();
    void ThreadAnimation();
    void StopAnimation();

    std::vector<Frame> m_frames;
    QImage m_still;
    QSize m_pictureSize;
    bool m_isGIF = false;

    // The offscreen image is drawn by the animation thread and painted by the
    // window thread: every access holds m_drawLock.
    mutable std::mutex m_drawLock;
    QImage m_offscreen;
    QRect m_paintRect;
    QColor m_background;

    std::thread m_thread;
    platform::Event m_exitEvent{true, false};
    std::atomic<bool> m_threadRunning{false};
    std::atomic<bool> m_exitRequested{false};
    int m_currentFrame = 0;
};
