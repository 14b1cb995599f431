#pragma once
// Edge snapping and gluing of top-level windows, as plain geometry.
//
// While a window is dragged its edges snap to the edges of the program's
// other top-level windows and of the screen when they come within the snap
// distance (5 pixels); a snapped edge holds until the mouse has pulled more
// than twice that distance away; with gluing on, the windows docked to it
// (transitively) travel along. CSnapDialog feeds these functions from the
// window system; they know nothing of windows, so they are tested alone.
//
// Rectangles are screen rectangles with exclusive right and bottom edges.
#include <cstdint>
#include <vector>

struct SnapRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    SnapRect Offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    SnapRect Inflate(int d) const { return {left - d, top - d, right + d, bottom + d}; }
    bool Intersects(const SnapRect &o) const
    {
        return (left > o.left ? left : o.left) < (right < o.right ? right : o.right) &&
               (top > o.top ? top : o.top) < (bottom < o.bottom ? bottom : o.bottom);
    }
    bool operator==(const SnapRect &) const = default;
};

struct SnapPoint {
    int x = 0;
    int y = 0;
    bool operator==(const SnapPoint &) const = default;
};

// A window as the snapping sees it: an identity and its rectangle.
using SnapWindowId = std::uintptr_t;
struct SnapWindow {
    SnapWindowId id = 0;
    SnapRect rect;
    bool isDesktop = false; // the screen: a target, never glued
};

enum SnapEdge { SNAP_LEFT = 0, SNAP_TOP = 1, SNAP_RIGHT = 2, SNAP_BOTTOM = 3 };

// The snapping state of one window.
struct SnapState {
    static constexpr int kDefaultDistance = 5;

    SnapWindowId self = 0;
    int distance = kDefaultDistance;
    bool gluing = false;
    std::vector<SnapWindow> targets; // rebuilt at each drag start
    bool stuck[4] = {false, false, false, false};
    int stuckAt[4] = {0, 0, 0, 0}; // cursor x (left, right) or y (top, bottom)
    int stuckTo[4] = {0, 0, 0, 0}; // the coordinate the edge is held at
    std::vector<SnapWindow> glued; // rebuilt at each drag start, gluing on only
    SnapRect last;                 // the own window's last rectangle
    SnapPoint grabOffset;          // cursor minus the window's top-left at drag start
};

// Drag start: resets the state, takes the targets (every other top-level
// window, then the screen) and, with gluing on, the windows glued to the
// own window; remembers the grab offset. `windows` may hold the own window;
// it is left out.
void SnapBeginDrag(SnapState &state, SnapWindowId self, const SnapRect &selfRect, SnapPoint cursor,
                   const std::vector<SnapWindow> &windows, bool gluing);

// The windows glued to `selfRect`, transitively: a window is glued to
// another when their rectangles touch or overlap once the other's is grown
// by 1 pixel and one of its vertical (horizontal) edges lies on one of the
// other's vertical (horizontal) edge lines. The screen is never glued.
std::vector<SnapWindow> SnapFindGlued(SnapWindowId self, const SnapRect &selfRect,
                                      const std::vector<SnapWindow> &windows);

// The correction that snaps `r` to the first target it comes near (no state).
// `snappedEdges` receives which edges aligned (bit 1 << SnapEdge).
SnapPoint SnapCorrection(const SnapRect &r, const std::vector<SnapWindow> &targets, int distance,
                         unsigned *snappedEdges = nullptr);

// Snaps a moving rectangle of the own window: releases stuck edges the
// cursor has pulled more than twice the distance away (shifting `r` by that
// pull) and holds the others where they stuck, then snaps and sticks the
// edges that aligned. Returns true when the snap corrected `r`.
bool SnapMoving(SnapState &state, SnapRect &r, SnapPoint cursor);

// The result of one move of the own window.
struct SnapMoveResult {
    SnapRect rect;                 // where the own window goes
    std::vector<SnapWindow> glued; // where each glued window goes
};

// One move (the proposed rectangle follows the cursor from the last
// position); returns the rectangles to apply and remembers the new one.
SnapMoveResult SnapMoveStep(SnapState &state, const SnapRect &proposed, SnapPoint cursor);

// One sizing step: each edge of `proposed` snaps independently to the nearer
// matching edge of a target within the distance. Nothing sticks.
SnapRect SnapSizeStep(const SnapState &state, const SnapRect &proposed);
