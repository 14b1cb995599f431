#include "CProgressLine.h"

#include <QStringList>

void CProgressLine::Change(QString &field, const QString &value)
{
    if (field != value) {
        field = value;
        m_changed = true;
    }
}

void CProgressLine::SetPercent(int percent)
{
    if (m_percent != percent) {
        m_percent = percent;
        m_changed = true;
    }
}

QString CProgressLine::Line() const
{
    QStringList parts;
    if (!m_status.isEmpty())
        parts << m_status;
    if (!m_file.isEmpty())
        parts << m_file;
    if (m_percent >= 0)
        parts << QString::number(m_percent) + u'%';
    if (!m_speed.isEmpty())
        parts << m_speed;
    return parts.join(QStringLiteral("  "));
}

std::optional<QString> CProgressLine::Take(std::int64_t nowMs)
{
    if (!m_changed || (m_lastMs && nowMs - *m_lastMs < m_intervalMs))
        return std::nullopt;
    m_lastMs = nowMs;
    m_changed = false;
    return Line();
}

std::optional<QString> CProgressLine::Flush()
{
    if (!m_changed)
        return std::nullopt;
    m_changed = false;
    return Line();
}
