#pragma once
// The two INF files an installation writes, in the format the INF runner
// (rundll32.exe advpack.dll,LaunchINFSection) carries out:
//
// - the install file, "<EngName>Install.INF" in the temporary folder: the
//   copies and deletions that could not be done while the system runs (files
//   in use). It is handed to the next start through a RunOnce value and the
//   user is offered a restart. An installation makes it anew, unless a
//   RunOnce value still hands it to the next start: then that work is still
//   to be done, and the installation adds its own lines to it.
// - the uninstall file, "<EngName>UnInstall.INF" in the install folder: it
//   grows over every installation with what is needed to remove the product
//   again, and keeps the inventory of installed files ("UnInstallFile":
//   full path = "install" or "exist").
//
// Both are written line by line through the profile functions. Every
// folder that receives or loses files gets a number n in each file: section
// "Dest<n>" names the folder, "CustomDestinationSection" maps "4900<n>" to it
// and "DestinationDirs" maps the file group "DestGrp<n>" to "4900<n>".
//
// Paths are compared exactly, letter case included: on this file system
// "Data" and "data" are two folders. Names go into the lines as InfLine.h
// encodes them, so the runner reads back exactly the name, also one that
// CP949 cannot hold; a name no line can hold (a line break) is not written
// and the call fails.
//
// Only the install worker's thread uses one object; texts are UTF-8.
#include "platform/Win32Types.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace installengine {

// What differs between the programs that run the engine.
struct CSetupFileOptions {
    std::string korName;    // the product's Korean name: prompts, "Strings"
    std::string engName;    // its English name: file names, "Strings"
    std::string tempDir;    // folder of the install file (GetTempPath())
    std::string installDir; // folder of the uninstall file
    // The install file's source disk: the updater's "Setup Disk", the web
    // launcher's "Quenta, Setup Disk".
    std::string diskName = "Setup Disk";
    // The RunOnce value that hands the install file to the next start: the
    // updater's "VelmorInstaller", the web launcher's "Pellune".
    std::string runOnceName = "VelmorInstaller";
    // Caption of the restart question and its refusal message: "Mirvane" or "펠룬".
    std::string caption = "Mirvane";
    // The logs the installed programs write into the install folder: the
    // uninstall file removes them with the folder.
    std::vector<std::string> programLogs = {"velmor.log", "mirvane.log"};
};

// Which file a record goes to.
enum class SetupTarget { InstallFile, UninstallFile };

// How a file is recorded.
enum RecordMode {
    // Installed by the engine (removed on uninstall), or, in the install
    // file, to delete at the next start.
    RECORD_INSTALLED = 5,
    // An existing file that stays (kept on uninstall).
    RECORD_EXISTING = 6,
    // In use: copied into place at the next start, kept on uninstall.
    RECORD_COPY_AT_RESTART = 7,
};

// How an installation ends after the hand-over.
enum class HandOverResult {
    Complete,      // nothing left for the next start
    RestartNeeded, // the install file waits for the next start
    Failed,        // work is left but could not be handed to the next start
};

class CSetupFile {
public:
    static constexpr const char *kRestartQuestion = "설치를 완료하려면 시스템을 재시작해야 합니다.\n\n지금 "
                                                    "윈도우를 종료하고 시스템을 재시작하시겠습니까?";
    static constexpr const char *kRestartRefused = "시스템을 재시작하지않을 경우 프로그램이 비정상적으로 "
                                                   "동작할 수 있습니다.\n\n프로그램을 실행하기 전에 "
                                                   "수동으로 재시작해 주십시오.";
    static constexpr const char *kCommandPrefix = "rundll32.exe advpack.dll,LaunchINFSection";

    explicit CSetupFile(CSetupFileOptions options);

    const CSetupFileOptions &Options() const { return m_options; }
    // Native paths of the two files.
    const std::string &InstallFilePath() const { return m_installFile; }
    const std::string &UninstallFilePath() const { return m_uninstallFile; }
    const std::string &FilePath(SetupTarget target) const;

    // Creates the install file anew (what had its name is deleted) with its
    // "Version", "SourceDisksNames" and "DefaultInstall" lines; an install
    // file that still waits for the next start is kept as it is.
    HRESULT CreateInstallFile();
    // Whether the install file still waits for the next start: a plain file
    // that a RunOnce value still hands to it.
    bool InstallFileWaits() const;
    // The files the install file names beside it for the next start:
    // waiting name -> the destination's full path (normal form).
    std::map<std::string, std::string> WaitingFiles() const;
    // Takes the file `path` out of the install file's copies and deletions:
    // a file installed now is newer than what waits for the next start.
    // Reads nothing while the install file holds no work for the next start.
    void DropNextStartWork(std::string_view path);
    // The copy of `path` at the next start comes from `waitingName` beside
    // the install file from now on. False when no line could be written.
    bool MoveWaitingFile(std::string_view path, std::string_view waitingName);
    // Creates the uninstall file with its prompts, strings and sections when
    // it does not exist: S_OK when this call created it, S_FALSE when it
    // existed (it is then only extended).
    HRESULT CreateUninstallFile();

    // Adds `line` to `section` of `file` unless the section already holds it
    // (compared exactly; in "DelRegSection" without regard to case, as the
    // registry compares its names). False for an empty line or when the file
    // cannot be written.
    static bool AddSectionLine(std::string_view section, std::string_view line, const std::string &file);

    // Gives `directory` its number in both files (registering it where it is
    // new). Without `keep` the uninstall file also lists it in
    // "DelDirsSection", so uninstall removes it when empty. A folder the
    // engine created is registered once per created level without `keep`; a
    // folder that existed is registered with `keep`.
    void RegisterDestination(std::string_view directory, bool keep);

    // The number of `directory` in `target`, registering it with `keep` when
    // it is new there; -1 when no line can hold its name.
    int DestinationNumber(SetupTarget target, std::string_view directory, bool keep = true);

    // Records `fileName` in `directory` with `mode` in `target`:
    //   RECORD_INSTALLED: the group "DestGrp<n>" joins "DefaultInstall"
    //     "Delfiles", the file joins the group, inventory = "install", and
    //     with `registerFlag` the file joins "UnregisterOCXsSection";
    //   RECORD_EXISTING: inventory = "exist";
    //   RECORD_COPY_AT_RESTART: inventory = "exist"; in the install file the
    //     group joins "Copyfiles" and the file joins the group, copied from
    //     `waitingName` beside the install file (default: `fileName`).
    // A file that already has an inventory entry in `target` keeps it and is
    // not recorded again; a copy or deletion at the next start is still
    // listed in the install file.
    void RecordFile(std::string_view directory, std::string_view fileName, bool registerFlag, RecordMode mode,
                    SetupTarget target, std::string_view waitingName = {});

    // Adds "%4900<n>%\<fileName>" to `section` of `target`: a component that
    // "RegisterOCXs" or "UnregisterOCXs" names.
    bool AddComponentLine(SetupTarget target, std::string_view section, std::string_view directory,
                          std::string_view fileName);

    // Whether the uninstall file's inventory has an entry for `path`.
    bool HasInventoryEntry(std::string_view path) const;
    // The entry ("install", "exist") or "".
    std::string InventoryEntry(SetupTarget target, std::string_view path) const;

    // Adds a line to a section of the uninstall file ("DelRegSection",
    // "UpdateInisSection", "UnregisterOCXsSection", "DelDirsSection").
    bool AddUninstallLine(std::string_view section, std::string_view line);

    // The uninstall lines of the install actions, "" when a name cannot be
    // held (AddUninstallLine refuses that):
    // "HKLM,"key","name"" into "DelRegSection";
    static std::string RegistryLine(std::string_view rootName, std::string_view key,
                                    std::string_view valueName);
    // "HKLM,"key"" into "DelRegSection": the whole key;
    static std::string RegistryKeyLine(std::string_view rootName, std::string_view key);
    // "<Windows folder>/win.ini,section,key=*," into "UpdateInisSection";
    static std::string WinIniLine(std::string_view section, std::string_view key);
    // the same for system.ini ("drivers32" entries of codecs);
    static std::string SystemIniLine(std::string_view section, std::string_view key);
    // "file,section,key=*," for a private INI file.
    static std::string PrivateIniLine(std::string_view file, std::string_view section, std::string_view key);

    // The end of an installation. When the install file lists nothing to
    // copy or delete it is deleted: Complete. A kept install file to which
    // this installation added nothing stays as it was handed over: Complete.
    // Otherwise the RunOnce value
    // "rundll32.exe advpack.dll,LaunchINFSection <install file>" is written
    // and the restart offered: RestartNeeded. When the user declines, or the
    // system cannot be asked to restart, the refusal message tells the user
    // to restart by hand. Failed when the value cannot be written (the work
    // left for the next start would be lost).
    HandOverResult HandOver();

    // Asks the restart question (Yes/No) with `caption`; on Yes asks the
    // system to restart. True when a restart was requested.
    static bool Restart(const std::string &caption);

private:
    void AppendToList(const std::string &file, const char *key, const std::string &item);
    std::string HandOverCommand() const;
    // Rewrites the install file's lines for `path`: dropped when `line` is
    // empty, else replaced by it.
    bool RewriteNextStartLines(std::string_view path, const std::string &line);
    // The program logs of the install folder join the uninstall file's deletions.
    void RemoveProgramLogs();

    CSetupFileOptions m_options;
    std::string m_installFile;
    std::string m_uninstallFile;
    bool m_keptInstallFile = false; // it waited for the next start already
    bool m_nextStartWork = false;   // this installation left work for the next start
};

} // namespace installengine
