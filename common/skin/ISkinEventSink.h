#pragma once
// The events the skin control raises to its window, by their numbers:
//   22 mouse button pressed on an object   (object, button, x, y)
//   23 mouse button released               (object, button, x, y)
//   30 slider value changed by the user    (object, value)
//   31 pointer over a slider               (object, value)
// Buttons are MK_LBUTTON 1, MK_RBUTTON 2, MK_MBUTTON 16; x and y are client
// coordinates of the window. Called on the window's thread while the control
// handles the mouse; a handler may hide objects or end the window.
class ISkinObject;

class ISkinEventSink {
public:
    virtual void OnSkinMouseDown(ISkinObject *, int /*button*/, int /*x*/, int /*y*/) {}
    virtual void OnSkinMouseUp(ISkinObject *, int /*button*/, int /*x*/, int /*y*/) {}
    virtual void OnSkinSliderChanged(ISkinObject *, int /*value*/) {}
    virtual void OnSkinSliderHover(ISkinObject *, int /*value*/) {}

protected:
    ~ISkinEventSink() = default;
};
