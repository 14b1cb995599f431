#pragma once
// The property pages of a capture device: a modal dialog with one slider per
// adjustable control (brightness, contrast, volume ...). Moving a slider sets
// the control at once, as the device's own pages would.
#include <QDialog>

class CDeviceControls;

class CPropertyFrame : public QDialog {
    Q_OBJECT
public:
    CPropertyFrame(CDeviceControls &controls, QWidget *parent = nullptr);
};
