#include "CSkinObject.h"

#include <algorithm>

CSkinObject::CSkinObject(SkinKind kind, QString name) : m_kind(kind), m_name(std::move(name)) {}

CSkinObject::~CSkinObject() = default;

std::unique_ptr<CSkinObject> CSkinObject::Clone() const
{
    auto copy = std::make_unique<CSkinObject>(m_kind, m_name);
    copy->m_rect = m_rect;
    copy->m_anchorRect = m_anchorRect;
    copy->m_anchorParentSize = m_anchorParentSize;
    copy->m_anchors = m_anchors;
    copy->m_visible = m_visible;
    copy->m_enabled = m_enabled;
    copy->m_checked = m_checked;
    copy->m_caption = m_caption;
    copy->m_tooltip = m_tooltip;
    copy->m_minimum = m_minimum;
    copy->m_maximum = m_maximum;
    copy->m_value = m_value;
    copy->m_vertical = m_vertical;
    copy->m_command = m_command;
    copy->m_action = m_action;
    copy->m_style = m_style;
    for (const auto &child : m_children)
        copy->AddChild(child->Clone());
    return copy;
}

CSkinObject *CSkinObject::GetChild(int index) const
{
    if (index < 0 || index >= GetChildCount())
        return nullptr;
    return m_children[static_cast<std::size_t>(index)].get();
}

CSkinObject *CSkinObject::AddChild(std::unique_ptr<CSkinObject> child)
{
    child->m_parent = this;
    child->AttachView(m_view);
    m_children.push_back(std::move(child));
    return m_children.back().get();
}

void CSkinObject::SetRect(const QRect &rect)
{
    Invalidate();
    m_rect = rect;
    m_anchorRect = rect;
    m_anchorParentSize = m_parent ? m_parent->m_rect.size() : QSize();
    for (const auto &child : m_children)
        child->ParentResized(m_rect.size());
    Invalidate();
}

QRect CSkinObject::GetFormRect() const
{
    QRect r = m_rect;
    // The form itself sits at the window's origin whatever its rectangle says.
    if (!m_parent)
        return QRect(QPoint(0, 0), r.size());
    for (const CSkinObject *p = m_parent; p && p->m_parent; p = p->m_parent)
        r.translate(p->m_rect.topLeft());
    return r;
}

void CSkinObject::ResizeTo(const QSize &size)
{
    m_rect.setSize(size);
    if (!m_parent) {
        m_anchorRect = m_rect;
    }
    for (const auto &child : m_children)
        child->ParentResized(size);
    Invalidate();
}

// Re-derives the rectangle from the anchoring reference: an edge anchored to
// the right or bottom keeps its distance to that edge of the parent.
void CSkinObject::ParentResized(const QSize &parentSize)
{
    if (!m_anchorParentSize.isValid())
        return;
    const int dw = parentSize.width() - m_anchorParentSize.width();
    const int dh = parentSize.height() - m_anchorParentSize.height();
    int left = m_anchorRect.left();
    int right = m_anchorRect.left() + m_anchorRect.width();
    int top = m_anchorRect.top();
    int bottom = m_anchorRect.top() + m_anchorRect.height();
    if (m_anchors & AnchorRight) {
        right += dw;
        if (!(m_anchors & AnchorLeft))
            left += dw;
    }
    if (m_anchors & AnchorBottom) {
        bottom += dh;
        if (!(m_anchors & AnchorTop))
            top += dh;
    }
    m_rect = QRect(left, top, std::max(0, right - left), std::max(0, bottom - top));
    for (const auto &child : m_children)
        child->ParentResized(m_rect.size());
}

void CSkinObject::SetVisible(bool visible)
{
    if (m_visible == visible)
        return;
    m_visible = visible;
    Invalidate();
}

bool CSkinObject::IsShown() const
{
    for (const CSkinObject *o = this; o; o = o->m_parent)
        if (!o->m_visible)
            return false;
    return true;
}

void CSkinObject::SetEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    Invalidate();
}

void CSkinObject::SetCaption(const QString &caption)
{
    m_caption = caption;
}

void CSkinObject::Refresh()
{
    Invalidate();
}

void CSkinObject::SetChecked(bool checked)
{
    if (m_checked == checked)
        return;
    m_checked = checked;
    Invalidate();
}

void CSkinObject::GetRange(int &minimum, int &maximum) const
{
    minimum = m_minimum;
    maximum = m_maximum;
}

void CSkinObject::SetRange(int minimum, int maximum)
{
    if (maximum < minimum)
        std::swap(minimum, maximum);
    m_minimum = minimum;
    m_maximum = maximum;
    m_value = std::clamp(m_value, m_minimum, m_maximum);
    Invalidate();
}

bool CSkinObject::SetValue(int value)
{
    value = std::clamp(value, m_minimum, m_maximum);
    if (value == m_value)
        return false;
    m_value = value;
    Invalidate();
    return true;
}

// The thumb travels over the object's length less its own size; the value
// maps linearly onto that travel.
QRect CSkinObject::ThumbRect() const
{
    const QRect r = GetFormRect();
    const int span = m_maximum - m_minimum;
    if (m_vertical) {
        const int size = std::min(m_style.thumbSize, r.height());
        const int travel = r.height() - size;
        // The top is the maximum, as on a volume fader.
        const int offset =
            span > 0 ? static_cast<int>(static_cast<long long>(m_maximum - m_value) * travel / span) : 0;
        return QRect(r.left(), r.top() + offset, r.width(), size);
    }
    const int size = std::min(m_style.thumbSize, r.width());
    const int travel = r.width() - size;
    const int offset =
        span > 0 ? static_cast<int>(static_cast<long long>(m_value - m_minimum) * travel / span) : 0;
    return QRect(r.left() + offset, r.top(), size, r.height());
}

int CSkinObject::ValueAtPoint(const QPoint &formPoint) const
{
    const QRect r = GetFormRect();
    const int span = m_maximum - m_minimum;
    if (m_vertical) {
        const int size = std::min(m_style.thumbSize, r.height());
        const int travel = std::max(1, r.height() - size);
        const int pos = std::clamp(formPoint.y() - r.top() - size / 2, 0, travel);
        return m_maximum - static_cast<int>((static_cast<long long>(pos) * span + travel / 2) / travel);
    }
    const int size = std::min(m_style.thumbSize, r.width());
    const int travel = std::max(1, r.width() - size);
    const int pos = std::clamp(formPoint.x() - r.left() - size / 2, 0, travel);
    return m_minimum + static_cast<int>((static_cast<long long>(pos) * span + travel / 2) / travel);
}

bool CSkinObject::HitTest(const QPoint &formPoint) const
{
    return IsShown() && GetFormRect().contains(formPoint);
}

CSkinObject *CSkinObject::ObjectAt(const QPoint &formPoint)
{
    if (!m_visible || !GetFormRect().contains(formPoint))
        return nullptr;
    // Later children are drawn over earlier ones, so they are asked first.
    for (auto it = m_children.rbegin(); it != m_children.rend(); ++it)
        if (CSkinObject *hit = (*it)->ObjectAt(formPoint))
            return hit;
    return this;
}

void CSkinObject::FreezeAnchors()
{
    m_anchorRect = m_rect;
    m_anchorParentSize = m_parent ? m_parent->m_rect.size() : QSize();
    for (const auto &child : m_children)
        child->FreezeAnchors();
}

void CSkinObject::AttachView(ISkinView *view)
{
    m_view = view;
    for (const auto &child : m_children)
        child->AttachView(view);
}

void CSkinObject::Invalidate()
{
    if (m_view)
        m_view->InvalidateObject(this);
}

CSkinObject *FindSkinObject(CSkinObject *parent, const QString &name)
{
    if (!parent)
        return nullptr;
    for (int i = 0; i < parent->GetChildCount(); ++i) {
        CSkinObject *child = parent->GetChild(i);
        if (child->GetName().compare(name, Qt::CaseInsensitive) == 0)
            return child;
        if (CSkinObject *found = FindSkinObject(child, name))
            return found;
    }
    return nullptr;
}
