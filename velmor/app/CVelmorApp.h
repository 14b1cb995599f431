#pragma once
// Velmor's application object: opens the log, hands a start that did not come
// through the updater over to Mirvane, parses the options and runs the main
// window for the whole life of the program.
#include "CLogFile.h"
#include "CommandLineArgs.h"

#include <functional>
#include <memory>
#include <string>

class QApplication;

class CVelmorApp {
public:
    // Runs the main window modally; returns when it has closed.
    using MainWindowRunner = std::function<void(CVelmorApp &)>;

    CVelmorApp();
    ~CVelmorApp();
    CVelmorApp(const CVelmorApp &) = delete;
    CVelmorApp &operator=(const CVelmorApp &) = delete;

    void SetMainWindowRunner(MainWindowRunner runner) { m_runMainWindow = std::move(runner); }

    // Start-up with the process's arguments; returns the process exit code.
    int Run(int argc, char **argv);

    // The whole start-up. Always returns false: the program ends when it returns.
    bool InitInstance();

    CLogFile &Log() { return m_log; }
    const CommandLineArgs &Args() const { return m_args; }
    const std::string &RawCommandLine() const { return m_commandLine; }
    bool Headless() const { return m_headless; }

    static CVelmorApp *Current();

    // Where the updater marker stands: "/u" or "/U" at the very front of the
    // line (after leading blanks), followed by a blank or the end. Returns the
    // offset of the options after the marker and its blank, or -1.
    static int FindUpdaterMarker(const std::string &line);

private:
    void PrintArgs() const;

    int m_argc = 0;
    char **m_argv = nullptr;
    std::string m_commandLine;
    bool m_headless = false;
    std::unique_ptr<QApplication> m_qtApp;
    MainWindowRunner m_runMainWindow;
    CommandLineArgs m_args;
    CLogFile m_log; // last member: closed when everything else is gone
};
