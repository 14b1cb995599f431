#pragma once
// The keyboard hook of the progress window, installed on the window's
// thread for as long as the window lives: it swallows the keys that would
// close a window (Esc, Alt+F4, Ctrl+W) anywhere in the application, so an
// installation cannot be broken off half-way through.
#include <QObject>

class CKeyboardHook : public QObject {
    Q_OBJECT
public:
    CKeyboardHook();
    ~CKeyboardHook() override;

    // Keys swallowed so far.
    int Swallowed() const { return m_swallowed; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int m_swallowed = 0;
};
