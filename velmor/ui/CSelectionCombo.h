#pragma once
// A drop-down list whose opened list is as wide as its longest entry, so a
// long device name shows whole. GUI thread only.
#include <QComboBox>

class CSelectionCombo : public QComboBox {
    Q_OBJECT
public:
    explicit CSelectionCombo(QWidget *parent = nullptr);

    // The width the opened list takes: the widest entry plus a scroll bar,
    // plus the width of "0"; an empty list gets the width of "0" alone.
    int DroppedWidth() const;

    void showPopup() override;
};
