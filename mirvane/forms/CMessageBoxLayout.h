#pragma once
// Where the skinned message box puts everything: the window grown to the
// measured text, limited to the screen less its panels and centred on it;
// the text centred in the text area; the buttons centred in the bottom
// band. Plain arithmetic, so it is tested without a window.
#include <QPoint>
#include <QRect>
#include <QSize>

#include <vector>

class CMessageBoxLayout {
public:
    struct Input {
        // Frame parts: heights of "Top" and "Bottom", widths of "Left" and
        // "Right".
        int top = 0;
        int bottom = 0;
        int left = 0;
        int right = 0;
        QSize designedClient; // "Client" as the skin draws it
        QSize text;           // widest line, line height times the lines
        QRect screen;         // the screen less the panels
    };
    struct Result {
        QRect window; // in screen coordinates
        QRect client; // the text area, in window coordinates
        QRect text;   // the text, in window coordinates
    };

    // A text at least as wide as the designed text area gets 40 pixels more
    // than it measures, one at least as high 60 more; a smaller one keeps
    // the designed size. The window is the text area plus the frame parts,
    // no larger than the screen, centred on it; the text rectangle is
    // centred in the text area and clipped to it.
    static Result Compute(const Input &input);

    // The buttons, centred vertically in `band`: one button in the middle;
    // two with the first ending 10 pixels left of the centre and the second
    // starting 10 pixels right of it. Returns one rectangle per size given.
    static std::vector<QRect> PlaceButtons(const QRect &band, const std::vector<QSize> &buttons);

    static constexpr int kExtraWidth = 40;
    static constexpr int kExtraHeight = 60;
    static constexpr int kButtonGap = 10;
};
