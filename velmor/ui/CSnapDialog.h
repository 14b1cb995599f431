#pragma once
// The dialog base class of the program's top-level windows: while the user
// drags or sizes the window its edges snap to the program's other windows
// and to the screen, and with gluing on the windows docked to it move along.
//
// The windows are frameless (the skin draws caption and borders), so the
// skin reports presses on its caption and size grips and this class runs the
// move and size loops itself: BeginSnapMove/SnapMoveTo stand for the
// non-client press and WM_MOVING, BeginSnapSize/SnapSizeTo for WM_SIZING.
// The geometry is in SnapGeometry.h. GUI thread only.
#include "SnapGeometry.h"

#include <QDialog>
#include <QPoint>
#include <QRect>

class CSkinWidget;

class CSnapDialog : public QDialog {
    Q_OBJECT
public:
    explicit CSnapDialog(QWidget *parent = nullptr);
    ~CSnapDialog() override;

    // Gluing: windows docked to this one follow its moves (off by default).
    void SetGluing(bool on) { m_gluing = on; }
    bool IsGluing() const { return m_gluing; }

    // The move loop: a press on the caption at `globalCursor`, then the
    // cursor's positions. Each position proposes the window's last
    // rectangle shifted by the cursor's movement; the snapped result is
    // applied to this window and its glued windows.
    void BeginSnapMove(const QPoint &globalCursor);
    void SnapMoveTo(const QPoint &globalCursor);
    // The size loop: `edges` are the window edges being dragged.
    void BeginSnapSize(const QPoint &globalCursor, Qt::Edges edges);
    void SnapSizeTo(const QPoint &globalCursor);
    void EndSnapDrag();
    bool IsSnapDragging() const { return m_mode != Mode::None; }

    // Lets the skin's caption and size grips drive the loops above.
    void ConnectSkinDrag(CSkinWidget *skin);

    const SnapState &SnapStateForTest() const { return m_snap; }

    static SnapRect ToSnapRect(const QRect &r)
    {
        return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }
    static QRect ToQRect(const SnapRect &r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

protected:
    // The windows to snap to: the program's visible top-level windows and
    // the screen. Hidden windows are left out: a hidden window's edge the
    // user cannot see should not hold the mouse back.
    virtual std::vector<SnapWindow> CollectSnapWindows() const;

private:
    enum class Mode { None, Move, Size };

    SnapState m_snap;
    bool m_gluing = false;
    Mode m_mode = Mode::None;
    QPoint m_lastCursor;
    QPoint m_startCursor;
    QRect m_startRect;
    Qt::Edges m_sizeEdges;
};
