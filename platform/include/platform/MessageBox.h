#pragma once
// The message box the program shows its conditions in (AfxMessageBox /
// MessageBox). Texts and captions are UTF-8, as the program holds them.
// One process-wide handler shows it; tests replace the handler to record what
// would have been shown and to answer it.
#include <functional>
#include <string>

namespace platform {

enum MessageBoxStyle : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNO = 0x4,
    MB_RETRYCANCEL = 0x5,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
};

enum MessageBoxResult : int { IDOK = 1, IDCANCEL = 2, IDRETRY = 4, IDYES = 6, IDNO = 7 };

struct MessageBoxRequest {
    std::string text;
    std::string caption;
    unsigned style = MB_OK;
};

using MessageBoxHandler = std::function<int(const MessageBoxRequest &)>;

// Shows the box through the current handler and returns the answer.
int ShowMessageBox(const std::string &text, const std::string &caption, unsigned style);

// Installs `handler` (an empty one restores the default) and returns the old one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// The answer a box gives when nobody can click it: the next answer of
// $VELMOR_MESSAGEBOX_ANSWERS (a comma list of IDOK 1, IDCANCEL 2, IDRETRY 4,
// IDYES 6, IDNO 7 -- numbers or those names -- taken in order, one per box
// this process shows, from any thread), and once that list is used up (or
// absent) the default button: OK, Yes for Yes/No, Retry for Retry/Cancel.
// An answer the box has no button for (IDNO for an OK box, a word that is no
// answer) uses up its place, is reported on standard error and gives the
// default button. Setting the variable to another text starts its list anew.
int DefaultAnswer(unsigned style);

// The default handler before a window system is up, and the one on Qt's
// offscreen platform: writes caption and text to standard error as UTF-8 and
// returns DefaultAnswer() at once.
int StderrMessageBox(const MessageBoxRequest &request);

} // namespace platform
