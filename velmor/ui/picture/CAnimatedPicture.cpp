#include "CAnimatedPicture.h"

#include <QFile>
#include <QPainter>

namespace {

QRect FrameArea(const GifFrameBlock &info)
{
    return QRect(info.left, info.top, info.width, info.height);
}

// The frame's own pixels. A decoder may hand a frame back on a canvas of the
// whole picture with the frame at its offset (Qt's GIF reader does), which
// would be stretched into the frame's rectangle if drawn as it is; only the
// frame's rectangle is kept, to be drawn at its offset unscaled.
QImage FramePixels(const QImage &decoded, const GifFrameBlock &info)
{
    const QRect area = FrameArea(info);
    if (decoded.size() == area.size())
        return decoded;
    return decoded.copy(area);
}

} // namespace

CAnimatedPicture::CAnimatedPicture(QWidget *parent) : QWidget(parent)
{
    m_background = palette().color(QPalette::Button);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CAnimatedPicture::~CAnimatedPicture()
{
    UnLoad();
}

int CAnimatedPicture::FrameWaitMs(int delay)
{
    if (delay < 0)
        return -1;
    return delay < 5 ? 100 : delay * 10;
}

bool CAnimatedPicture::Load(const QString &resourcePath)
{
    QFile file(resourcePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return Load(file.readAll());
}

bool CAnimatedPicture::Load(const QByteArray &bytes)
{
    UnLoad();
    const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.constData());
    const GifLayout layout = ParseGif(data, static_cast<std::size_t>(bytes.size()));

    if (!layout.isGif) {
        m_still = QImage::fromData(bytes);
        if (m_still.isNull())
            return false;
        m_pictureSize = m_still.size();
        return PrepareDC();
    }

    m_isGIF = true;
    m_pictureSize = QSize(layout.width, layout.height);
    if (layout.frames.empty()) {
        UnLoad();
        return false;
    }
    if (layout.frames.size() == 1) {
        m_still = QImage::fromData(bytes, "GIF");
        if (m_still.isNull()) {
            UnLoad();
            return false;
        }
        return PrepareDC();
    }
    for (const GifFrameBlock &info : layout.frames) {
        QImage picture = QImage::fromData(
            QByteArray::fromRawData(info.gif.data(), static_cast<qsizetype>(info.gif.size())), "GIF");
        if (picture.isNull())
            continue; // a frame that does not decode is skipped
        m_frames.push_back({info, FramePixels(picture, info).convertToFormat(QImage::Format_ARGB32_Premultiplied)});
    }
    if (m_frames.empty()) {
        UnLoad();
        return false;
    }
    return PrepareDC();
}

bool CAnimatedPicture::PrepareDC()
{
    std::lock_guard lock(m_drawLock);
    const QSize size = m_pictureSize.isValid() && !m_pictureSize.isEmpty() ? m_pictureSize : QSize(1, 1);
    m_offscreen = QImage(size, QImage::Format_ARGB32_Premultiplied);
    m_offscreen.fill(m_background);
    return true;
}

bool CAnimatedPicture::Draw()
{
    {
        std::lock_guard lock(m_drawLock);
        if (m_offscreen.isNull())
            return false;
    }
    if (m_frames.size() > 1) {
        if (m_threadRunning.load())
            return false;
        m_exitRequested.store(false);
        m_exitEvent.Reset();
        m_threadRunning.store(true);
        m_thread = std::thread([this] { ThreadAnimation(); });
        return false;
    }
    {
        std::lock_guard lock(m_drawLock);
        QPainter painter(&m_offscreen);
        painter.drawImage(QRect(QPoint(0, 0), m_pictureSize), m_still);
    }
    update();
    return true;
}

void CAnimatedPicture::ThreadAnimation()
{
    QImage saved;
    while (!m_exitRequested.load()) {
        const Frame &frame = m_frames[static_cast<std::size_t>(m_currentFrame)];
        const QRect area = FrameArea(frame.info);
        {
            std::lock_guard lock(m_drawLock);
            if (frame.info.disposal == 3)
                saved = m_offscreen.copy(area);
            // At its offset and natural size; its transparent pixels leave
            // what the earlier frames drew.
            QPainter painter(&m_offscreen);
            painter.drawImage(area.topLeft(), frame.picture);
        }
        QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);

        const int waitMs = FrameWaitMs(frame.info.delay);
        m_exitEvent.Wait(waitMs < 0 ? platform::INFINITE : static_cast<DWORD>(waitMs));
        if (m_exitRequested.load())
            break;

        {
            std::lock_guard lock(m_drawLock);
            QPainter painter(&m_offscreen);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            if (frame.info.disposal == 2) {
                painter.fillRect(area, m_background);
            } else if (frame.info.disposal == 3 && !saved.isNull()) {
                painter.drawImage(area.topLeft(), saved);
                saved = QImage();
            }
            if (++m_currentFrame >= static_cast<int>(m_frames.size())) {
                m_currentFrame = 0;
                painter.fillRect(m_offscreen.rect(), m_background);
            }
        }
    }
    m_threadRunning.store(false);
}

void CAnimatedPicture::StopAnimation()
{
    if (!m_thread.joinable())
        return;
    m_exitRequested.store(true);
    m_exitEvent.Set();
    // The thread only ever waits on the exit event, between two frames, so
    // it ends at once, far within the 5000 ms the control allows for it;
    // joining also keeps it from drawing into a control that is going away.
    m_thread.join();
    m_exitEvent.Reset();
    m_exitRequested.store(false);
}

void CAnimatedPicture::UnLoad()
{
    StopAnimation();
    m_frames.clear();
    m_still = QImage();
    m_isGIF = false;
    m_currentFrame = 0;
    m_pictureSize = QSize();
    std::lock_guard lock(m_drawLock);
    m_offscreen = QImage();
    m_paintRect = QRect();
}

void CAnimatedPicture::SetPaintRect(const QRect &rect)
{
    std::lock_guard lock(m_drawLock);
    m_paintRect = rect;
}

QImage CAnimatedPicture::Snapshot() const
{
    std::lock_guard lock(m_drawLock);
    return m_offscreen.copy();
}

void CAnimatedPicture::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    std::lock_guard lock(m_drawLock);
    if (m_offscreen.isNull()) {
        painter.fillRect(rect(), m_background);
        return;
    }
    const QRect source = m_paintRect.isValid() ? m_paintRect : QRect(QPoint(0, 0), m_pictureSize);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), m_offscreen, source);
}
