#pragma once
// Everything the install worker is given by the program that runs it: the
// script and the items selected from it, the names and folders of the
// product, what differs between the updater and the web launcher (captions,
// the RunOnce value, the disk name), and the caller's own step after the
// items are installed.
#include "CInstallLists.h"
#include "CInstallNames.h"
#include "CSetupFile.h"

#include "CDownloader.h"

#include <functional>
#include <string>
#include <vector>

namespace installengine {

struct CInstallWorkerOptions {
    // The local copy of the update script (the updater) or the web script
    // (the web launcher): every item section is read from it.
    std::string scriptPath;
    // The selected item sections (SelectUpdateItems, SelectFirstInstallItems).
    CInstallLists items;

    // The local copy of the launch script and the launch items of its
    // "Install" and "ShortCut" lists still to install (the updater only).
    std::string launchScriptPath;
    std::vector<std::string> launchItems;
    // The script's "application"/"RegKey" ("%HKLM%" ...): the root of the
    // launch records. Only read when there are launch items.
    std::string regKey;

    // %APP_KOR_NAME% ... %INSTALL_DIR%.
    CInstallNames names;
    // The setup files: caption of the worker's messages and of the restart
    // question ("Mirvane" or "펠룬"), the RunOnce value ("VelmorInstaller" or
    // "Pellune"), the disk name ("Setup Disk" or "Quenta, Setup Disk").
    // Empty korName, engName, tempDir and installDir are taken from `names`
    // and platform::GetTempPath().
    CSetupFileOptions setup;

    // Caption of the downloader's messages; empty: setup.caption.
    std::string downloaderCaption;
    CDownloader::Limits downloadLimits;

    // The "Install_Prg" total; below 0 it is CountInstallSteps() of the
    // items, which is what the update decision computes.
    int stepTotal = -1;

    // The caller's step after every item is installed and before the
    // install file is handed to the next start ("설치에 사용된 파일 업데이트
    // 중..."): the updater writes its configuration's version back, the web
    // launcher records the installation (install_path, PGroup, the uninstall
    // entry and its shortcut) with its uninstall lines in `setup`. Runs on
    // the worker's thread; false ends the installation with an error. May be
    // empty.
    std::function<bool(CSetupFile &setup)> onInstalled;
};

} // namespace installengine
