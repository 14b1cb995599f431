// The window layer of snapping: real frameless top-level windows (offscreen)
// moved and sized through CSnapDialog, and the skin's caption driving it.
#include "CSkinWidget.h"
#include "CSnapDialog.h"

#include "QtTestApp.h"

#include <QApplication>

#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

std::unique_ptr<CSnapDialog> Window(const QRect &r)
{
    auto w = std::make_unique<CSnapDialog>();
    w->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    w->setGeometry(r);
    w->show();
    return w;
}

} // namespace

TEST(SnapDialog, MovingNearAnotherWindowDocksAndGluingCarriesItAlong)
{
    App<QApplication>();
    auto main = Window(QRect(100, 100, 400, 400));
    auto control = Window(QRect(540, 100, 267, 495));
    // The control window is dragged left by its caption until it docks.
    control->BeginSnapMove(QPoint(600, 110));
    control->SnapMoveTo(QPoint(565, 110)); // 5 pixels away
    EXPECT_EQ(control->x(), 505);
    control->SnapMoveTo(QPoint(564, 110)); // 4 pixels away: docked
    EXPECT_EQ(control->x(), 500);
    control->SnapMoveTo(QPoint(570, 110)); // held
    EXPECT_EQ(control->x(), 500);
    control->EndSnapDrag();
    EXPECT_FALSE(control->IsSnapDragging());
    EXPECT_EQ(main->pos(), QPoint(100, 100)); // gluing is off for the control window

    // The main window with gluing on takes the docked window along.
    main->SetGluing(true);
    main->BeginSnapMove(QPoint(200, 110));
    main->SnapMoveTo(QPoint(260, 150));
    main->EndSnapDrag();
    EXPECT_EQ(main->pos(), QPoint(160, 140));
    EXPECT_EQ(control->pos(), QPoint(560, 140));
    // Without gluing it moves alone.
    main->SetGluing(false);
    main->BeginSnapMove(QPoint(200, 150));
    main->SnapMoveTo(QPoint(200, 250));
    EXPECT_EQ(control->pos(), QPoint(560, 140));
}

TEST(SnapDialog, HiddenWindowsAndTheWindowItselfAreNoTargets)
{
    App<QApplication>();
    auto hidden = Window(QRect(100, 100, 400, 400));
    hidden->hide();
    auto w = Window(QRect(540, 100, 200, 200));
    w->BeginSnapMove(QPoint(600, 110));
    w->SnapMoveTo(QPoint(563, 110));
    EXPECT_EQ(w->x(), 503);
    const auto &targets = w->SnapStateForTest().targets;
    ASSERT_FALSE(targets.empty());
    EXPECT_TRUE(targets.back().isDesktop);
    for (const SnapWindow &t : targets)
        EXPECT_NE(t.id, reinterpret_cast<SnapWindowId>(hidden.get()));
}

TEST(SnapDialog, SizingMeetsTheNeighbourAndKeepsAMinimumSize)
{
    App<QApplication>();
    auto main = Window(QRect(100, 100, 400, 400));
    auto control = Window(QRect(600, 100, 267, 495));
    main->BeginSnapSize(QPoint(499, 300), Qt::RightEdge);
    main->SnapSizeTo(QPoint(596, 300)); // right edge at 597, 3 short of 600
    EXPECT_EQ(main->geometry(), QRect(100, 100, 500, 400));
    main->SnapSizeTo(QPoint(200, 300));
    EXPECT_EQ(main->width(), 101);
    main->SnapSizeTo(QPoint(0, 300));
    EXPECT_EQ(main->geometry(), QRect(100, 100, 60, 400));
    main->EndSnapDrag();
    // Dragging the left edge keeps the right one.
    control->setMinimumSize(200, 200);
    control->BeginSnapSize(QPoint(600, 300), Qt::LeftEdge);
    control->SnapSizeTo(QPoint(700, 300));
    EXPECT_EQ(control->geometry(), QRect(667, 100, 200, 495));
}

TEST(SnapDialog, TheSkinCaptionAndGripDriveTheLoops)
{
    App<QApplication>();
    auto w = Window(QRect(300, 300, 200, 150));
    auto *skin = new CSkinWidget(w.get());
    ASSERT_EQ(const_cast<CSkin &>(skin->Skin())
                  .Parse(QStringLiteral(R"(
form F {
    size = 200, 150
    frame caption {
        rect = 0, 0, 200, 20
        action = move
    }
    image grip {
        rect = 190, 140, 10, 10
        action = size
    }
}
)"),
                         QString()),
              S_OK);
    ASSERT_EQ(skin->ApplySkin(QString()), S_OK);
    w->ConnectSkinDrag(skin);
    QTest::mousePress(skin, Qt::LeftButton, {}, QPoint(50, 10));
    EXPECT_TRUE(w->IsSnapDragging());
    QTest::mouseMove(skin, QPoint(70, 30));
    EXPECT_EQ(w->pos(), QPoint(320, 320));
    QTest::mouseRelease(skin, Qt::LeftButton, {}, QPoint(50, 10));
    EXPECT_FALSE(w->IsSnapDragging());
    QTest::mousePress(skin, Qt::LeftButton, {}, QPoint(195, 145));
    QTest::mouseMove(skin, QPoint(225, 165));
    QTest::mouseRelease(skin, Qt::LeftButton, {}, QPoint(225, 165));
    EXPECT_EQ(w->geometry(), QRect(320, 320, 230, 170));
}
