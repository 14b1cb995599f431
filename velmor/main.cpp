// Velmor.exe: the broadcaster and viewer program.
#include "CVelmorApp.h"

#include <cstdio>

#ifdef VELMOR_HAVE_MAINWND
#include "RunMainWindow.h"
#endif

#if defined(__SANITIZE_THREAD__)
// The thread-sanitizer build: GStreamer's plugins and GLib's type
// registration nest more locks than the deadlock detector can track.
extern "C" const char *__tsan_default_options()
{
    return "detect_deadlocks=0";
}
#endif

int main(int argc, char **argv)
{
    CVelmorApp app;
#ifdef VELMOR_HAVE_MAINWND
    app.SetMainWindowRunner(&RunMainWindow);
#else
    app.SetMainWindowRunner([](CVelmorApp &self) {
        const CommandLineArgs &a = self.Args();
        VLOG("Velmor", "주 창이 아직 없어 시작 인자만 확인하고 종료합니다.\n");
        std::printf("Velmor: start=%u lport=%u elport=%u (main window not built yet)\n",
                    a.start, a.lport, a.elport);
    });
#endif
    return app.Run(argc, argv);
}
