#pragma once
// The picture window inside the preview control: the video renderer's
// window for the broadcaster, the player's window for the viewer. It keeps
// the newest picture and stretches it over its whole area.
#include <QImage>
#include <QWidget>

class CVideoWindow : public QWidget {
    Q_OBJECT
public:
    explicit CVideoWindow(QWidget *parent = nullptr);

    void SetFrame(const QImage &frame);
    const QImage &Frame() const { return m_frame; }
    unsigned long long FramesShown() const { return m_framesShown; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_frame;
    unsigned long long m_framesShown = 0;
};
