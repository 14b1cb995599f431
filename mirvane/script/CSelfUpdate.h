#pragma once
// The updater replacing itself. A running Mirvane.exe cannot install its
// own patch, so:
//
// 1. The updater whose version differs from the script's copies
//    "Mirvane.exe", "Mirvane.cfg" and "Mirvane.skin" (with its image folder
//    "MirvaneSkin") from the current directory into the patch folder, a
//    folder of its own in the temporary folder, and starts the copy there
//    with "/patch" and its own command line (StartCopy). The copy needs
//    nothing else beside it: it loads the skin control from the path
//    registered under its class id.
// 2. The copy downloads "updater"/"Patch" and installs it into the install
//    directory: a cabinet ("cab") is extracted there, any other file copied
//    there under its name (InstallPatch).
// 3. It starts the new "Mirvane.exe" in the install directory with "/patch"
//    and the other words of its command line (StartNewUpdater), and ends.
//    The new updater, started with "/patch" from outside the patch folder,
//    installs nothing: when it still is not the script's updater the patch
//    did not deliver it, and it says so instead of starting another copy,
//    so the self-update runs at most once per start.
//
// The copy reads the update script from a file of its own in the patch
// folder (OwnCopyOfScript): the new updater fetches the script to the shared
// name while the copy is still ending.
//
// Failures are shown through the decision's message box, in the updater's
// words; each function shows at most one message.
#include "CDownloader.h"
#include "IUpdateUi.h"

#include <string>

class CSelfUpdate {
public:
    static constexpr const char *kFolderName = "MirvanePatch";
    static constexpr const char *kProgramName = "Mirvane.exe";

    CSelfUpdate(IUpdateUi &ui, const CDownloader &downloader) : m_ui(ui), m_downloader(downloader) {}

    // The patch folder: the temporary folder's "MirvanePatch"; empty when
    // the temporary folder may not be used.
    static std::string PatchFolder();
    // Whether the running program is the copy in the patch folder.
    static bool RunningAsCopy();
    // The copy's own copy of the fetched `script` in the patch folder, or
    // the empty text after the patch failure message.
    std::string OwnCopyOfScript(const std::string &script);

    // Step 1. True when the copy was started.
    bool StartCopy(const std::string &commandLine);
    // Step 2: `patchUrl` and its optional SHA-256 digest from the script.
    bool InstallPatch(const std::string &patchUrl, const std::string &sha256, const std::string &installDir);
    // Step 3.
    bool StartNewUpdater(const std::string &installDir, const std::string &passThrough);

private:
    void Fail(const char *text);

    IUpdateUi &m_ui;
    const CDownloader &m_downloader;
};
