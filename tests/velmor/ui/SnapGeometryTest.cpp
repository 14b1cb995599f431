// Snapping and gluing on plain rectangles: what the window moves and sizes
// feed in, step by step, as a drag with the mouse would.
#include "SnapGeometry.h"

#include <gtest/gtest.h>

namespace {

constexpr SnapWindowId kMain = 1;
constexpr SnapWindowId kControl = 2;
constexpr SnapWindowId kOther = 3;
const SnapRect kScreen{0, 0, 1920, 1080};

SnapWindow Win(SnapWindowId id, SnapRect r)
{
    return {id, r, false};
}
SnapWindow Desktop()
{
    return {0, kScreen, true};
}

// Replays a drag: the proposed rectangle is the last one shifted by the
// cursor's movement, as the window system proposes it while moving.
class Drag {
public:
    Drag(SnapState &state, SnapWindowId self, SnapRect rect, SnapPoint cursor,
         std::vector<SnapWindow> windows, bool gluing)
        : m_state(state), m_cursor(cursor)
    {
        SnapBeginDrag(state, self, rect, cursor, windows, gluing);
    }
    SnapMoveResult To(int x, int y)
    {
        const SnapRect proposed = m_state.last.Offset(x - m_cursor.x, y - m_cursor.y);
        m_cursor = {x, y};
        return SnapMoveStep(m_state, proposed, m_cursor);
    }
    SnapMoveResult By(int dx, int dy) { return To(m_cursor.x + dx, m_cursor.y + dy); }

private:
    SnapState &m_state;
    SnapPoint m_cursor;
};

} // namespace

TEST(SnapGeometry, DocksWithinFourPixelsHoldsForTenAndThenFollowsTheMouse)
{
    const SnapRect main{100, 100, 500, 500};
    SnapState state;
    // The control window starts 40 pixels right of the main window, the
    // cursor on its caption.
    SnapRect control{540, 130, 807, 625};
    Drag drag(state, kControl, control, {550, 140}, {Win(kMain, main), Desktop()}, false);
    // 5 pixels away is not near enough.
    auto r = drag.By(-35, 0);
    EXPECT_EQ(r.rect.left, 505);
    // 4 pixels away docks onto the main window's right edge.
    r = drag.By(-1, 0);
    EXPECT_EQ(r.rect.left, 500);
    EXPECT_TRUE(state.stuck[SNAP_LEFT]);
    // Pulling on by up to 10 pixels keeps it docked...
    for (int i = 0; i < 10; ++i) {
        r = drag.By(1, 0);
        EXPECT_EQ(r.rect.left, 500) << "after " << i + 1 << " pixels";
    }
    // ...one more and it lets go and catches up with the mouse.
    r = drag.By(1, 0);
    EXPECT_GT(r.rect.left, 508);
    EXPECT_FALSE(state.stuck[SNAP_LEFT]);
    // The cursor is at 525 now.
    const int lag = r.rect.left - (525 - state.grabOffset.x);
    r = drag.By(20, 0);
    EXPECT_EQ(r.rect.left - (545 - state.grabOffset.x), lag);
    EXPECT_LT(std::abs(lag), 6);
    // Sizes never change while moving.
    EXPECT_EQ(r.rect.Width(), 267);
    EXPECT_EQ(r.rect.Height(), 495);
}

TEST(SnapGeometry, TopAndBottomEdgesSnapAndScreenEdgesCount)
{
    SnapState state;
    SnapRect w{300, 300, 500, 400};
    Drag drag(state, kOther, w, {310, 310}, {Desktop()}, false);
    // Towards the screen's left edge: within 5 pixels it aligns.
    auto r = drag.To(310 - 296, 310);
    EXPECT_EQ(r.rect.left, 0);
    SnapState state2;
    Drag drag2(state2, kOther, w, {310, 310}, {Desktop()}, false);
    r = drag2.To(310, 310 + 676);
    EXPECT_EQ(r.rect.bottom, 1080);
    EXPECT_TRUE(state2.stuck[SNAP_BOTTOM]);
}

TEST(SnapGeometry, CorrectionTakesTheFirstTargetAndTheFirstMatchingEdgePair)
{
    const std::vector<SnapWindow> targets{Win(kMain, {100, 100, 200, 200}),
                                          Win(kOther, {203, 100, 300, 200})};
    unsigned edges = 0;
    // Right edge near the first target's right (and the second's left):
    // the first target wins, its right-to-left test comes first.
    SnapPoint fix = SnapCorrection({150, 150, 201, 160}, targets, 5, &edges);
    EXPECT_EQ(fix.x, -1);
    EXPECT_EQ(edges & (1u << SNAP_RIGHT), 1u << SNAP_RIGHT);
    // Far from both: nothing.
    fix = SnapCorrection({400, 400, 450, 450}, targets, 5, &edges);
    EXPECT_EQ(fix, (SnapPoint{0, 0}));
    EXPECT_EQ(edges, 0u);
    // Exactly 5 apart is not near.
    fix = SnapCorrection({205 + 100, 150, 305 + 100, 160}, {Win(kMain, {100, 100, 300, 200})}, 5, &edges);
    EXPECT_EQ(edges, 0u);
}

TEST(SnapGeometry, GluedWindowsFollowTheMainWindowAndTheControlWindowMovesAlone)
{
    const SnapRect main{100, 100, 500, 500};
    const SnapRect control{500, 100, 767, 595}; // docked at the right edge
    const SnapRect far{900, 600, 1000, 700};
    const std::vector<SnapWindow> windows{Win(kMain, main), Win(kControl, control), Win(kOther, far),
                                          Desktop()};

    SnapState mainState;
    Drag drag(mainState, kMain, main, {150, 110}, windows, true);
    ASSERT_EQ(mainState.glued.size(), 1u);
    EXPECT_EQ(mainState.glued[0].id, kControl);
    auto r = drag.By(30, 40);
    EXPECT_EQ(r.rect, main.Offset(30, 40));
    ASSERT_EQ(r.glued.size(), 1u);
    EXPECT_EQ(r.glued[0].rect, control.Offset(30, 40));
    r = drag.By(70, 10);
    EXPECT_EQ(r.glued[0].rect.left - r.rect.right, 0); // still docked
    EXPECT_EQ(r.glued[0].rect.top, r.rect.top);

    // The control window has gluing off: the main window stays put.
    SnapState controlState;
    Drag drag2(controlState, kControl, control, {600, 110}, windows, false);
    EXPECT_TRUE(controlState.glued.empty());
    r = drag2.By(10, 0); // pulled from the edge: held first
    for (int i = 0; i < 3; ++i)
        r = drag2.By(10, 0);
    EXPECT_GT(r.rect.left, 520);
    EXPECT_TRUE(r.glued.empty());
}

TEST(SnapGeometry, AGluedWindowThatComesNearATargetSnapsTheWholeGroup)
{
    const SnapRect main{100, 100, 500, 500};
    const SnapRect control{500, 100, 767, 595};
    // The screen's right edge is 1920: the control window's right edge is
    // the one that meets it.
    const std::vector<SnapWindow> windows{Win(kMain, main), Win(kControl, control), Desktop()};
    SnapState state;
    Drag drag(state, kMain, main, {150, 110}, windows, true);
    // Move the group so that the control window ends 3 pixels short of the
    // screen's right edge.
    auto r = drag.By(1920 - 767 - 3, 0);
    ASSERT_EQ(r.glued.size(), 1u);
    EXPECT_EQ(r.glued[0].rect.right, 1920);
    EXPECT_EQ(r.rect.right, r.glued[0].rect.left);
}

TEST(SnapGeometry, GluingIsTransitiveAndNeedsAnEdgeOnTheSameLine)
{
    const SnapRect a{0, 0, 100, 100};
    const std::vector<SnapWindow> windows{
        Win(10, {100, 0, 200, 50}),  // touches a's right edge
        Win(11, {200, 20, 260, 40}), // touches the previous one only
        Win(12, {101, 0, 150, 20}),  // 1 pixel gap, no edge on a's lines... but on 10's?
        Win(13, {300, 300, 400, 400}), Desktop(),
    };
    const auto glued = SnapFindGlued(1, a, windows);
    std::vector<SnapWindowId> ids;
    for (const auto &g : glued)
        ids.push_back(g.id);
    std::sort(ids.begin(), ids.end());
    // 12 overlaps 10 and shares its top line: glued through 10.
    EXPECT_EQ(ids, (std::vector<SnapWindowId>{10, 11, 12}));
    // A window 2 pixels away is not glued.
    EXPECT_TRUE(SnapFindGlued(1, a, {Win(20, {102, 0, 200, 100})}).empty());
    // Corner to corner (touching the grown rectangle, an edge on a line).
    EXPECT_EQ(SnapFindGlued(1, a, {Win(21, {100, 100, 150, 150})}).size(), 1u);
}

TEST(SnapGeometry, SizingMakesTheEdgesMeetWithoutSticking)
{
    SnapState state;
    const SnapRect main{100, 100, 500, 500};
    const SnapRect control{600, 100, 867, 595};
    SnapBeginDrag(state, kMain, main, {500, 300}, {Win(kMain, main), Win(kControl, control), Desktop()},
                  true);
    // Dragging the main window's right edge to 3 pixels short of the
    // control window's left edge makes them meet.
    SnapRect r = SnapSizeStep(state, {100, 100, 597, 500});
    EXPECT_EQ(r.right, 600);
    EXPECT_EQ(r.left, 100);
    // Past it by 4: back onto it. By 5: left alone.
    EXPECT_EQ(SnapSizeStep(state, {100, 100, 604, 500}).right, 600);
    EXPECT_EQ(SnapSizeStep(state, {100, 100, 595, 500}).right, 595);
    for (bool s : state.stuck)
        EXPECT_FALSE(s);
    // The nearer of the target's two edges wins.
    SnapState narrow;
    SnapBeginDrag(narrow, kMain, main, {0, 0}, {Win(kOther, {200, 600, 206, 700})}, false);
    EXPECT_EQ(SnapSizeStep(narrow, {100, 100, 205, 602}).right, 206);
}

TEST(SnapGeometry, ANewDragForgetsTheLastOne)
{
    SnapState state;
    const SnapRect main{100, 100, 500, 500};
    Drag drag(state, kControl, {505, 100, 600, 200}, {510, 110}, {Win(kMain, main)}, false);
    drag.By(-1, 0);
    ASSERT_TRUE(state.stuck[SNAP_LEFT]);
    SnapBeginDrag(state, kControl, {800, 100, 900, 200}, {810, 110}, {Win(kMain, main), Win(kControl, {})},
                  false);
    for (bool s : state.stuck)
        EXPECT_FALSE(s);
    EXPECT_EQ(state.targets.size(), 1u); // the own window is never a target
    EXPECT_EQ(state.grabOffset, (SnapPoint{10, 10}));
    EXPECT_EQ(state.distance, 5);
}

TEST(SnapGeometry, AFastMouseStepDoesNotTearADockedEdgeOffEarly)
{
    const SnapRect main{100, 100, 500, 500};
    SnapState state;
    Drag drag(state, kControl, {503, 150, 770, 645}, {600, 160}, {Win(kMain, main)}, false);
    auto r = drag.By(-1, 0);
    ASSERT_EQ(r.rect.left, 500);
    // 8 pixels in one step, then 2 more: still within the hold.
    r = drag.By(8, 0);
    EXPECT_EQ(r.rect.left, 500);
    r = drag.By(2, 0);
    EXPECT_EQ(r.rect.left, 500);
    // Sliding along the docked edge keeps it docked.
    r = drag.By(0, 40);
    EXPECT_EQ(r.rect.left, 500);
    EXPECT_EQ(r.rect.top, 190);
    // Past 10 pixels it follows the mouse.
    r = drag.By(6, 0);
    EXPECT_FALSE(state.stuck[SNAP_LEFT]);
    EXPECT_GE(r.rect.left, 510);
}
