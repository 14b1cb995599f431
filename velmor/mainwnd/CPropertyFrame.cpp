#include "CPropertyFrame.h"

#include "CDeviceControls.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

CPropertyFrame::CPropertyFrame(CDeviceControls &controls, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QString::fromStdString(controls.Caption()));
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    layout->addLayout(form);
    for (std::size_t i = 0; i < controls.Controls().size(); ++i) {
        const DeviceControl &c = controls.Controls()[i];
        auto *slider = new QSlider(Qt::Horizontal, this);
        slider->setRange(c.minimum, c.maximum);
        slider->setValue(c.value);
        slider->setMinimumWidth(200);
        auto *value = new QLabel(QString::number(c.value), this);
        value->setMinimumWidth(40);
        auto *row = new QHBoxLayout;
        row->addWidget(slider);
        row->addWidget(value);
        form->addRow(QString::fromStdString(c.name), row);
        connect(slider, &QSlider::valueChanged, this, [&controls, i, slider, value](int v) {
            controls.Set(i, v);
            const int now = controls.Controls()[i].value;
            value->setText(QString::number(now));
            if (now != v) {
                const QSignalBlocker block(slider);
                slider->setValue(now);
            }
        });
    }
    if (controls.Controls().empty())
        form->addRow(new QLabel(QStringLiteral("조절할 수 있는 항목이 없습니다."), this));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
    layout->addWidget(buttons);
}
