#pragma once
// Installs the QMessageBox-backed message box. Call once the QApplication
// exists. On Qt's offscreen platform nobody can click, so the box also writes
// its caption and text to standard error and answers at once.
#include "platform/MessageBox.h"

#include <memory>

class QMessageBox;

namespace platform {

void InstallGuiMessageBox();

// The box that handler shows for `request`: caption, the text as plain text
// (it may come from a page, a script or a server), icon and buttons.
std::unique_ptr<QMessageBox> MakeQtMessageBox(const MessageBoxRequest &request);

} // namespace platform
