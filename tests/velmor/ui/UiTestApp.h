#pragma once
// The one QApplication of a widget test executable, made on first use.
#include <QApplication>

inline QApplication &UiTestApp()
{
    static int argc = 1;
    static char name[] = "ui_tests";
    static char *argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}
