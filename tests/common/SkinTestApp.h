#pragma once
// The one QApplication of a widget test executable, made on first use and
// kept to the end of the process.
#include <QApplication>

inline QApplication &SkinTestApp()
{
    static int argc = 1;
    static char name[] = "skin_tests";
    static char *argv[] = {name, nullptr};
    // Never destroyed: Qt's own globals are gone by the time static objects
    // are, and an application torn down after them crashes at exit.
    static QApplication *app = new QApplication(argc, argv);
    return *app;
}
