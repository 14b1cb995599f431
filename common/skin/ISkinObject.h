#pragma once
// One object of a skin form as a window sees it through the skin control:
// children, name, rectangle, visibility, enabled state, caption, checked
// state, slider range and value, tooltip and hit test.
//
// Objects belong to the control that applied their form and live on the
// window's thread; a pointer stays valid until that control applies another
// form or loads another skin. Nothing here throws.
#include <QPoint>
#include <QRect>
#include <QString>

class ISkinObject {
public:
    // Children, in the order the skin file gives them; null past the end.
    virtual int GetChildCount() const = 0;
    virtual ISkinObject *GetChild(int index) const = 0;
    virtual const QString &GetName() const = 0;

    // The rectangle relative to the parent object (the form's own
    // rectangle has its size and sits at the window's origin).
    virtual QRect GetRect() const = 0;
    virtual void SetRect(const QRect &rect) = 0;

    virtual void SetVisible(bool visible) = 0;
    virtual void SetEnabled(bool enabled) = 0;

    // Setting a caption repaints the object.
    virtual const QString &GetCaption() const = 0;
    virtual void SetCaption(const QString &caption) = 0;
    virtual void Refresh() = 0;

    virtual bool GetChecked() const = 0;

    // Sliders. SetValue clamps to the range and returns whether it changed.
    virtual void GetRange(int &minimum, int &maximum) const = 0;
    virtual void SetRange(int minimum, int maximum) = 0;
    virtual int GetValue() const = 0;
    virtual bool SetValue(int value) = 0;

    virtual void SetTooltip(const QString &tooltip) = 0;

    // Whether a point of the window's client area lies on the object while
    // it is shown.
    virtual bool HitTest(const QPoint &formPoint) const = 0;

protected:
    ~ISkinObject() = default;
};
