#include "platform/MessageBox.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

namespace platform {
namespace {

std::mutex g_handlerLock;
MessageBoxHandler g_handler;

// The answers of $VELMOR_MESSAGEBOX_ANSWERS and how many are used. The list
// is read again when the variable's text changes, so a process (or a test)
// that sets a new list starts again at its first answer.
struct ScriptedAnswers {
    std::mutex lock;
    std::string source;
    std::vector<int> answers;
    std::size_t next = 0;
};

ScriptedAnswers &Scripted()
{
    static ScriptedAnswers scripted;
    return scripted;
}

// "6", " IDNO " -> 6, 7; anything else -> 0.
int ParseAnswer(std::string_view word)
{
    while (!word.empty() && std::isspace(static_cast<unsigned char>(word.front())))
        word.remove_prefix(1);
    while (!word.empty() && std::isspace(static_cast<unsigned char>(word.back())))
        word.remove_suffix(1);
    static const struct {
        const char *name;
        int id;
    } kNames[] = {{"1", IDOK},      {"2", IDCANCEL}, {"4", IDRETRY},         {"6", IDYES},
                  {"7", IDNO},      {"IDOK", IDOK},  {"IDCANCEL", IDCANCEL}, {"IDRETRY", IDRETRY},
                  {"IDYES", IDYES}, {"IDNO", IDNO}};
    for (const auto &entry : kNames) {
        const std::string_view name(entry.name);
        if (name.size() != word.size())
            continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i)
            same = std::toupper(static_cast<unsigned char>(word[i])) == name[i];
        if (same)
            return entry.id;
    }
    return 0;
}

std::vector<int> ParseAnswers(std::string_view text)
{
    std::vector<int> answers;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view word = text.substr(0, comma);
        if (word.find_first_not_of(" \t") != std::string_view::npos)
            answers.push_back(ParseAnswer(word)); // 0 marks a word that is no answer
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return answers;
}

// The buttons a style offers; the first is the default button.
std::vector<int> Buttons(unsigned style)
{
    switch (style & 0xFu) {
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case MB_RETRYCANCEL:
        return {IDRETRY, IDCANCEL};
    default:
        return {IDOK};
    }
}

} // namespace

int DefaultAnswer(unsigned style)
{
    const std::vector<int> buttons = Buttons(style);
    int scripted = 0;
    bool fromList = false;
    {
        ScriptedAnswers &s = Scripted();
        std::lock_guard lock(s.lock);
        const char *env = std::getenv("VELMOR_MESSAGEBOX_ANSWERS");
        const std::string text = env ? env : "";
        if (text != s.source) {
            s.source = text;
            s.answers = ParseAnswers(text);
            s.next = 0;
        }
        if (s.next < s.answers.size()) {
            scripted = s.answers[s.next++];
            fromList = true;
        }
    }
    if (!fromList)
        return buttons.front();
    for (int button : buttons)
        if (button == scripted)
            return scripted;
    // A box cannot answer with a button it does not have; the default button
    // stands in, and the mismatch is reported next to the box's text.
    std::fprintf(stderr, "VELMOR_MESSAGEBOX_ANSWERS: answer %d is not a button of this box; %d is taken\n",
                 scripted, buttons.front());
    return buttons.front();
}

int StderrMessageBox(const MessageBoxRequest &request)
{
    std::fprintf(stderr, "[%s] %s\n", request.caption.c_str(), request.text.c_str());
    std::fflush(stderr);
    return DefaultAnswer(request.style);
}

int ShowMessageBox(const std::string &text, const std::string &caption, unsigned style)
{
    MessageBoxHandler handler;
    {
        std::lock_guard lock(g_handlerLock);
        handler = g_handler;
    }
    MessageBoxRequest request{text, caption, style};
    return handler ? handler(request) : StderrMessageBox(request);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    std::lock_guard lock(g_handlerLock);
    std::swap(g_handler, handler);
    return handler;
}

} // namespace platform
