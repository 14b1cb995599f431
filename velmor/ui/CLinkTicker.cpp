#include "CLinkTicker.h"

#include "platform/Process.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {
const QColor kTextColor(0, 0, 0);
const QColor kLinkColor(0, 0, 255);
const QColor kHoverColor(255, 0, 0);
} // namespace

CLinkTicker::CLinkTicker(QWidget *parent) : QFrame(parent)
{
    setMouseTracking(true);
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &CLinkTicker::Tick);
    m_openLink = [](const std::string &url) { return platform::OpenWithSystemHandler(url); };
    UpdateFonts();
    m_textRect = rect().adjusted(2, 2, -2, -2);
}

CLinkTicker::~CLinkTicker() = default;

void CLinkTicker::UpdateFonts()
{
    m_bold = font();
    m_bold.setBold(true);
    m_boldUnderline = m_bold;
    m_boldUnderline.setUnderline(true);
}

void CLinkTicker::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange) {
        UpdateFonts();
        Measure();
    }
    QFrame::changeEvent(event);
}

void CLinkTicker::AddItem(const QString &text, const std::string &link)
{
    Item item;
    item.text = text;
    item.link = link;
    m_items.push_back(std::move(item));
    Measure();
}

void CLinkTicker::Measure()
{
    const QFontMetrics metrics(m_bold);
    for (Item &item : m_items) {
        item.width = metrics.horizontalAdvance(item.text);
        item.height = metrics.height();
    }
}

int CLinkTicker::ItemWidth(int item) const
{
    return item >= 0 && item < static_cast<int>(m_items.size())
               ? m_items[static_cast<std::size_t>(item)].width
               : 0;
}

void CLinkTicker::Start(bool restart)
{
    m_timer.stop();
    if (restart) {
        m_textRect = rect().adjusted(2, 2, -2, -2);
        m_copies.clear();
        Measure();
        if (!m_items.empty())
            m_copies.push_back({0, m_textRect.right() + 1});
        update();
    }
    m_timer.start();
}

void CLinkTicker::Stop()
{
    m_timer.stop();
}

void CLinkTicker::Tick()
{
    if (m_items.empty())
        return;
    for (Copy &c : m_copies)
        --c.x;
    const int left = m_textRect.left();
    const int right = m_textRect.right() + 1;
    // The leftmost copy goes once it has scrolled out.
    while (!m_copies.empty() && m_copies.front().x + ItemWidth(m_copies.front().item) <= left)
        m_copies.pop_front();
    // The next item enters once the last one's end and the gap have come in.
    if (m_copies.empty()) {
        m_copies.push_back({0, right});
    } else {
        const Copy &last = m_copies.back();
        if (last.x + ItemWidth(last.item) + kGap < right) {
            const int next = (last.item + 1) % static_cast<int>(m_items.size());
            m_copies.push_back({next, right});
        }
    }
    update(m_textRect);
}

void CLinkTicker::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().button());
    // The etched frame: shadow at top-left outside, highlight inside.
    const QColor shadow = palette().dark().color();
    const QColor light = palette().light().color();
    const QRect outer = rect().adjusted(0, 0, -1, -1);
    painter.setPen(shadow);
    painter.drawLine(outer.topLeft(), outer.topRight());
    painter.drawLine(outer.topLeft(), outer.bottomLeft());
    painter.setPen(light);
    painter.drawLine(outer.bottomLeft(), outer.bottomRight());
    painter.drawLine(outer.topRight(), outer.bottomRight());
    const QRect inner = outer.adjusted(1, 1, -1, -1);
    painter.setPen(light);
    painter.drawLine(inner.topLeft(), inner.topRight());
    painter.drawLine(inner.topLeft(), inner.bottomLeft());
    painter.setPen(shadow);
    painter.drawLine(inner.bottomLeft(), inner.bottomRight());
    painter.drawLine(inner.topRight(), inner.bottomRight());

    painter.setClipRect(m_textRect);
    for (const Copy &c : m_copies) {
        const Item &item = m_items[static_cast<std::size_t>(c.item)];
        const bool hovered = c.item == m_hovered;
        painter.setFont(hovered ? m_boldUnderline : m_bold);
        painter.setPen(hovered ? kHoverColor : item.link.empty() ? kTextColor : kLinkColor);
        const QRect r(c.x, m_textRect.top(), item.width, m_textRect.height());
        painter.drawText(r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, item.text);
    }
}

void CLinkTicker::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    m_textRect = rect().adjusted(2, 2, -2, -2);
}

int CLinkTicker::CopyAt(const QPoint &pos) const
{
    if (!m_textRect.contains(pos))
        return -1;
    for (const Copy &c : m_copies)
        if (pos.x() >= c.x && pos.x() < c.x + ItemWidth(c.item))
            return c.item;
    return -1;
}

void CLinkTicker::mouseMoveEvent(QMouseEvent *event)
{
    const int item = CopyAt(event->position().toPoint());
    if (item >= 0) {
        m_timer.stop();
        m_tracking = true;
    }
    if (item != m_hovered) {
        m_hovered = item;
        setCursor(item >= 0 && !m_items[static_cast<std::size_t>(item)].link.empty() ? Qt::PointingHandCursor
                                                                                     : Qt::ArrowCursor);
        update(m_textRect);
    }
}

void CLinkTicker::leaveEvent(QEvent *event)
{
    QFrame::leaveEvent(event);
    m_hovered = -1;
    if (m_tracking) {
        m_tracking = false;
        update(m_textRect);
        m_timer.start();
    }
}

void CLinkTicker::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_hovered < 0)
        return;
    const Item &item = m_items[static_cast<std::size_t>(m_hovered)];
    if (!item.link.empty() && m_openLink)
        m_openLink(item.link);
}
