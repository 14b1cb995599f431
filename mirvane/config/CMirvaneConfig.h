#pragma once
// "Mirvane.cfg": the updater's configuration, an INI file in the current
// directory (the program's own folder is not consulted). Section "config"
// holds every value; each is read into a 1024-byte buffer, so it keeps at
// most 1023 bytes (CP949). The values live for the whole run in the
// application object; the only value ever written back is the version.
//
//   key          default     meaning
//   KorName      "제목없음"  Korean display name (captions, messages, %APP_KOR_NAME%)
//   EngName      "NoTitle"   English name (%APP_ENG_NAME%, setup file names)
//   Version      "0"         installed product version (%APP_VERSION%)
//   Online       "no"        "yes": never start the program after a refused or failed update
//   Execute      ""          full path of the program to start
//   Argument     ""          its arguments, before the updater's own command line
//   Skin         ""          skin file of every form
//   Script       ""          URL of the update script
//   Launch       ""          URL of the launch script
//   InstallDir   ""          registry reference of the install folder (%INSTALL_DIR%)
//   PgroupDir    ""          registry reference of the program group's name
//   PublicKey    ""          Ed25519 key (base64): scripts must carry a valid signature
#include "CInstallNames.h"

#include <cstddef>
#include <string>

class CMirvaneConfig {
public:
    static constexpr std::size_t kValueSize = 1024;
    static constexpr const char *kFileName = "Mirvane.cfg";
    static constexpr const char *kSection = "config";

    static constexpr const char *kMissingText = "환경설정 파일이 없습니다. 다시설치해 주세요.";
    static constexpr const char *kInvalidText = "환경설정 파일이 정상적이지 않습니다.";

    // "<directory>/Mirvane.cfg".
    static std::string PathIn(const std::string &directory);

    // Reads every key of the file in `directory` and resolves InstallDir and
    // PgroupDir. False when the file does not exist (nothing is read then).
    bool Read(const std::string &directory);

    // Version is not "0" and Execute, Skin and Script are set.
    bool IsValid() const;

    // After an installation: when `newVersion` differs from Version (letter
    // case ignored), writes it as "config"/"version" of the file and keeps it
    // as Version. False when the file could not be written.
    bool WriteVersion(const std::string &newVersion);

    // The values the install engine's path macros take.
    installengine::CInstallNames InstallNames() const;

    // The path of the file that was read.
    const std::string &Path() const { return m_path; }

    std::string KorName = "제목없음";
    std::string EngName = "NoTitle";
    std::string Version = "0";
    bool Online = false;
    std::string Execute;
    std::string Argument;
    std::string Skin;
    std::string Script;
    std::string Launch;
    std::string InstallDir; // resolved: a folder, without a trailing separator
    std::string PgroupDir;  // resolved: a folder below the Start menu's Programs
    std::string PublicKey;

private:
    std::string m_path;
};
