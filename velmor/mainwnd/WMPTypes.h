#pragma once
// The media player's event interface and state numbers, as the viewer's
// event handling knows them from the Windows Media Player control.
#include <string>

enum WMPPlayState : long {
    wmppsUndefined = 0,
    wmppsStopped = 1,
    wmppsPaused = 2,
    wmppsPlaying = 3,
    wmppsBuffering = 6,
    wmppsWaiting = 7,
    wmppsMediaEnded = 8,
    wmppsTransitioning = 9,
    wmppsReady = 10,
};

enum WMPOpenState : long {
    wmposUndefined = 0,
    wmposMediaChanging = 8,
    wmposMediaConnecting = 10,
    wmposMediaOpening = 12,
    wmposMediaOpen = 13,
    wmposOpeningUnknownURL = 21,
};

// What the player raises, on the thread that owns the player (the window's).
class IWMPEvents {
public:
    virtual ~IWMPEvents() = default;
    virtual void PlayStateChange(long newState) = 0;
    virtual void Buffering(bool start) = 0;
    virtual void OpenStateChange(long newState) = 0;
    virtual void NewStream() {}
    virtual void Disconnect(long /*result*/) {}
    virtual void Warning(long /*type*/, long /*param*/, const std::string & /*description*/) {}
    virtual void EndOfStream(long /*result*/) {}
};
