#include "CVideoWindow.h"

#include <QPainter>

CVideoWindow::CVideoWindow(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CVideoWindow::SetFrame(const QImage &frame)
{
    m_frame = frame;
    ++m_framesShown;
    update();
}

void CVideoWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_frame.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), m_frame);
}
