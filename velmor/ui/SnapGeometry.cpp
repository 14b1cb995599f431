#include "SnapGeometry.h"

#include <algorithm>
#include <cstdlib>

namespace {

bool Near(int a, int b, int distance)
{
    return std::abs(a - b) < distance;
}

bool OnLine(int a1, int a2, int b1, int b2)
{
    return a1 == b1 || a1 == b2 || a2 == b1 || a2 == b2;
}

// Whether `target` is glued to `base`: touching or overlapping `base` grown by
// one pixel, with an edge on one of `base`'s edge lines of the same direction.
bool GluedTo(const SnapRect &target, const SnapRect &base)
{
    if (!target.Intersects(base.Inflate(1)))
        return false;
    return OnLine(target.left, target.right, base.left, base.right) ||
           OnLine(target.top, target.bottom, base.top, base.bottom);
}

} // namespace

std::vector<SnapWindow> SnapFindGlued(SnapWindowId self, const SnapRect &selfRect,
                                      const std::vector<SnapWindow> &windows)
{
    std::vector<SnapWindow> glued;
    std::vector<SnapRect> frontier{selfRect};
    std::vector<bool> taken(windows.size(), false);
    while (!frontier.empty()) {
        const SnapRect base = frontier.back();
        frontier.pop_back();
        for (std::size_t i = 0; i < windows.size(); ++i) {
            const SnapWindow &w = windows[i];
            if (taken[i] || w.isDesktop || w.id == self)
                continue;
            if (GluedTo(w.rect, base)) {
                taken[i] = true;
                glued.push_back(w);
                frontier.push_back(w.rect);
            }
        }
    }
    return glued;
}

void SnapBeginDrag(SnapState &state, SnapWindowId self, const SnapRect &selfRect, SnapPoint cursor,
                   const std::vector<SnapWindow> &windows, bool gluing)
{
    state.self = self;
    state.distance = SnapState::kDefaultDistance;
    state.gluing = gluing;
    std::fill(std::begin(state.stuck), std::end(state.stuck), false);
    std::fill(std::begin(state.stuckAt), std::end(state.stuckAt), 0);
    std::fill(std::begin(state.stuckTo), std::end(state.stuckTo), 0);
    state.targets.clear();
    state.glued.clear();
    // Other windows first, the screen last.
    for (const SnapWindow &w : windows)
        if (w.id != self && !w.isDesktop)
            state.targets.push_back(w);
    for (const SnapWindow &w : windows)
        if (w.id != self && w.isDesktop)
            state.targets.push_back(w);
    if (gluing)
        state.glued = SnapFindGlued(self, selfRect, windows);
    state.last = selfRect;
    state.grabOffset = {cursor.x - selfRect.left, cursor.y - selfRect.top};
}

SnapPoint SnapCorrection(const SnapRect &r, const std::vector<SnapWindow> &targets, int distance,
                         unsigned *snappedEdges)
{
    if (snappedEdges)
        *snappedEdges = 0;
    for (const SnapWindow &target : targets) {
        const SnapRect &t = target.rect;
        if (!t.Inflate(distance).Intersects(r))
            continue;
        SnapPoint fix;
        unsigned edges = 0;
        if (Near(r.right, t.left, distance)) {
            fix.x = t.left - r.right;
            edges |= 1u << SNAP_RIGHT;
        } else if (Near(r.right, t.right, distance)) {
            fix.x = t.right - r.right;
            edges |= 1u << SNAP_RIGHT;
        } else if (Near(r.left, t.left, distance)) {
            fix.x = t.left - r.left;
            edges |= 1u << SNAP_LEFT;
        } else if (Near(r.left, t.right, distance)) {
            fix.x = t.right - r.left;
            edges |= 1u << SNAP_LEFT;
        }
        if (Near(r.top, t.top, distance)) {
            fix.y = t.top - r.top;
            edges |= 1u << SNAP_TOP;
        } else if (Near(r.top, t.bottom, distance)) {
            fix.y = t.bottom - r.top;
            edges |= 1u << SNAP_TOP;
        } else if (Near(r.bottom, t.top, distance)) {
            fix.y = t.top - r.bottom;
            edges |= 1u << SNAP_BOTTOM;
        } else if (Near(r.bottom, t.bottom, distance)) {
            fix.y = t.bottom - r.bottom;
            edges |= 1u << SNAP_BOTTOM;
        }
        if (edges) {
            if (snappedEdges)
                *snappedEdges = edges;
            return fix;
        }
    }
    return {};
}

bool SnapMoving(SnapState &state, SnapRect &r, SnapPoint cursor)
{
    const SnapRect start = r;
    // A stuck edge lets go once the cursor has pulled far enough along its
    // axis; the window then jumps by the whole pull so it is back under the
    // mouse.
    for (int edge = 0; edge < 4; ++edge) {
        if (!state.stuck[edge])
            continue;
        const bool horizontal = edge == SNAP_LEFT || edge == SNAP_RIGHT;
        const int now = horizontal ? cursor.x : cursor.y;
        const int pulled = now - state.stuckAt[edge];
        if (std::abs(pulled) > 2 * state.distance) {
            state.stuck[edge] = false;
            r = horizontal ? r.Offset(pulled, 0) : r.Offset(0, pulled);
            // The opposite edge of the same axis was held by the same snap.
            const int opposite = (edge + 2) % 4;
            if (state.stuck[opposite] && state.stuckAt[opposite] == state.stuckAt[edge])
                state.stuck[opposite] = false;
        }
    }
    // Until then it holds, however fast the mouse moves: one mouse step of
    // more than the snap distance must not tear it off early.
    bool held = false;
    for (int edge = 0; edge < 4; ++edge) {
        if (!state.stuck[edge])
            continue;
        const int at = edge == SNAP_LEFT    ? r.left
                       : edge == SNAP_TOP   ? r.top
                       : edge == SNAP_RIGHT ? r.right
                                            : r.bottom;
        const int shift = state.stuckTo[edge] - at;
        if (shift != 0) {
            r = (edge == SNAP_LEFT || edge == SNAP_RIGHT) ? r.Offset(shift, 0) : r.Offset(0, shift);
            held = true;
        }
    }
    unsigned edges = 0;
    const SnapPoint fix = SnapCorrection(r, state.targets, state.distance, &edges);
    if (!edges)
        return held && !(r == start);
    r = r.Offset(fix.x, fix.y);
    for (int edge = 0; edge < 4; ++edge) {
        if ((edges & (1u << edge)) && !state.stuck[edge]) {
            state.stuck[edge] = true;
            state.stuckAt[edge] = (edge == SNAP_LEFT || edge == SNAP_RIGHT) ? cursor.x : cursor.y;
            state.stuckTo[edge] = edge == SNAP_LEFT    ? r.left
                                  : edge == SNAP_TOP   ? r.top
                                  : edge == SNAP_RIGHT ? r.right
                                                       : r.bottom;
        }
    }
    return fix.x != 0 || fix.y != 0 || held;
}

SnapMoveResult SnapMoveStep(SnapState &state, const SnapRect &proposed, SnapPoint cursor)
{
    SnapMoveResult result;
    SnapRect r = proposed;
    bool corrected = false;
    if (state.glued.empty()) {
        corrected = SnapMoving(state, r, cursor);
    } else {
        // Glued windows snap against the same targets, except one another:
        // their old places must not hold them back.
        std::vector<SnapWindow> targets;
        for (const SnapWindow &t : state.targets) {
            const bool isGlued = std::any_of(state.glued.begin(), state.glued.end(),
                                             [&](const SnapWindow &g) { return g.id == t.id; });
            if (!isGlued)
                targets.push_back(t);
        }
        std::swap(targets, state.targets);
        const int mx = r.left - state.last.left;
        const int my = r.top - state.last.top;
        std::vector<SnapRect> moved;
        for (const SnapWindow &g : state.glued)
            moved.push_back(g.rect.Offset(mx, my));
        for (int round = 0; round < 10; ++round) {
            const SnapRect before = r;
            const SnapRect snapStart = r;
            corrected = SnapMoving(state, r, cursor) || corrected;
            const int cx = r.left - snapStart.left;
            const int cy = r.top - snapStart.top;
            for (std::size_t i = 0; i < moved.size(); ++i) {
                moved[i] = moved[i].Offset(cx, cy);
                const SnapPoint fix = SnapCorrection(moved[i], state.targets, state.distance);
                if (fix.x || fix.y) {
                    corrected = true;
                    r = r.Offset(fix.x, fix.y);
                    for (std::size_t j = 0; j < moved.size(); ++j)
                        moved[j] = moved[j].Offset(fix.x, fix.y);
                }
            }
            if (r == before)
                break;
        }
        std::swap(targets, state.targets);
    }
    // After a hold the window catches up with the mouse once it lags 6
    // pixels or more.
    // An axis whose edge is still held stays where it is held.
    if (!corrected) {
        const SnapPoint want{cursor.x - state.grabOffset.x, cursor.y - state.grabOffset.y};
        if (std::abs(want.x - r.left) >= 6 || std::abs(want.y - r.top) >= 6) {
            const bool holdX = state.stuck[SNAP_LEFT] || state.stuck[SNAP_RIGHT];
            const bool holdY = state.stuck[SNAP_TOP] || state.stuck[SNAP_BOTTOM];
            r = r.Offset(holdX ? 0 : want.x - r.left, holdY ? 0 : want.y - r.top);
        }
    }
    // Glued windows keep their places relative to the own window exactly.
    const int tx = r.left - state.last.left;
    const int ty = r.top - state.last.top;
    for (SnapWindow &g : state.glued) {
        g.rect = g.rect.Offset(tx, ty);
        result.glued.push_back(g);
    }
    state.last = r;
    result.rect = r;
    return result;
}

SnapRect SnapSizeStep(const SnapState &state, const SnapRect &proposed)
{
    SnapRect r = proposed;
    const int d = state.distance;
    auto nearer = [d](int edge, int a, int b, int &out) {
        const int da = std::abs(edge - a);
        const int db = std::abs(edge - b);
        const int best = da <= db ? a : b;
        if (std::abs(edge - best) < d) {
            out = best;
            return true;
        }
        return false;
    };
    for (const SnapWindow &target : state.targets) {
        const SnapRect &t = target.rect;
        if (!t.Inflate(d).Intersects(r))
            continue;
        nearer(r.left, t.left, t.right, r.left);
        nearer(r.right, t.left, t.right, r.right);
        nearer(r.top, t.top, t.bottom, r.top);
        nearer(r.bottom, t.top, t.bottom, r.bottom);
    }
    return r;
}
