#pragma once
// The Qt application of a test executable, made on first use, and a loop
// that runs its events until a condition holds.
#include <QCoreApplication>
#include <QElapsedTimer>

// App<QApplication>() for widget tests, App<QCoreApplication>() otherwise.
// Never destroyed: Qt objects the tests made (input devices among them) must
// not outlive it during the exit handlers.
template <typename Application>
Application &App()
{
    static int argc = 1;
    static char name[] = VELMOR_TEST_NAME;
    static char *argv[] = {name, nullptr};
    static Application *app = new Application(argc, argv);
    return *app;
}

// Runs the event loop until `done()` is true or `timeoutMs` has passed;
// returns `done()`.
template <typename Pred>
bool PumpUntil(Pred done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

inline void Pump(int ms)
{
    PumpUntil([] { return false; }, ms);
}
