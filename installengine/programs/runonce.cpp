// runonce.exe: started at login by the autostart entry that writing a
// RunOnce value leaves. Deletes each value of HKLM
// "SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce", then runs its command
// and waits for it; removes the autostart entry once no value is left.
// Exit status 0.
#include "CLogFile.h"
#include "CRunOnce.h"

int main()
{
    SetLogToStandardError(true);
    installengine::CRunOnce::RunPending();
    return 0;
}
