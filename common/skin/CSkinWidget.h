#pragma once
// The skin control: a widget that covers a window, paints the skin form that
// was applied to it and reports mouse activity on skin objects to the window.
//
// Operations, in the order a window uses them: LoadSkinFile, ApplySkin (a
// named form or the default one) and Refresh, GetRoot, then the object tree
// of CSkinObject; the skin's font and named images for the window's own
// drawing. Events raised to the window (as signals, with the numbers the
// window's handlers know them by):
//   22 SkinMouseDown(object, button, x, y)  a mouse button pressed on an object
//   23 SkinMouseUp(object, button, x, y)    the button released
//   30 SkinSliderChanged(object, value)     a slider's value changed by the user
//   31 SkinSliderHover(object, value)       the pointer is over a slider
// Buttons with a command number also report SkinCommand(id) when clicked,
// objects with a window action report a move or size drag of the window
// (WindowDrag*) or a system command (SkinSystemCommand: close, minimise).
// Coordinates are the window's client coordinates. Lives on the GUI thread.
//
// A program that loads the control at run time sees it as ISkinControl,
// made by the library's exported factory, with the events going to an
// ISkinEventSink.
#include "platform/Win32Types.h"

#include "CSkin.h"
#include "CSkinObject.h"
#include "ISkinControl.h"

#include <QPointer>
#include <QWidget>

#include <memory>

enum SkinEventId : int {
    SKIN_EVENT_MOUSEDOWN = 22,
    SKIN_EVENT_MOUSEUP = 23,
    SKIN_EVENT_SLIDERCHANGE = 30,
    SKIN_EVENT_SLIDERHOVER = 31,
};

// The system commands a skin object can ask for (WM_SYSCOMMAND numbers).
enum SkinSystemCommand : int { SKIN_SC_MINIMIZE = 0xF020, SKIN_SC_CLOSE = 0xF060 };

// Mouse buttons as the events report them (MK_LBUTTON, MK_RBUTTON, MK_MBUTTON).
enum SkinButton : int { SKIN_LBUTTON = 1, SKIN_RBUTTON = 2, SKIN_MBUTTON = 16 };

class CSkinWidget : public QWidget, public ISkinControl, private ISkinView {
    Q_OBJECT
public:
    // The widget covers `window` and follows its size.
    explicit CSkinWidget(QWidget *window);
    ~CSkinWidget() override;

    // 1. Loads a skin file by full path. S_OK or E_FAIL (see LastError()).
    HRESULT LoadSkinFile(const QString &path) override;
    const QString &LastError() const { return m_skin.LastError(); }
    bool IsLoaded() const { return m_skin.IsLoaded(); }

    // 2. Applies the form `formName` (empty: the default form) to the
    //    window: the form's objects become this window's object tree and the
    //    window takes the form's size. S_OK, or E_FAIL without a skin or form.
    HRESULT ApplySkin(const QString &formName) override;
    // Repaints: `what` −1 repaints everything.
    void Refresh(int what = -1) override;

    // 3. The root object of the applied form; null when no form is applied.
    CSkinObject *GetRoot() const override { return m_root.get(); }

    // 5. The skin's font and its named images.
    QFont GetFont() const override;
    void SelectFont(QPainter &painter) const override;
    bool DrawImage(QPainter &painter, const QString &name, const QRect &target, int state = 0) const override;
    const CSkin &Skin() const { return m_skin; }

    // The object under a client point that reacts to the mouse (the nearest
    // button, check, slider or window-action object at or above the deepest
    // object there), else the deepest object; null outside the form.
    CSkinObject *InteractiveObjectAt(const QPoint &point) const;

    // The events for a window that holds the control as ISkinControl: each
    // of the signals 22, 23, 30 and 31 is handed to the sink as well.
    void SetEventSink(ISkinEventSink *sink) override { m_sink = sink; }
    QWidget *GetWidget() override { return this; }

Q_SIGNALS:
    void SkinMouseDown(CSkinObject *object, int button, int x, int y);
    void SkinMouseUp(CSkinObject *object, int button, int x, int y);
    void SkinSliderChanged(CSkinObject *object, int value);
    void SkinSliderHover(CSkinObject *object, int value);
    void SkinCommand(int id);
    void SkinSystemCommand(int command);
    // A press on an object with the move action (edges 0) or the size action
    // (the window edges it drags) starts dragging the window; global coordinates.
    void WindowDragStarted(const QPoint &globalPos, Qt::Edges edges);
    void WindowDragMoved(const QPoint &globalPos);
    void WindowDragEnded();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void InvalidateObject(CSkinObject *object) override;
    void PaintObject(QPainter &painter, const CSkinObject &object) const;
    void PaintCaption(QPainter &painter, const CSkinObject &object, const QRect &r, bool hover) const;
    QFont FontFor(const CSkinObject &object) const;
    bool IsAlive(const CSkinObject *object) const;
    void SetHover(CSkinObject *object);

    QPointer<QWidget> m_window;
    CSkin m_skin;
    std::unique_ptr<CSkinObject> m_root;
    CSkinObject *m_hover = nullptr;
    CSkinObject *m_pressed = nullptr;
    int m_pressedButton = 0;
    bool m_draggingSlider = false;
    bool m_draggingWindow = false;
    ISkinEventSink *m_sink = nullptr;
};
