#include "CKeyboardHook.h"

#include <QCoreApplication>
#include <QKeyEvent>

CKeyboardHook::CKeyboardHook()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

CKeyboardHook::~CKeyboardHook()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool CKeyboardHook::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool closing = key->key() == Qt::Key_Escape ||
                             (key->key() == Qt::Key_F4 && (key->modifiers() & Qt::AltModifier)) ||
                             (key->key() == Qt::Key_W && (key->modifiers() & Qt::ControlModifier));
        if (closing) {
            if (event->type() == QEvent::KeyPress)
                ++m_swallowed;
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
