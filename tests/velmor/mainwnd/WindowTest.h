#pragma once
// What the main-window and viewer tests share: a temporary folder laid out
// like an installation (Skin/ beside the program), the stand-in service site,
// a private registry store, a log, recorded message boxes and two free
// loopback ports; and opening a CVelmorDlg with a command line.
#include "CLogFile.h"
#include "CVelmorDlg.h"
#include "QtTestApp.h"
#include "RunProgram.h"
#include "ServiceSite.h"
#include "TestDir.h"

#include "platform/CodePage.h"
#include "platform/MessageBox.h"

#include <QApplication>

#include <gtest/gtest.h>

class WindowTest : public testing::Test {
protected:
    explicit WindowTest(const char *name) : dir(name) {}

    void SetUp() override
    {
        App<QApplication>();
        ASSERT_GT(site.Port(), 0);
        setenv("VELMOR_SERVICE_URL", site.BaseUrl().c_str(), 1);
        setenv("VELMOR_REGISTRY_DIR", (dir.path() / "registry").c_str(), 1);
        // The window loads Skin/Main.skn from the current directory.
        m_oldCwd = std::filesystem::current_path();
        std::filesystem::create_directories(ProgramDir());
        std::filesystem::copy(ProgramPath("Skin"), ProgramDir() / "Skin", std::filesystem::copy_options::recursive);
        std::filesystem::current_path(ProgramDir());
        ASSERT_TRUE(log.Open(dir.file("velmor.log").c_str()));
        SetAppLog(&log);
        platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest &r) {
            messages.push_back(r.text);
            return platform::IDOK;
        });
        lport = FreeLoopbackPort();
        elport = FreeLoopbackPort();
    }
    void TearDown() override
    {
        dlg.reset();
        SetAppLog(nullptr);
        platform::SetMessageBoxHandler({});
        std::filesystem::current_path(m_oldCwd);
    }

    // The folder the window runs in, with its Skin/.
    std::filesystem::path ProgramDir() const { return dir.path() / "program"; }

    // Opens the window with the options of `line` (without the "/u").
    void Open(std::string line)
    {
        CommandLineArgs args;
        args.Store(line.data());
        args.Parse();
        SetAppArgs(args);
        dlg = std::make_unique<CVelmorDlg>(args);
        opened = dlg->OnInitDialog();
        dlg->show();
    }

    std::string LogText() const { return platform::AnsiToUtf8(TestDir::Read(dir.path() / "velmor.log")); }

    TestDir dir;
    ServiceSite site{dir.path() / "site"};
    CLogFile log;
    std::vector<std::string> messages;
    std::unique_ptr<CVelmorDlg> dlg;
    bool opened = false;
    int lport = 0;
    int elport = 0;

private:
    std::filesystem::path m_oldCwd;
};
