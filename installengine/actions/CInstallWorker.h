#pragma once
// The install worker: downloads every file of the selected items, then
// carries out the items stage by stage, recording in the setup files what it
// did and what is left for the next start, and ends with a worker result.
//
//   stage                                  status text
//   1  downloads (file, codec, launch)     the downloader's
//   2  setup files, cancel switched off    "받은 파일 설치 중..."
//   3  uninstall records                   (the same)
//   4  launch items                        (the same)
//   5  file items                          (the same)
//   6  registry items                      "레지스트리 항목 등록 중..."
//   7  INI items                           "INI 파일 업데이트 중..."
//   8  shortcut items                      "바로가기 아이콘 등록 중..."
//   9  components                          "컴포넌트 등록 중..."
//   10 codecs                              "코덱 설치중..."
//   11 programs to run                     "파일 실행중..."
//   12 the caller's step                   "설치에 사용된 파일 업데이트 중..."
//   13 hand-over to the next start         "설치 완료" when nothing is left
//
// Every stage shows its text and "파일 다운로드 완료" as the file name, and
// advances "Install_Prg" once per finished item.
//
// Threads: Run() runs on the thread of whoever starts it (the updater's
// download form, the web launcher's progress window, a test), which owns and
// joins that thread. The only thing shared with other threads is the
// manual-reset cancel event, which Run() tests only while it downloads.
// Progress calls and message boxes happen on Run()'s thread.
#include "CInstallWorkerOptions.h"
#include "IInstallWorker.h"

#include <memory>
#include <string>

namespace installengine {

class CInstallWorker final : public IInstallWorker {
public:
    // The status texts of the stages.
    static constexpr const char *kInstallingText = "받은 파일 설치 중...";
    static constexpr const char *kRegistryText = "레지스트리 항목 등록 중...";
    static constexpr const char *kIniText = "INI 파일 업데이트 중...";
    static constexpr const char *kLinkText = "바로가기 아이콘 등록 중...";
    static constexpr const char *kComponentText = "컴포넌트 등록 중...";
    static constexpr const char *kCodecText = "코덱 설치중...";
    static constexpr const char *kRunText = "파일 실행중...";
    static constexpr const char *kUpdateText = "설치에 사용된 파일 업데이트 중...";
    static constexpr const char *kDoneText = "설치 완료";
    static constexpr const char *kDownloadedText = "파일 다운로드 완료";

    // Messages ("%s" is the item's Filename).
    static constexpr const char *kOlderVersionQuestion =
        "%s : 설치하고자 하는 파일의 버젼이 낮습니다.\n\n그래도 설치 하시겠습니까?";
    static constexpr const char *kExtractFailed = "%s 파일 압축해제 실패";
    static constexpr const char *kRegisterFailedQuestion =
        "%s의 등록에 실패했습니다.\n\n무시하고 진행하시겠습니까?";
    static constexpr const char *kRunFailed = "%s를 실행시키지 못했습니다.\n";
    // A name (a folder, a file, a registry or INI name, the product's names)
    // that the setup files cannot hold: "%s" is the name.
    static constexpr const char *kNameRefused =
        "%s : 설치 정보 파일에 기록할 수 없는 이름이 있어 설치하지 않습니다.";

    explicit CInstallWorker(CInstallWorkerOptions options);
    ~CInstallWorker() override;
    CInstallWorker(const CInstallWorker &) = delete;
    CInstallWorker &operator=(const CInstallWorker &) = delete;

    // Runs the whole installation. Returns INSTALL_WORKER_SUCCESS (1),
    // INSTALL_WORKER_ERROR (2), INSTALL_WORKER_CANCELLED (3) or
    // INSTALL_WORKER_RESTART (4). Never throws. May be called again for a
    // new run.
    int Run(platform::HANDLE cancelEvent, IInstallProgress &progress) noexcept override;

    // The result of the window that ran the worker (InstallWorkerFormResult).
    static int FormResult(int workerResult);

    // After Run(): whether that run created the uninstall file (the web
    // launcher rolls a failed first installation back only then), and where
    // the two setup files are.
    bool CreatedUninstallFile() const { return m_createdUninstallFile; }
    std::string UninstallFilePath() const;
    std::string InstallFilePath() const;

    // The "Install_Prg" total this worker uses.
    int StepTotal() const;

private:
    class CRun;

    CInstallWorkerOptions m_options;
    bool m_createdUninstallFile = false;
};

} // namespace installengine
