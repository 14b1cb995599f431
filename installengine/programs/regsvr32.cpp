// regsvr32.exe: registers and unregisters components by hand, as Windows'
// regsvr32 does, and runs the texts "REGSVR32.EXE /s PATH" that setup files
// and the install engine store:
//
//   regsvr32.exe [/s] [/u] PATH...
//
// A shared library (ActSkn43.ocx, any .dll, .ocx or .ax) is loaded and its
// exported DllRegisterServer (with /u DllUnregisterServer) is called; a
// program (".exe") is started with "/RegServer" (with /u "/UnregServer") and
// waited for. Without /s the outcome is shown in a message box captioned
// "RegSvr32" with Korean Windows' texts (without a display it is written to
// standard error); with /s failures are written to standard error only.
// Options may be written "/x" or "-x" in either case; an argument that names
// an existing file is a path even when it starts with "/".
//
// Exit status, as regsvr32 gives it: 0 success, 1 bad arguments, 3 the
// component could not be loaded or started, 4 it has no such entry point,
// 5 the call failed.
#include "platform/GuiMessageBox.h"
#include "platform/MessageBox.h"
#include "platform/Module.h"
#include "platform/Process.h"
#include "platform/Win32Types.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

enum ExitStatus : int { FAIL_OK = 0, FAIL_ARGS = 1, FAIL_LOAD = 3, FAIL_ENTRY = 4, FAIL_REG = 5 };

const char kCaption[] = "RegSvr32";

const char kUsage[] = "사용법: regsvr32 [/u] [/s] dllname\n"
                      "/u - 서버 등록을 취소합니다.\n"
                      "/s - 자동, 메시지 상자를 표시하지 않습니다.";

struct Options {
    bool unregister = false;
    std::vector<std::string> paths;
};

bool g_silent = false;

std::string Format(const char *format, const std::string &a, const std::string &b = {},
                   const std::string &c = {})
{
    std::string out;
    const std::string *args[] = {&a, &b, &c};
    int next = 0;
    for (const char *p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's' && next < 3) {
            out += *args[next++];
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

void Report(const std::string &text, bool failure)
{
    if (g_silent) {
        if (failure)
            std::fprintf(stderr, "regsvr32: %s\n", text.c_str());
        return;
    }
    platform::ShowMessageBox(
        text, kCaption, platform::MB_OK | (failure ? platform::MB_ICONERROR : platform::MB_ICONINFORMATION));
}

std::string Lower(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool IsProgram(const std::string &path)
{
    const std::string name = path.substr(path.find_last_of('/') + 1);
    const std::size_t dot = name.find_last_of('.');
    return dot != std::string::npos && Lower(name.substr(dot + 1)) == "exe";
}

// "/x" or "-x"; an absolute path of an existing file is no flag.
bool IsFlag(const std::string &arg)
{
    return arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-') && !platform::FileExists(arg);
}

// Fills `options`; FAIL_OK, or FAIL_ARGS after reporting a flag it does not
// know. Anything that is not a flag is a path.
int ParseArguments(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (IsFlag(arg)) {
            const std::string flag = Lower(arg.substr(1));
            if (flag == "s") {
                // Read before anything is reported (main).
            } else if (flag == "u") {
                options.unregister = true;
            } else {
                Report(Format("인식할 수 없는 플래그: %s\n\n", arg) + kUsage, true);
                return FAIL_ARGS;
            }
        } else if (!arg.empty()) {
            options.paths.push_back(arg);
        }
    }
    return FAIL_OK;
}

int RegisterProgram(const std::string &path, bool unregister)
{
    const char *option = unregister ? "/UnregServer" : "/RegServer";
    // A program named without a folder is the one in the current folder.
    const std::string program = path.find('/') == std::string::npos ? "./" + path : path;
    if (!platform::FileExists(program)) {
        Report(Format("프로그램 \"%s\"을(를) 시작하지 못했습니다.\n\n지정된 파일을 찾을 수 없습니다.", path),
               true);
        return FAIL_LOAD;
    }
    const int status = platform::RunAndWait(program, option, "");
    if (status < 0) {
        Report(Format("프로그램 \"%s\"을(를) 시작하지 못했습니다.", path), true);
        return FAIL_LOAD;
    }
    if (status != 0) {
        Report(Format("프로그램 \"%s\"이(가) %s 실행에서 종료 코드 %s(으)로 끝났습니다.", path, option,
                      std::to_string(status)),
               true);
        return FAIL_REG;
    }
    Report(Format("%s의 %s이(가) 성공했습니다.", path, option), false);
    return FAIL_OK;
}

int RegisterLibrary(const std::string &path, bool unregister)
{
    const char *entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    platform::CModule module;
    if (!platform::FileExists(file) || !module.Load(file)) {
        const std::string reason =
            platform::FileExists(file) ? module.LastError() : std::string("지정된 모듈을 찾을 수 없습니다.");
        Report(Format("모듈 \"%s\"을(를) 로드하지 못했습니다.\n\n"
                      "지정된 경로에 이진 파일이 저장되어 있는지 확인하거나 이진 파일 또는 종속 .DLL 파일에 "
                      "문제가 있는지 디버깅하십시오.\n\n%s",
                      path, reason),
               true);
        return FAIL_LOAD;
    }
    using EntryFn = HRESULT (*)();
    const auto call = module.Function<EntryFn>(entry);
    if (!call) {
        Report(Format("모듈 \"%s\"이(가) 로드되었지만 진입점 %s을(를) 찾을 수 없습니다.\n\n"
                      "\"%s\"이(가) 올바른 DLL 또는 OCX 파일인지 확인한 다음 다시 시도하십시오.",
                      path, entry, path),
               true);
        return FAIL_ENTRY;
    }
    const HRESULT hr = call();
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08x", static_cast<unsigned>(hr));
        Report(
            Format(
                "모듈 \"%s\"이(가) 로드되었지만 %s 호출이 오류 코드 %s(으)로 실패했습니다.\n\n"
                "이 문제에 대한 자세한 내용을 보려면 오류 코드를 검색어로 사용하여 온라인으로 검색하십시오.",
                path, entry, code),
            true);
        return FAIL_REG;
    }
    Report(Format("%s의 %s이(가) 성공했습니다.", path, entry), false);
    return FAIL_OK;
}

bool HasDisplay()
{
    const char *qpa = std::getenv("QT_QPA_PLATFORM");
    if (qpa && *qpa)
        return std::strcmp(qpa, "offscreen") != 0 && std::strcmp(qpa, "minimal") != 0;
    const char *x11 = std::getenv("DISPLAY");
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    // Flags are read first, so "/s" anywhere silences the usage text too.
    for (int i = 1; i < argc; ++i)
        if (IsFlag(argv[i]) && Lower(argv[i]).substr(1) == "s")
            g_silent = true;

    // Message boxes need the widget application when there is a desktop to
    // show them on; otherwise they are written to standard error.
    std::unique_ptr<QApplication> app;
    if (!g_silent && HasDisplay()) {
        static int qtArgc = 1;
        static char qtName[] = "regsvr32";
        static char *qtArgv[] = {qtName, nullptr};
        app = std::make_unique<QApplication>(qtArgc, qtArgv);
        platform::InstallGuiMessageBox();
    }

    if (const int status = ParseArguments(argc, argv, options); status != FAIL_OK)
        return status;
    if (options.paths.empty()) {
        Report(std::string("처리할 DLL 이름을 지정해야 합니다.\n\n") + kUsage, true);
        return FAIL_ARGS;
    }
    int result = FAIL_OK;
    for (const std::string &path : options.paths) {
        const int status = IsProgram(path) ? RegisterProgram(path, options.unregister)
                                           : RegisterLibrary(path, options.unregister);
        if (result == FAIL_OK)
            result = status;
    }
    return result;
}
