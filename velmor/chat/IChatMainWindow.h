#pragma once
// What the chat room reports to the main window. Each of these ends the
// program in the main window: it shows its message box and closes.
//
// Threads: always called on the thread the CChatRoom lives on (the window
// thread); the room marshals reports from its receive thread there itself.
class IChatMainWindow {
public:
    virtual ~IChatMainWindow() = default;
    // The guest's connection attempt ended: ok = 1 connected, 0 failed
    // ("서버 연결에 실패하였습니다.\n안전하게 프로그램을 종료합니다." on failure).
    virtual void OnChatConnectResult(int ok) = 0;
    // The connection to the host is gone, whatever the cause
    // ("방장이 방을 종료 하였습니다.\n안전하게 프로그램을 종료합니다."). Not called
    // after OnChatRoomFull.
    virtual void OnChatRoomClosed() = 0;
    // The host refused this guest ("접속인원이 초과되었습니다.\n안전하게 프로그램을 종료합니다.").
    virtual void OnChatRoomFull() = 0;
};
