// Mirvane.exe: the updater. Started (by Velmor.exe, or as its own
// temporary copy with "/patch") in the folder that holds "Mirvane.cfg", it
// brings the installation up to date and starts the configured program.
//
// Exit status: 0 the program was started or another updater carries on,
// 1 the run ended without starting it as the user or the script chose
// (including a restart), 2 it ended after a failure message.
#include "CMirvaneApp.h"

#ifndef MIRVANE_UPDATER_VERSION
#error "The build defines MIRVANE_UPDATER_VERSION, the updater's own version."
#endif

int main(int argc, char **argv)
{
    CMirvaneApp app(MIRVANE_UPDATER_VERSION);
    switch (app.Run(argc, argv)) {
    case CUpdateDecision::Result::Started:
    case CUpdateDecision::Result::HandedOver:
        return 0;
    case CUpdateDecision::Result::Ended:
        return 1;
    case CUpdateDecision::Result::Failed:
        break;
    }
    return 2;
}
