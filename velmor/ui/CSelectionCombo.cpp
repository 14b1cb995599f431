#include "CSelectionCombo.h"

#include <QAbstractItemView>
#include <QStyle>

CSelectionCombo::CSelectionCombo(QWidget *parent) : QComboBox(parent) {}

int CSelectionCombo::DroppedWidth() const
{
    const QFontMetrics metrics(font());
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    int widest = 0;
    for (int i = 0; i < count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(itemText(i)) + scrollBar);
    return widest + metrics.horizontalAdvance(QStringLiteral("0"));
}

void CSelectionCombo::showPopup()
{
    // Never narrower than the combo itself.
    view()->setMinimumWidth(std::max(DroppedWidth(), width()));
    QComboBox::showPopup();
}
