#include "CChatSplitter.h"

#include "UiIds.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QRubberBand>

#include <algorithm>

CChatSplitter::CChatSplitter(QWidget *parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Box | QFrame::Sunken); // the etched frame of the static
    setCursor(Qt::SizeVerCursor);
    setFocusPolicy(Qt::NoFocus);
}

CChatSplitter::~CChatSplitter() = default;

void CChatSplitter::SetNeighbours(std::vector<QWidget *> above, std::vector<QWidget *> below, int minAbove,
                                  int minBelow)
{
    m_above.assign(above.begin(), above.end());
    m_below.assign(below.begin(), below.end());
    m_minAbove = minAbove;
    m_minBelow = minBelow;
}

bool CChatSplitter::StartDrag(int parentY)
{
    QWidget *parent = parentWidget();
    if (!parent || m_dragging)
        return false;
    // Someone else holds the mouse: no drag.
    if (QWidget *grabber = QWidget::mouseGrabber(); grabber && grabber != this)
        return false;
    // The bar's top may go from the minimum height below the top of every
    // control above to where the bar's bottom leaves the minimum height to
    // every control below (the controls end 1 pixel away from the bar).
    int top = m_minAbove;
    int bottom = parent->height() - m_minBelow;
    for (const auto &w : m_above)
        if (w)
            top = std::max(top, w->y() + m_minAbove + 1);
    for (const auto &w : m_below)
        if (w)
            bottom = std::min(bottom, w->y() + w->height() - m_minBelow - 1);
    bottom -= height();
    if (top >= bottom)
        return false;
    m_topLimit = top;
    m_bottomLimit = bottom;
    m_grabY = parentY;
    m_currentY = parentY;
    m_startTop = y();
    m_dragging = true;
    if (!m_band)
        m_band = new QRubberBand(QRubberBand::Rectangle, parent);
    m_band->setGeometry(20, m_startTop, std::max(1, parent->width() - 40), height());
    m_band->show();
    m_band->raise();
    grabMouse();
    grabKeyboard();
    return true;
}

int CChatSplitter::Distance() const
{
    const int wanted = m_startTop + (m_currentY - m_grabY);
    return std::clamp(wanted, m_topLimit, m_bottomLimit) - m_startTop;
}

void CChatSplitter::DragTo(int parentY)
{
    if (!m_dragging)
        return;
    m_currentY = parentY;
    if (m_band)
        m_band->move(20, m_startTop + Distance());
}

void CChatSplitter::FinishDrag()
{
    if (!m_dragging)
        return;
    m_dragging = false;
    if (m_band)
        m_band->hide();
    releaseMouse();
    releaseKeyboard();
    const int distance = Distance();
    if (distance == 0)
        return;
    move(x(), m_startTop + distance);
    for (const auto &w : m_above)
        if (w)
            w->setGeometry(w->x(), w->y(), w->width(), std::max(0, y() - 1 - w->y()));
    const int barBottom = y() + height();
    for (const auto &w : m_below) {
        if (!w)
            continue;
        const int oldBottom = w->y() + w->height();
        w->setGeometry(w->x(), barBottom + 1, w->width(), std::max(0, oldBottom - barBottom - 1));
    }
    if (parentWidget())
        parentWidget()->update();
    Q_EMIT RelayoutRequested(distance, IDC_SPLITTER);
}

int CChatSplitter::ParentY(const QPointF &local) const
{
    return mapToParent(local.toPoint()).y();
}

void CChatSplitter::mousePressEvent(QMouseEvent *event)
{
    if (m_dragging && event->button() == Qt::RightButton) {
        FinishDrag();
        return;
    }
    if (event->button() == Qt::LeftButton)
        StartDrag(ParentY(event->position()));
}

void CChatSplitter::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging)
        DragTo(ParentY(event->position()));
}

void CChatSplitter::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_dragging && event->button() == Qt::LeftButton) {
        DragTo(ParentY(event->position()));
        FinishDrag();
    }
}

void CChatSplitter::keyPressEvent(QKeyEvent *event)
{
    if (m_dragging && event->key() == Qt::Key_Escape) {
        // Escape ends the drag where it is: the position reached counts.
        FinishDrag();
        return;
    }
    QFrame::keyPressEvent(event);
}

void CChatSplitter::hideEvent(QHideEvent *event)
{
    // Losing the window ends the drag like losing the mouse capture.
    FinishDrag();
    QFrame::hideEvent(event);
}
