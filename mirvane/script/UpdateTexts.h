#pragma once
// The texts the update decision shows, and its outcome words.
namespace UpdateTexts {

// Outcomes of the decision, carried out by CUpdateDecision's one handler.
constexpr const char *kLaunch = "launch";
constexpr const char *kScript = "script";
constexpr const char *kCancel = "cancel";
constexpr const char *kDownload = "download";
constexpr const char *kRegistry = "registry";
constexpr const char *kReboot = "reboot";
// The run ends here without starting the program: by the user's or the
// script's choice ("end"), after a failure that was already shown ("stop"),
// or because another updater carries on ("handover").
constexpr const char *kEnd = "end";
constexpr const char *kStop = "stop";
constexpr const char *kHandover = "handover";

constexpr const char *kChecking = "업데이트 정보를 확인하는 중입니다...";
constexpr const char *kScriptFailed = "업데이트 스크립트에 이상이 있어 업데이트를 실행하지 않습니다.\n\n";
constexpr const char *kCancelBlocked =
    "사용자에의해 자동 업데이트가 취소되었습니다.\n\n실행가능한 최소버젼보다 버젼이 낮아 실행할 수 "
    "없습니다.\n\n실행을 하시려면 먼저 업데이트를 받으셔야 합니다.";
constexpr const char *kDownloadBlocked =
    "다운로드/설치 과정에서 오류가 발생했습니다.\n\n실행가능한 최소버젼보다 버젼이 낮아 종료됩니다.\n\n잠시 "
    "후에 다시 실행하시기 바랍니다.";
constexpr const char *kDownloadContinue =
    "다운로드/설치 과정에서 오류가 발생했지만\n\n현재 설치된 버젼이 실행가능한 버젼이므로 실행합니다.";
// "%s": Execute, then KorName.
constexpr const char *kProgramMissing = "'%s'(을)를 찾을 수 없습니다.\n\n'%s'(을)를 다시 설치하시기 바랍니다.";
// "%s": Execute.
constexpr const char *kProgramFailed = "'%s'(을)를 실행할 수 없습니다.\n\n잠시 후에 다시 실행하시기 바랍니다.";

constexpr const char *kPatchFailed = "업데이터 패치파일 설치가 실패하였습니다.\n\n잠시 후에 다시 실행하시기 바랍니다.";
constexpr const char *kPatchMissing = "업데이터 패치파일을 찾을 수 없습니다.";
constexpr const char *kPatchStartFailed =
    "업데이터 패치파일을 제대로 실행할 수 없습니다.\n\n잠시 후에 다시 실행하시기 바랍니다.";

} // namespace UpdateTexts
