#pragma once
// Restarting the machine (ExitWindowsEx with EWX_REBOOT), behind one function.
//
// $VELMOR_RESTART_COMMAND, when set, is run instead (through /bin/sh; tests
// set it to a command that records the request). Otherwise, with a display, a
// reboot is asked of logind ("systemctl reboot"). Without a display and
// without that variable nothing is restarted, and the log says so.
namespace platform {

// True when the restart was asked for (or the stand-in command ran).
bool RestartSystem();

} // namespace platform
