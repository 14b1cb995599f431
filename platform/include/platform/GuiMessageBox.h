#pragma once
// Installs the QMessageBox-backed message box. Call once the QApplication
// exists. On Qt's offscreen platform nobody can click, so the box also writes
// its caption and text to standard error and answers at once.
namespace platform {
void InstallGuiMessageBox();
}
