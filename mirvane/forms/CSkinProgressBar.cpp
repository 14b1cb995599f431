#include "CSkinProgressBar.h"

#include "ISkinControl.h"

#include <QPainter>

CSkinProgressBar::CSkinProgressBar(ISkinControl *skin, QWidget *parent) : QWidget(parent), m_skin(skin)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

int CSkinProgressBar::PercentOf(std::int64_t done, std::int64_t total)
{
    if (total == -1)
        return 100;
    if (total <= 0 || done <= 0)
        return 0;
    if (done >= total)
        return 100;
    // done < total here; the product is taken in 128 bits so any length
    // gives the exact whole percentage.
    __extension__ using Wide = __int128;
    return static_cast<int>(static_cast<Wide>(done) * 100 / total);
}

bool CSkinProgressBar::SetPos(std::int64_t done, std::int64_t total)
{
    const int percent = PercentOf(done, total);
    if (percent == m_percent)
        return false;
    m_percent = percent;
    update();
    return true;
}

void CSkinProgressBar::paintEvent(QPaintEvent *)
{
    ++m_paintCount;
    QPainter painter(this);
    const QRect all = rect();
    const int doneWidth = all.width() * m_percent / 100;
    if (!m_skin || !m_skin->DrawImage(painter, QString::fromLatin1(kEmptyImage), all, 0))
        painter.fillRect(all, QColor(0xE4, 0xE9, 0xF0));
    if (doneWidth > 0) {
        // The filled image is laid over the whole bar and cut at the done
        // part, so its ends keep their shape.
        painter.save();
        painter.setClipRect(QRect(all.x(), all.y(), doneWidth, all.height()));
        if (!m_skin || !m_skin->DrawImage(painter, QString::fromLatin1(kFilledImage), all, 0))
            painter.fillRect(all, QColor(0x3A, 0x7B, 0xD5));
        painter.restore();
    }
    if (m_skin)
        m_skin->SelectFont(painter);
    const QString text = QString::number(m_percent) + u'%';
    // The figure stays readable over both parts: a light halo, dark text.
    painter.setPen(QColor(255, 255, 255, 170));
    painter.drawText(all.translated(1, 1), Qt::AlignCenter, text);
    painter.setPen(QColor(0x1F, 0x2A, 0x3A));
    painter.drawText(all, Qt::AlignCenter, text);
}
