#pragma once
// Runs Velmor's main window modally for the whole life of the program.
class CVelmorApp;
void RunMainWindow(CVelmorApp &app);
