// rundll32.exe: runs the command texts that RunOnce values, uninstall
// entries and shortcuts hold, "rundll32.exe advpack.dll,LaunchINFSection FILE".
//
// Windows hands the program the whole rest of the text, so FILE may contain
// blanks. Here the words arrive split at blanks; they are joined back with
// one blank each, so a path with two blanks in a row cannot be named (a path
// with single blanks can). "FILE,SECTION" runs another section than
// DefaultInstall.
//
// Exit status: 0 when everything was done, 1 when the user stopped it at the
// begin prompt or a line failed or was refused (see standard error), 2 when
// the command or the INF file is wrong, or the file is not run because
// another user could have planted or changed it (CInfRunner::Distrust).
#include "CInfRunner.h"
#include "CLogFile.h"

#include "platform/MessageBox.h"

#include <cerrno>
#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    SetLogToStandardError(true);
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            text += ' ';
        text += argv[i];
    }
    std::string infPath;
    std::string section;
    if (!installengine::CInfRunner::ParseLaunchCommand(text, infPath, section)) {
        std::fprintf(stderr, "사용법: rundll32.exe advpack.dll,LaunchINFSection FILE\n");
        return 2;
    }
    const HRESULT hr = installengine::CInfRunner::Run(infPath, section);
    if (hr == HRESULT_FROM_ERRNO(EACCES)) {
        std::fprintf(stderr, "'%s' 파일은 다른 사용자가 만들거나 바꿀 수 있는 곳에 있어 실행하지 않습니다.\n",
                     infPath.c_str());
        return 2;
    }
    if (FAILED(hr)) {
        std::fprintf(stderr, "'%s' 파일을 읽을 수 없습니다.\n", infPath.c_str());
        return 2;
    }
    return hr == S_OK ? 0 : 1;
}
