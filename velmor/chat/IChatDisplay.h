#pragma once
// Where the room's displayed lines go: the chat display of the control
// window. One call appends one run of text with its attributes.
//
// Threads: called only on the thread the CChatRoom lives on (the window
// thread), from its event loop: the room hands the events of its worker and
// receive threads over with queued calls, in the order they happened, and
// the lines of one event (a chat line's header and text) arrive back to
// back. So an implementation may touch its widget directly.
#include <string>

// Colours are 0xRRGGBB.
inline constexpr unsigned ChatRgb(unsigned r, unsigned g, unsigned b)
{
    return ((r & 0xFFu) << 16) | ((g & 0xFFu) << 8) | (b & 0xFFu);
}
inline constexpr unsigned CHAT_COLOR_BLACK = ChatRgb(0, 0, 0);
inline constexpr unsigned CHAT_COLOR_NOTICE = ChatRgb(84, 84, 84); // line headers, renames
inline constexpr unsigned CHAT_COLOR_HOST = ChatRgb(0, 128, 0);    // the host's own lines
inline constexpr int CHAT_SIZE_TEXT = 160;   // twips
inline constexpr int CHAT_SIZE_NOTICE = 170; // twips
inline constexpr int CHAT_INDENT_TWIPS = 150;

class IChatDisplay {
public:
    virtual ~IChatDisplay() = default;
    // text: UTF-8, may hold "\r\n"; rgb: 0xRRGGBB; twips: character size;
    // indent: when true the run is indented by CHAT_INDENT_TWIPS.
    virtual void AddText(const std::string &text, unsigned rgb, int twips, bool indent) = 0;
};
