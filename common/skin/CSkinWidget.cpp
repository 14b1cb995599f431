#include "CSkinWidget.h"

#include "SkinFonts.h"

#include <QEvent>
#include <QHelpEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

namespace {

int ButtonCode(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return SKIN_LBUTTON;
    case Qt::RightButton:
        return SKIN_RBUTTON;
    case Qt::MiddleButton:
        return SKIN_MBUTTON;
    default:
        return 0;
    }
}

bool Reacts(const CSkinObject &o)
{
    return o.GetKind() == SkinKind::Button || o.GetKind() == SkinKind::Check ||
           o.GetKind() == SkinKind::Slider || o.GetAction() != SkinAction::None;
}

// The window edges a size grip drags: the form edges the grip touches, or
// the bottom-right corner for a grip that touches none.
Qt::Edges GripEdges(const CSkinObject &grip, const QSize &form)
{
    const QRect r = grip.GetFormRect();
    Qt::Edges edges;
    if (r.left() <= 0)
        edges |= Qt::LeftEdge;
    if (r.top() <= 0)
        edges |= Qt::TopEdge;
    if (r.left() + r.width() >= form.width())
        edges |= Qt::RightEdge;
    if (r.top() + r.height() >= form.height())
        edges |= Qt::BottomEdge;
    // A grip along a whole side touches both neighbouring sides too: keep
    // only the side it runs along.
    if ((edges & Qt::LeftEdge) && (edges & Qt::RightEdge))
        edges &= ~(Qt::LeftEdge | Qt::RightEdge);
    if ((edges & Qt::TopEdge) && (edges & Qt::BottomEdge))
        edges &= ~(Qt::TopEdge | Qt::BottomEdge);
    if (!edges)
        edges = Qt::RightEdge | Qt::BottomEdge;
    return edges;
}

} // namespace

CSkinWidget::CSkinWidget(QWidget *window) : QWidget(window), m_window(window)
{
    InstallKoreanFontSubstitutes();
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    if (window) {
        setGeometry(window->rect());
        window->installEventFilter(this);
    }
    lower();
    // The sink hears every event the signals carry, in the same order.
    connect(this, &CSkinWidget::SkinMouseDown, this, [this](CSkinObject *o, int button, int x, int y) {
        if (m_sink)
            m_sink->OnSkinMouseDown(o, button, x, y);
    });
    connect(this, &CSkinWidget::SkinMouseUp, this, [this](CSkinObject *o, int button, int x, int y) {
        if (m_sink)
            m_sink->OnSkinMouseUp(o, button, x, y);
    });
    connect(this, &CSkinWidget::SkinSliderChanged, this, [this](CSkinObject *o, int value) {
        if (m_sink)
            m_sink->OnSkinSliderChanged(o, value);
    });
    connect(this, &CSkinWidget::SkinSliderHover, this, [this](CSkinObject *o, int value) {
        if (m_sink)
            m_sink->OnSkinSliderHover(o, value);
    });
}

CSkinWidget::~CSkinWidget()
{
    if (m_window)
        m_window->removeEventFilter(this);
}

HRESULT CSkinWidget::LoadSkinFile(const QString &path)
{
    m_hover = m_pressed = nullptr;
    m_root.reset();
    return m_skin.Load(path);
}

HRESULT CSkinWidget::ApplySkin(const QString &formName)
{
    const CSkinObject *form = m_skin.FindForm(formName);
    if (!form)
        return E_FAIL;
    m_hover = m_pressed = nullptr;
    m_root = form->Clone();
    m_root->AttachView(this);
    if (m_window) {
        // The window takes the form's size; the form follows the window from
        // then on.
        const QSize size = m_root->GetRect().size();
        if (size.width() > 0 && size.height() > 0)
            m_window->resize(size);
        setGeometry(m_window->rect());
        m_root->ResizeTo(m_window->size());
        lower();
    }
    update();
    return S_OK;
}

void CSkinWidget::Refresh(int)
{
    update();
}

QFont CSkinWidget::GetFont() const
{
    return m_skin.Font();
}

void CSkinWidget::SelectFont(QPainter &painter) const
{
    painter.setFont(m_skin.Font());
}

bool CSkinWidget::DrawImage(QPainter &painter, const QString &name, const QRect &target, int state) const
{
    return m_skin.DrawImage(painter, name, target, state);
}

CSkinObject *CSkinWidget::InteractiveObjectAt(const QPoint &point) const
{
    if (!m_root)
        return nullptr;
    CSkinObject *deepest = m_root->ObjectAt(point);
    for (CSkinObject *o = deepest; o; o = o->GetParent())
        if (Reacts(*o))
            return o;
    return deepest;
}

bool CSkinWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Resize) {
        setGeometry(m_window->rect());
        if (m_root)
            m_root->ResizeTo(m_window->size());
        update();
    }
    return QWidget::eventFilter(watched, event);
}

bool CSkinWidget::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        CSkinObject *o = InteractiveObjectAt(help->pos());
        if (o && !o->GetTooltip().isEmpty())
            QToolTip::showText(help->globalPos(), o->GetTooltip(), this, o->GetFormRect());
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

void CSkinWidget::InvalidateObject(CSkinObject *object)
{
    // A rectangle grown by the border width covers frames drawn on the edge.
    update(object->GetFormRect().adjusted(-2, -2, 2, 2));
}

bool CSkinWidget::IsAlive(const CSkinObject *object) const
{
    return object && object->IsShown();
}

void CSkinWidget::SetHover(CSkinObject *object)
{
    if (object == m_hover)
        return;
    if (m_hover)
        InvalidateObject(m_hover);
    m_hover = object;
    if (m_hover)
        InvalidateObject(m_hover);
}

void CSkinWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!m_root) {
        painter.fillRect(rect(), palette().window());
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    PaintObject(painter, *m_root);
}

QFont CSkinWidget::FontFor(const CSkinObject &object) const
{
    QFont font = m_skin.Font();
    const SkinStyle &s = object.Style();
    if (!s.fontFace.isEmpty())
        font.setFamily(s.fontFace);
    if (s.fontSize > 0)
        font.setPointSize(s.fontSize);
    font.setBold(s.bold);
    return font;
}

void CSkinWidget::PaintCaption(QPainter &painter, const CSkinObject &object, const QRect &r, bool hover) const
{
    if (object.GetCaption().isEmpty())
        return;
    const SkinStyle &s = object.Style();
    QColor color = s.textColor;
    if (!object.IsEnabled())
        color = s.disabledTextColor;
    else if (hover && s.hoverTextColor.isValid())
        color = s.hoverTextColor;
    painter.setFont(FontFor(object));
    painter.setPen(color);
    painter.drawText(r.adjusted(s.padding, 0, -s.padding, 0), static_cast<int>(s.align) | Qt::TextSingleLine,
                     object.GetCaption());
}

void CSkinWidget::PaintObject(QPainter &painter, const CSkinObject &object) const
{
    if (!object.IsVisible())
        return;
    const QRect r = object.GetFormRect();
    const SkinStyle &s = object.Style();
    const bool clickable = object.GetKind() == SkinKind::Button || object.GetKind() == SkinKind::Check;
    const bool hover = &object == m_hover && object.IsEnabled();
    const bool pressed = clickable && object.IsEnabled() &&
                         ((&object == m_pressed && &object == m_hover) || object.GetChecked());
    // Image strip states: 0 normal, 1 hover, 2 pressed or checked, 3 disabled.
    int state = 0;
    if (!object.IsEnabled())
        state = 3;
    else if (pressed)
        state = 2;
    else if (hover)
        state = 1;

    QColor fill = s.fill;
    if (clickable && pressed && s.pressedFill.isValid())
        fill = s.pressedFill;
    else if (hover && s.hoverFill.isValid())
        fill = s.hoverFill;
    if (fill.isValid()) {
        QBrush brush(fill);
        if (s.fill2.isValid() && !(pressed && s.pressedFill.isValid()) && !(hover && s.hoverFill.isValid())) {
            QLinearGradient gradient(r.topLeft(), r.bottomLeft());
            gradient.setColorAt(0, fill);
            gradient.setColorAt(1, s.fill2);
            brush = QBrush(gradient);
        }
        if (s.radius > 0) {
            painter.setRenderHint(QPainter::Antialiasing, true);
            QPainterPath path;
            path.addRoundedRect(QRectF(r), s.radius, s.radius);
            painter.fillPath(path, brush);
            painter.setRenderHint(QPainter::Antialiasing, false);
        } else {
            painter.fillRect(r, brush);
        }
    }
    if (!s.image.isEmpty()) {
        const int states = m_skin.ImageStates(s.image);
        m_skin.DrawImage(painter, s.image, r, states > 1 ? std::min(state, states - 1) : 0, s.slice);
    }
    if (object.GetKind() == SkinKind::Slider) {
        const QRect thumb = object.ThumbRect();
        if (!s.thumbImage.isEmpty()) {
            const int states = m_skin.ImageStates(s.thumbImage);
            m_skin.DrawImage(painter, s.thumbImage, thumb, states > 1 ? std::min(state, states - 1) : 0);
        } else {
            painter.fillRect(thumb, object.IsEnabled() ? s.thumbFill : s.disabledTextColor);
        }
    }
    if (s.border.isValid() && s.borderWidth > 0) {
        QPen pen(s.border);
        pen.setWidth(s.borderWidth);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const int half = s.borderWidth / 2;
        const QRect inner = r.adjusted(half, half, -(s.borderWidth - half), -(s.borderWidth - half));
        if (s.radius > 0) {
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.drawRoundedRect(QRectF(inner).adjusted(0.5, 0.5, 0.5, 0.5), s.radius, s.radius);
            painter.setRenderHint(QPainter::Antialiasing, false);
        } else {
            painter.drawRect(inner);
        }
    }
    if (object.GetKind() != SkinKind::Slider && object.GetKind() != SkinKind::Form)
        PaintCaption(painter, object, pressed ? r.translated(1, 1) : r, hover);
    painter.save();
    if (object.GetKind() != SkinKind::Form)
        painter.setClipRect(r, Qt::IntersectClip);
    for (int i = 0; i < object.GetChildCount(); ++i)
        PaintObject(painter, *object.GetChild(i));
    painter.restore();
}

void CSkinWidget::mousePressEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    const int button = ButtonCode(event->button());
    CSkinObject *o = InteractiveObjectAt(pos);
    if (!o || !button)
        return;
    Q_EMIT SkinMouseDown(o, button, pos.x(), pos.y());
    // The handler may have re-applied the skin or hidden the object.
    if (!m_root || !IsAlive(o) || InteractiveObjectAt(pos) != o)
        return;
    m_pressed = o;
    m_pressedButton = button;
    InvalidateObject(o);
    if (button != SKIN_LBUTTON || !o->IsEnabled())
        return;
    if (o->GetAction() == SkinAction::Move || o->GetAction() == SkinAction::Size) {
        m_draggingWindow = true;
        const Qt::Edges edges = o->GetAction() == SkinAction::Size ? GripEdges(*o, size()) : Qt::Edges();
        Q_EMIT WindowDragStarted(event->globalPosition().toPoint(), edges);
    } else if (o->GetKind() == SkinKind::Slider) {
        m_draggingSlider = true;
        if (o->SetValue(o->ValueAtPoint(pos)))
            Q_EMIT SkinSliderChanged(o, o->GetValue());
    }
}

void CSkinWidget::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (m_draggingWindow) {
        Q_EMIT WindowDragMoved(event->globalPosition().toPoint());
        return;
    }
    if (m_draggingSlider && IsAlive(m_pressed)) {
        if (m_pressed->SetValue(m_pressed->ValueAtPoint(pos)))
            Q_EMIT SkinSliderChanged(m_pressed, m_pressed->GetValue());
        Q_EMIT SkinSliderHover(m_pressed, m_pressed->GetValue());
        return;
    }
    CSkinObject *o = InteractiveObjectAt(pos);
    SetHover(o);
    if (o && o->GetKind() == SkinKind::Slider && o->IsEnabled())
        Q_EMIT SkinSliderHover(o, o->GetValue());
}

void CSkinWidget::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    const int button = ButtonCode(event->button());
    CSkinObject *pressed = m_pressed;
    const bool sameButton = pressed && button == m_pressedButton;
    const bool wasDraggingWindow = m_draggingWindow;
    m_draggingSlider = false;
    m_draggingWindow = false;
    if (!sameButton) {
        // Another button's release ends nothing that was started.
        return;
    }
    m_pressed = nullptr;
    m_pressedButton = 0;
    if (wasDraggingWindow)
        Q_EMIT WindowDragEnded();
    if (!IsAlive(pressed))
        return;
    InvalidateObject(pressed);
    Q_EMIT SkinMouseUp(pressed, button, pos.x(), pos.y());
    if (!m_root || !IsAlive(pressed))
        return;
    // A click: released with the left button over the object it started on.
    if (button != SKIN_LBUTTON || !pressed->IsEnabled() || InteractiveObjectAt(pos) != pressed)
        return;
    if (pressed->GetKind() == SkinKind::Check)
        pressed->SetChecked(!pressed->GetChecked());
    if (pressed->GetAction() == SkinAction::Close)
        Q_EMIT SkinSystemCommand(SKIN_SC_CLOSE);
    else if (pressed->GetAction() == SkinAction::Minimize)
        Q_EMIT SkinSystemCommand(SKIN_SC_MINIMIZE);
    if (pressed->GetCommand() != 0 && IsAlive(pressed))
        Q_EMIT SkinCommand(pressed->GetCommand());
}

void CSkinWidget::leaveEvent(QEvent *event)
{
    SetHover(nullptr);
    QWidget::leaveEvent(event);
}
