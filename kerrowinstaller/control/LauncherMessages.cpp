#include "LauncherMessages.h"

#include "platform/MessageBox.h"

namespace launcher {

std::string FormatMessageText(std::string_view text, std::initializer_list<std::string_view> args)
{
    std::string out;
    const std::string_view *next = args.begin();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == 's') {
            if (next != args.end())
                out.append(*next++);
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

void ShowMessage(const std::string &text)
{
    platform::ShowMessageBox(text, kCaption, platform::MB_OK);
}

} // namespace launcher
