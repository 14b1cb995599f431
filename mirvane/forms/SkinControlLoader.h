#pragma once
// The skin control as the updater finds it: the library registered under
// the control's class id (HKCR\CLSID\{BA8C584B-...}\InprocServer32), loaded
// at run time, and its factory.
#include "ISkinControl.h"

#include "platform/Module.h"

#include <string>

class QWidget;

// The registered path of the skin control; empty when none is registered.
std::string RegisteredSkinControlPath();

// Loads the registered library into `module` (which must outlive the
// control) and makes a control for `window`. Null when the control is not
// registered, cannot be loaded or offers no control, with the reason in
// `error`.
ISkinControl *CreateRegisteredSkinControl(platform::CModule &module, QWidget *window, std::string &error);
