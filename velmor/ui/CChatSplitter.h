#pragma once
// The splitter bar between the chat display and the input line. Dragging it
// with the left button moves a drag line (the bar's outline across the
// window); releasing, a right-button press or Escape ends the drag at the
// position reached (Escape does not cancel). The bar then moves, the
// controls above end 1 pixel above it and those below start 1 pixel below
// it, and RelayoutRequested(distance, id) goes to the window, which measures
// and applies its layout again (WM_CHAT_RELAYOUT). The controls on either
// side never become smaller than their minimum. GUI thread only.
#include <QFrame>
#include <QPointer>

#include <vector>

class QRubberBand;

class CChatSplitter : public QFrame {
    Q_OBJECT
public:
    explicit CChatSplitter(QWidget *parent = nullptr);
    ~CChatSplitter() override;

    // The controls above and below the bar and their minimum heights.
    void SetNeighbours(std::vector<QWidget *> above, std::vector<QWidget *> below, int minAbove = 30,
                       int minBelow = 30);

    // The drag, in the parent's coordinates of the cursor. StartDrag returns
    // false when no drag is possible (another widget holds the mouse, or the
    // neighbours leave no room).
    bool StartDrag(int parentY);
    void DragTo(int parentY);
    void FinishDrag();
    bool IsDragging() const { return m_dragging; }
    // The bar's top limits of the drag under way (parent coordinates).
    int TopLimit() const { return m_topLimit; }
    int BottomLimit() const { return m_bottomLimit; }

Q_SIGNALS:
    void RelayoutRequested(int distance, int controlId);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int ParentY(const QPointF &local) const;
    int Distance() const;

    std::vector<QPointer<QWidget>> m_above;
    std::vector<QPointer<QWidget>> m_below;
    int m_minAbove = 30;
    int m_minBelow = 30;
    bool m_dragging = false;
    int m_grabY = 0;    // cursor y at the press (parent coordinates)
    int m_startTop = 0; // bar top at the press
    int m_currentY = 0;
    int m_topLimit = 0;
    int m_bottomLimit = 0;
    QRubberBand *m_band = nullptr;
};
