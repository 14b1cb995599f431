#pragma once
// One object of an applied skin form: a node of the object tree with a name,
// a rectangle relative to its parent, visibility, enabled state, caption,
// checked state, slider range and value, tooltip and its look.
//
// The operations are the ones a skinned window calls on the skin: children,
// name, rectangle get/set, visible, enabled, caption (with refresh), checked,
// slider range and value, tooltip, hit test (ISkinObject, the face a program
// that loads the control at run time sees). Objects belong to the form
// instance that a CSkinWidget applied to a window; they live on that window's
// thread.
#include "ISkinObject.h"

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

#include <memory>
#include <vector>

class CSkinObject;

// Told when an object's look changes so the view can repaint it.
class ISkinView {
public:
    virtual void InvalidateObject(CSkinObject *object) = 0;

protected:
    ~ISkinView() = default;
};

enum class SkinKind {
    Form,   // the root of a form
    Frame,  // a filled or bordered box, may hold children
    Image,  // a named image
    Text,   // a caption drawn as text
    Button, // a push button; reports its command when clicked
    Check,  // a toggle button; clicking flips the checked state
    Slider, // a horizontal or vertical slider with a range and a value
    Region, // an invisible placeholder where the window puts a control
};

// What a press on an object does to the window itself.
enum class SkinAction { None, Move, Close, Minimize, Size };

// Anchors: which parent edges the object keeps its distance to when the
// parent is resized. Left|Top (the default) keeps position and size.
enum SkinAnchor : unsigned { AnchorLeft = 1, AnchorTop = 2, AnchorRight = 4, AnchorBottom = 8 };

// The look of an object, read from the skin file.
struct SkinStyle {
    QColor fill;        // invalid: not filled
    QColor fill2;       // valid: vertical gradient from fill to fill2
    QColor hoverFill;   // buttons: fill while the pointer is over it
    QColor pressedFill; // buttons: fill while pressed or checked
    QColor border;      // invalid: no border
    int borderWidth = 1;
    int radius = 0;
    QString image;               // named image drawn over the rectangle
    int slice[4] = {0, 0, 0, 0}; // left, top, right, bottom margins kept unscaled
    QColor textColor = QColor(0, 0, 0);
    QColor hoverTextColor;
    QColor disabledTextColor = QColor(150, 150, 150);
    QString fontFace; // empty: the skin's font
    int fontSize = 0; // points; 0: the skin's size
    bool bold = false;
    Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;
    int padding = 0;    // horizontal inset of the caption
    QString thumbImage; // sliders: the thumb
    QColor thumbFill = QColor(90, 120, 170);
    int thumbSize = 10;
};

class CSkinObject final : public ISkinObject {
public:
    CSkinObject(SkinKind kind, QString name);
    ~CSkinObject();
    CSkinObject(const CSkinObject &) = delete;
    CSkinObject &operator=(const CSkinObject &) = delete;

    // A deep copy of this object and its children (forms are templates that
    // are copied for every window they are applied to).
    std::unique_ptr<CSkinObject> Clone() const;

    // --- tree
    int GetChildCount() const override { return static_cast<int>(m_children.size()); }
    CSkinObject *GetChild(int index) const override;
    CSkinObject *GetParent() const { return m_parent; }
    CSkinObject *AddChild(std::unique_ptr<CSkinObject> child);
    const QString &GetName() const override { return m_name; }
    SkinKind GetKind() const { return m_kind; }

    // --- rectangle, relative to the parent
    QRect GetRect() const override { return m_rect; }
    // Moves the object; it keeps its anchors relative to the parent's
    // present size from now on.
    void SetRect(const QRect &rect) override;
    // The rectangle in the form's coordinates (the parents' offsets added).
    QRect GetFormRect() const;

    // --- state
    bool IsVisible() const { return m_visible; }
    void SetVisible(bool visible) override;
    // Visible itself and all its ancestors.
    bool IsShown() const;
    bool IsEnabled() const { return m_enabled; }
    void SetEnabled(bool enabled) override;
    const QString &GetCaption() const override { return m_caption; }
    void SetCaption(const QString &caption) override;
    void Refresh() override;
    bool GetChecked() const override { return m_checked; }
    void SetChecked(bool checked);
    const QString &GetTooltip() const { return m_tooltip; }
    void SetTooltip(const QString &tooltip) override { m_tooltip = tooltip; }

    // --- slider
    void GetRange(int &minimum, int &maximum) const override;
    void SetRange(int minimum, int maximum) override;
    int GetValue() const override { return m_value; }
    // Clamped to the range. Returns true when the value changed.
    bool SetValue(int value) override;
    bool IsVertical() const { return m_vertical; }
    void SetVertical(bool vertical) { m_vertical = vertical; }
    // The value a slider takes for a point in form coordinates.
    int ValueAtPoint(const QPoint &formPoint) const;
    // The thumb's rectangle in form coordinates.
    QRect ThumbRect() const;

    // --- hit test: whether the point (form coordinates) lies on this
    // object while it is shown.
    bool HitTest(const QPoint &formPoint) const override;
    // The deepest shown object under the point, this one included; null when
    // the point is outside.
    CSkinObject *ObjectAt(const QPoint &formPoint);

    // --- behaviour and look
    int GetCommand() const { return m_command; }
    void SetCommand(int command) { m_command = command; }
    SkinAction GetAction() const { return m_action; }
    void SetAction(SkinAction action) { m_action = action; }
    unsigned GetAnchors() const { return m_anchors; }
    void SetAnchors(unsigned anchors) { m_anchors = anchors; }
    SkinStyle &Style() { return m_style; }
    const SkinStyle &Style() const { return m_style; }

    // The size this object's children measure their anchors against.
    void ResizeTo(const QSize &size);

    // Takes the present rectangles as the reference that anchoring measures
    // parent size changes from (done once a form is read).
    void FreezeAnchors();

    // Sets the view to tell about changes, for this object and its children.
    void AttachView(ISkinView *view);

private:
    void Invalidate();
    void ParentResized(const QSize &parentSize);

    SkinKind m_kind;
    QString m_name;
    CSkinObject *m_parent = nullptr;
    std::vector<std::unique_ptr<CSkinObject>> m_children;
    ISkinView *m_view = nullptr;

    QRect m_rect;
    // The rectangle and the parent size that anchoring is measured from.
    QRect m_anchorRect;
    QSize m_anchorParentSize;
    unsigned m_anchors = AnchorLeft | AnchorTop;

    bool m_visible = true;
    bool m_enabled = true;
    bool m_checked = false;
    QString m_caption;
    QString m_tooltip;
    int m_minimum = 0;
    int m_maximum = 100;
    int m_value = 0;
    bool m_vertical = false;
    int m_command = 0;
    SkinAction m_action = SkinAction::None;
    SkinStyle m_style;
};

// Depth-first search below `parent` for an object named `name` (letter case
// ignored): each child is compared, then searched, before the next child.
// Null when there is none or `parent` is null.
CSkinObject *FindSkinObject(CSkinObject *parent, const QString &name);
