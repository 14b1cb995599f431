#pragma once
// The dialog base class of the program's top-level windows: while the user
// drags or sizes the window its edges snap to the program's other windows
// and to the screen, and with gluing on the windows docked to it move along.
//
// A skinned window is frameless (the skin draws caption and borders), so the
// skin reports presses on its caption and size grips and this class runs the
// move and size loops itself: BeginSnapMove/SnapMoveTo stand for the
// non-client press and WM_MOVING, BeginSnapSize/SnapSizeTo for WM_SIZING.
// A window whose skin did not load keeps the window system's frame and
// title bar instead (SetSkinned). The geometry is in SnapGeometry.h.
//
// Every window has the system menu: restore, move, size, minimise, maximise
// and close, plus what the window appends (the about item). It opens on a
// right click on the skin's caption, on Alt+Space, and on a window without
// skin on a right click on the window's own background, since the window
// system's menu of its title bar knows nothing of our items. "이동" and
// "크기 조정" run the move and size loops from the keyboard: arrow keys move
// by 8 pixels (1 with Ctrl), Enter keeps the place, Escape puts every window
// back. GUI thread only.
#include "SnapGeometry.h"

#include <QDialog>
#include <QMargins>
#include <QPoint>
#include <QPointer>
#include <QRect>

#include <memory>
#include <string>
#include <utility>
#include <vector>

class CSkinWidget;
class QAction;
class QMenu;

class CSnapDialog : public QDialog {
    Q_OBJECT
public:
    // System menu commands (the WM_SYSCOMMAND numbers) and the about item.
    static constexpr int SC_SIZE = 0xF000;
    static constexpr int SC_MOVE = 0xF010;
    static constexpr int SC_MINIMIZE = 0xF020;
    static constexpr int SC_MAXIMIZE = 0xF030;
    static constexpr int SC_CLOSE = 0xF060;
    static constexpr int SC_RESTORE = 0xF120;
    static constexpr int IDM_ABOUTBOX = 0x10;
    // One arrow key of the keyboard move and size loops, in pixels.
    static constexpr int kKeyboardStep = 8;

    explicit CSnapDialog(QWidget *parent = nullptr);
    ~CSnapDialog() override;

    // True: frameless, the skin draws caption and borders. False: the
    // window system's frame and title bar. Call before the window is shown.
    void SetSkinned(bool skinned);
    bool IsSkinned() const { return m_skinned; }

    // Places the window by its window rectangle, frame included, as the
    // stored positions hold it: the frame's top-left at the rectangle's and
    // the whole window of the rectangle's size. A window system's frame is
    // known only once the window is shown; until then the client area takes
    // the whole size and gives the frame's share back when it is known, so
    // a stored rectangle comes back the same, run after run.
    void SetWindowRect(const QRect &windowRect);

    // The system menu. Items carry their command number as data; a chosen
    // item arrives at OnSysCommand.
    QMenu *SystemMenu() const { return m_systemMenu; }
    void AppendSystemMenuSeparator();
    QAction *AppendSystemMenuItem(int id, const QString &text);
    // A separator and "Velmor 정보(&A)...", which opens the about box whose
    // link goes to `siteUrl`.
    void AppendAboutItem(const std::string &siteUrl);
    // Opens the menu at `globalPos`, or below the caption's left end.
    void ShowSystemMenu(const QPoint &globalPos);
    void ShowSystemMenu();
    // A system command: the menu's items and the window's own. The about
    // item opens the about box modally; move and size start the keyboard
    // loops; the others minimise, restore or close the window.
    virtual void OnSysCommand(int id);

    // The keyboard move and size loops ("이동", "크기 조정").
    void BeginKeyboardMove();
    void BeginKeyboardSize();
    bool IsKeyboardDragging() const { return m_keyboardFilter != nullptr; }
    // Ends a keyboard loop: `keep` the places reached, or put back where
    // every window was when the loop started.
    void EndKeyboardDrag(bool keep);

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

    // Lets the skin's caption and size grips drive the loops above; a right
    // click on the caption opens the system menu.
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

    void contextMenuEvent(QContextMenuEvent *event) override;
    bool event(QEvent *event) override;

private:
    enum class Mode { None, Move, Size };
    class KeyboardFilter;

    bool OnKeyboardDragKey(int key, Qt::KeyboardModifiers modifiers);
    void BeginKeyboardDrag(Mode mode);
    // The skin's caption (the first object that moves the window), in
    // window coordinates; empty without a skin.
    QRect SkinCaptionRect() const;

    SnapState m_snap;
    bool m_gluing = false;
    Mode m_mode = Mode::None;
    QPoint m_lastCursor;
    QPoint m_startCursor;
    QRect m_startRect;
    Qt::Edges m_sizeEdges;

    // The window frame's share of frameGeometry() (none when frameless or
    // not known yet).
    QMargins FrameMargins() const;

    bool m_skinned = false;
    QSize m_pendingWindowSize; // SetWindowRect's size, until the frame is known
    QPointer<CSkinWidget> m_skin;
    QMenu *m_systemMenu = nullptr;
    std::string m_aboutUrl;

    // The keyboard loop: its filter of the application's input, the place
    // of the virtual cursor the arrow keys move, the edges being sized, and
    // where every window was at its start.
    std::unique_ptr<KeyboardFilter> m_keyboardFilter;
    Mode m_keyboardMode = Mode::None;
    QPoint m_keyboardCursor;
    Qt::Edges m_keyboardEdges;
    std::vector<std::pair<QPointer<QWidget>, QRect>> m_keyboardStart;
};
