#pragma once
// Window messages and command numbers of the chat window and its widgets.
#include <QRgb>

inline constexpr int WM_CHAT_RELAYOUT = 2024;     // sent by the splitter after a drag
inline constexpr int ID_CHANGE_CHAT_NAME = 32772; // menu 163: "채팅이름바꾸기"

// Control ids of the chat window (template 129).
inline constexpr int IDC_USER_LIST = 1001;
inline constexpr int IDC_CHAT_DISPLAY = 1002;
inline constexpr int IDC_CHAT_INPUT = 1003;
inline constexpr int IDC_SPLITTER = 1007;
inline constexpr int IDC_SKIN = 1025;
inline constexpr int IDC_UL_BODY = 1037;

// Member icons of the user list: the member flag is the image index.
inline constexpr int kImageHost = 0;
inline constexpr int kImageSelf = 1;
inline constexpr int kImageGuest = 2;

inline constexpr QRgb kFirstRowColor = 0xFF6464C8; // RGB(100, 100, 200)
