#include "RunMainWindow.h"

#include "CVelmorApp.h"
#include "CVelmorDlg.h"
#include "FakeDeviceHook.h"

#include "platform/QuitSignals.h"

#include <QApplication>

void RunMainWindow(CVelmorApp &app)
{
    InstallFakeDevicesFromEnvironment();
    {
        CVelmorDlg dlg(app.Args());
        // SIGINT and SIGTERM close the window the way its close box does:
        // off-air notice, every queued sample written, chat sockets closed.
        platform::QuitSignalWatcher quit([&dlg](int) {
            VLOG("Velmor", "종료 신호를 받아 프로그램을 종료합니다.\n");
            dlg.reject();
        });
        if (dlg.OnInitDialog()) {
            dlg.show();
            if (dlg.result() == 0 && dlg.isVisible())
                dlg.exec();
        }
    } // the writer, then the audio and video graphs are released here
    VLOG("Velmor", "프로그램을 종료합니다.\n");
}
