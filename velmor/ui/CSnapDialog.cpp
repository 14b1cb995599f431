#include "CSnapDialog.h"

#include "CSkinWidget.h"

#include <QApplication>
#include <QScreen>

CSnapDialog::CSnapDialog(QWidget *parent) : QDialog(parent) {}

CSnapDialog::~CSnapDialog() = default;

std::vector<SnapWindow> CSnapDialog::CollectSnapWindows() const
{
    std::vector<SnapWindow> windows;
    const QWidgetList all = QApplication::topLevelWidgets();
    for (QWidget *w : all) {
        if (w == this || !w->isVisible() || !w->isWindow())
            continue;
        const Qt::WindowType type = w->windowType();
        if (type == Qt::Popup || type == Qt::ToolTip || type == Qt::Desktop)
            continue;
        windows.push_back({reinterpret_cast<SnapWindowId>(w), ToSnapRect(w->frameGeometry()), false});
    }
    if (const QScreen *s = screen())
        windows.push_back({0, ToSnapRect(s->geometry()), true});
    return windows;
}

void CSnapDialog::BeginSnapMove(const QPoint &globalCursor)
{
    SnapBeginDrag(m_snap, reinterpret_cast<SnapWindowId>(this), ToSnapRect(frameGeometry()),
                  {globalCursor.x(), globalCursor.y()}, CollectSnapWindows(), m_gluing);
    m_mode = Mode::Move;
    m_lastCursor = globalCursor;
}

void CSnapDialog::SnapMoveTo(const QPoint &globalCursor)
{
    if (m_mode != Mode::Move)
        return;
    const QPoint delta = globalCursor - m_lastCursor;
    m_lastCursor = globalCursor;
    if (delta.isNull())
        return;
    const SnapRect proposed = m_snap.last.Offset(delta.x(), delta.y());
    const SnapMoveResult result = SnapMoveStep(m_snap, proposed, {globalCursor.x(), globalCursor.y()});
    move(result.rect.left, result.rect.top);
    // The glued windows move together, without activation or size change.
    const QWidgetList all = QApplication::topLevelWidgets();
    for (const SnapWindow &g : result.glued) {
        for (QWidget *w : all) {
            if (reinterpret_cast<SnapWindowId>(w) == g.id) {
                w->move(g.rect.left, g.rect.top);
                break;
            }
        }
    }
}

void CSnapDialog::BeginSnapSize(const QPoint &globalCursor, Qt::Edges edges)
{
    SnapBeginDrag(m_snap, reinterpret_cast<SnapWindowId>(this), ToSnapRect(frameGeometry()),
                  {globalCursor.x(), globalCursor.y()}, CollectSnapWindows(), false);
    m_mode = Mode::Size;
    m_startCursor = globalCursor;
    m_startRect = frameGeometry();
    m_sizeEdges = edges;
}

void CSnapDialog::SnapSizeTo(const QPoint &globalCursor)
{
    if (m_mode != Mode::Size)
        return;
    const QPoint d = globalCursor - m_startCursor;
    SnapRect r = ToSnapRect(m_startRect);
    if (m_sizeEdges & Qt::LeftEdge)
        r.left += d.x();
    if (m_sizeEdges & Qt::RightEdge)
        r.right += d.x();
    if (m_sizeEdges & Qt::TopEdge)
        r.top += d.y();
    if (m_sizeEdges & Qt::BottomEdge)
        r.bottom += d.y();
    SnapRect snapped = SnapSizeStep(m_snap, r);
    // Only the dragged edges move; the others stay where they were.
    if (!(m_sizeEdges & Qt::LeftEdge))
        snapped.left = r.left;
    if (!(m_sizeEdges & Qt::RightEdge))
        snapped.right = r.right;
    if (!(m_sizeEdges & Qt::TopEdge))
        snapped.top = r.top;
    if (!(m_sizeEdges & Qt::BottomEdge))
        snapped.bottom = r.bottom;
    // Keep the minimum size, anchored on the edge that is not dragged.
    const QSize minimum = minimumSize().expandedTo(QSize(60, 40));
    if (snapped.Width() < minimum.width()) {
        if (m_sizeEdges & Qt::LeftEdge)
            snapped.left = snapped.right - minimum.width();
        else
            snapped.right = snapped.left + minimum.width();
    }
    if (snapped.Height() < minimum.height()) {
        if (m_sizeEdges & Qt::TopEdge)
            snapped.top = snapped.bottom - minimum.height();
        else
            snapped.bottom = snapped.top + minimum.height();
    }
    setGeometry(ToQRect(snapped));
    m_snap.last = snapped;
}

void CSnapDialog::EndSnapDrag()
{
    m_mode = Mode::None;
}

void CSnapDialog::ConnectSkinDrag(CSkinWidget *skin)
{
    connect(skin, &CSkinWidget::WindowDragStarted, this, [this](const QPoint &pos, Qt::Edges edges) {
        if (edges)
            BeginSnapSize(pos, edges);
        else
            BeginSnapMove(pos);
    });
    connect(skin, &CSkinWidget::WindowDragMoved, this, [this](const QPoint &pos) {
        if (m_mode == Mode::Size)
            SnapSizeTo(pos);
        else
            SnapMoveTo(pos);
    });
    connect(skin, &CSkinWidget::WindowDragEnded, this, &CSnapDialog::EndSnapDrag);
}
