#pragma once
// The small topmost notice shown instead of the progress window when the
// page asks for no progress: "%s을(를) 설치 중입니다. 잠시만 기다려주세요."
// in a frameless box centred on the desktop.
#include <QWidget>

class QLabel;

class CInstallNotice : public QWidget {
    Q_OBJECT
public:
    explicit CInstallNotice(const QString &korName, QWidget *parent = nullptr);
    QString Text() const;

private:
    QLabel *m_text = nullptr;
};
