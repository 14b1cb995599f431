#pragma once
// The web launcher's messages and how it shows them: a message box without
// an owner window, an OK button only, captioned "펠룬". Texts are UTF-8 with
// "%s" places filled by FormatMessageText, never by printf (the arguments
// come from pages and scripts).
#include <initializer_list>
#include <string>
#include <string_view>

namespace launcher {

inline constexpr char kCaption[] = "펠룬";

// Install outcomes.
inline constexpr char kScriptFailed[] =
    "인스톨 정보파일을 다운로드하지 못했습니다.\n\n인터넷이 연결되어있는지 확인하신 후 다시 시도해주세요.";
inline constexpr char kVersionLow[] =
    "인스톨러의 버젼이 낮습니다. 인스톨러를 최신버젼으로 설치하셔야 합니다.";
inline constexpr char kInstallFailed[] = "설치가 제대로 이루어지지 않았습니다.";
inline constexpr char kCancelled[] = "사용자의 취소로 해당 프로그램을 설치하지 않습니다.";
inline constexpr char kAlreadyInstalled[] = "%s(이)가 이미 설치되어 있습니다.";
inline constexpr char kInstalled[] = "%s의 설치가 성공적으로 완료되었습니다.";
inline constexpr char kRolledBack[] = "설치이전의 상태로 복구되었습니다.";

// Starting the program.
inline constexpr char kProgramMissing[] =
    "'%s'(을)를 찾을 수 없습니다.\n\n'%s'(을)를 다시 설치하시기 바랍니다.";
inline constexpr char kProgramNotStarted[] =
    "프로그램의 설치가 완료되었으나\n\n%s(을)를 실행시키지 못했습니다.";

// Windows.
inline constexpr char kConfirmLine[] = "%s(을)를 설치합니다.";
inline constexpr char kConfirmFrame[] = "설치할 폴더 지정";
inline constexpr char kConfirmStart[] = "설치 시작 ";
inline constexpr char kBrowseTitle[] = "%s(을)를 설치할 폴더를 지정하세요.";
inline constexpr char kProgressCaption[] = "인스톨러";
inline constexpr char kProgressLine[] = "프로그램을 설치중입니다. 잠시만 기다려 주세요.";
inline constexpr char kProgressFile[] = "파일 : %s  ( %s/sec )";
inline constexpr char kNotice[] = "%s을(를) 설치 중입니다. 잠시만 기다려주세요.";

// What a page may not ask for.
inline constexpr char kScriptRefused[] = "'%s'에서는 설치 정보를 받을 수 없습니다.\n\n"
                                         "설치 정보는 '%s'의 주소에서만 받습니다.";
inline constexpr char kNameRefused[] = "'%s'(은)는 %s(으)로 쓸 수 없습니다.\n\n"
                                       "폴더, 제어 문자, '%', '='가 없는 이름이어야 합니다.";
inline constexpr char kValueRefused[] = "%s 값 '%s'에 공백이나 제어 문자가 있어\n\n"
                                        "프로그램의 실행 인자로 쓸 수 없습니다.";
inline constexpr char kProgramRefused[] = "'%s'(은)는 웹 페이지에서 실행할 수 없는 프로그램입니다.";
inline constexpr char kArgumentRefused[] = "실행 인자의 '%s'(은)는 %s의 옵션이 아니어서\n\n"
                                           "프로그램을 실행하지 않습니다.";
inline constexpr char kAddressRefused[] = "%s 값 '%s'(은)는 쓸 수 없습니다.\n\n"
                                          "방송 알림 주소는 '%s'의 주소만 쓸 수 있습니다.";
inline constexpr char kAlreadyRunning[] = "%s의 설치가 이미 진행 중입니다.";

// `text` with each "%s" replaced by the next argument (missing ones: "").
std::string FormatMessageText(std::string_view text, std::initializer_list<std::string_view> args);

// Shows `text` in the launcher's message box.
void ShowMessage(const std::string &text);

} // namespace launcher
