// The window layer of snapping: real frameless top-level windows (offscreen)
// moved and sized through CSnapDialog, the skin's caption driving it, and
// the system menu with its keyboard move and size.
#include "CSkinWidget.h"
#include "CSnapDialog.h"

#include "QtTestApp.h"

#include <QApplication>

#include <QMenu>
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

namespace {

// A skinned window: a caption that moves it and a plain frame below.
std::unique_ptr<CSnapDialog> SkinnedWindow(const QRect &r, CSkinWidget **skinOut)
{
    auto w = std::make_unique<CSnapDialog>();
    w->setWindowFlags(Qt::Window);
    w->SetSkinned(true);
    w->setGeometry(r);
    auto *skin = new CSkinWidget(w.get());
    EXPECT_EQ(const_cast<CSkin &>(skin->Skin())
                  .Parse(QStringLiteral(R"(
form F {
    size = 200, 150
    frame caption {
        rect = 0, 0, 200, 20
        action = move
        text title {
            rect = 4, 0, 100, 20
            caption = "title"
        }
    }
    frame body {
        rect = 0, 20, 200, 130
        fill = #ffffff
    }
}
)"),
                         QString()),
              S_OK);
    EXPECT_EQ(skin->ApplySkin(QString()), S_OK);
    w->ConnectSkinDrag(skin);
    w->show();
    w->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(w.get()));
    *skinOut = skin;
    return w;
}

QStringList MenuTexts(const QMenu *menu)
{
    QStringList texts;
    for (const QAction *a : menu->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
}

QAction *MenuItem(const QMenu *menu, int id)
{
    for (QAction *a : menu->actions())
        if (!a->isSeparator() && a->data().toInt() == id)
            return a;
    return nullptr;
}

} // namespace

TEST(SnapDialog, TheSystemMenuOpensOnTheCaptionOnAltSpaceAndOnAnUnskinnedBackground)
{
    App<QApplication>();
    CSkinWidget *skin = nullptr;
    auto w = SkinnedWindow(QRect(100, 50, 200, 150), &skin);
    EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
    QMenu *menu = w->SystemMenu();
    w->AppendAboutItem("http://127.0.0.1:1/");
    EXPECT_EQ(MenuTexts(menu), (QStringList{QStringLiteral("이전 크기로(&R)"), QStringLiteral("이동(&M)"),
                                            QStringLiteral("크기 조정(&S)"), QStringLiteral("최소화(&N)"),
                                            QStringLiteral("최대화(&X)"), QStringLiteral("-"),
                                            QStringLiteral("닫기(&C)\tAlt+F4"), QStringLiteral("-"),
                                            QStringLiteral("Velmor 정보(&A)...")}));

    // A right click on the body is nothing; on the caption (its text too)
    // the menu opens where the button was released, with what does not
    // apply greyed.
    // (Clicks go through the window, as the window system delivers them.)
    QTest::mouseClick(w->windowHandle(), Qt::RightButton, {}, QPoint(100, 80));
    EXPECT_FALSE(menu->isVisible());
    QTest::mouseClick(w->windowHandle(), Qt::RightButton, {}, QPoint(30, 10));
    ASSERT_TRUE(menu->isVisible());
    EXPECT_EQ(menu->pos(), QPoint(130, 60));
    EXPECT_FALSE(MenuItem(menu, CSnapDialog::SC_RESTORE)->isEnabled());
    EXPECT_FALSE(MenuItem(menu, CSnapDialog::SC_MAXIMIZE)->isEnabled());
    EXPECT_TRUE(MenuItem(menu, CSnapDialog::SC_MOVE)->isEnabled());
    EXPECT_TRUE(MenuItem(menu, CSnapDialog::SC_SIZE)->isEnabled());
    menu->hide();
    // A left click on the caption still only moves the window.
    QTest::mouseClick(skin, Qt::LeftButton, {}, QPoint(150, 10));
    EXPECT_FALSE(menu->isVisible());

    // Alt+Space: below the caption's left end.
    QTest::keyClick(w.get(), Qt::Key_Space, Qt::AltModifier);
    ASSERT_TRUE(menu->isVisible());
    EXPECT_EQ(menu->pos(), QPoint(100, 70));
    menu->hide();

    // Without a skin the window system's title bar is the caption, and a
    // right click on the window's background opens our menu.
    auto plain = std::make_unique<CSnapDialog>();
    plain->setWindowFlags(Qt::Window);
    plain->SetSkinned(false);
    EXPECT_FALSE(plain->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(plain->windowFlags() & Qt::WindowTitleHint);
    EXPECT_TRUE(plain->windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(plain->windowFlags() & Qt::WindowCloseButtonHint);
    plain->setGeometry(400, 50, 200, 150);
    plain->show();
    QTest::mouseClick(plain->windowHandle(), Qt::RightButton, {}, QPoint(50, 60));
    ASSERT_TRUE(plain->SystemMenu()->isVisible());
    EXPECT_EQ(plain->SystemMenu()->pos(), QPoint(450, 110));
    plain->SystemMenu()->hide();

    // "최소화" and "닫기" do what they say.
    MenuItem(plain->SystemMenu(), CSnapDialog::SC_MINIMIZE)->trigger();
    EXPECT_TRUE(plain->isMinimized());
    MenuItem(plain->SystemMenu(), CSnapDialog::SC_CLOSE)->trigger();
    EXPECT_FALSE(plain->isVisible());
}

TEST(SnapDialog, TheMenusMoveAndSizeRunFromTheKeyboardAndEscapePutsItBack)
{
    App<QApplication>();
    CSkinWidget *skin = nullptr;
    auto w = SkinnedWindow(QRect(300, 300, 200, 150), &skin);
    w->setMinimumSize(100, 80);
    auto other = Window(QRect(100, 700, 100, 100));
    const QRect start = w->geometry();

    // 이동: 8 pixels an arrow, 1 with Ctrl; Escape puts it back.
    MenuItem(w->SystemMenu(), CSnapDialog::SC_MOVE)->trigger();
    ASSERT_TRUE(w->IsKeyboardDragging());
    QTest::keyClick(w.get(), Qt::Key_Right);
    QTest::keyClick(w.get(), Qt::Key_Right);
    QTest::keyClick(w.get(), Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(w->pos(), QPoint(316, 301));
    // No shortcut fires during the loop.
    QTest::keyClick(w.get(), Qt::Key_F4, Qt::AltModifier);
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->IsKeyboardDragging());
    QTest::keyClick(w.get(), Qt::Key_Escape);
    EXPECT_FALSE(w->IsKeyboardDragging());
    EXPECT_EQ(w->geometry(), start);
    // Enter keeps the place; keys after the loop are the window's again.
    MenuItem(w->SystemMenu(), CSnapDialog::SC_MOVE)->trigger();
    QTest::keyClick(w.get(), Qt::Key_Left);
    QTest::keyClick(w.get(), Qt::Key_Up);
    QTest::keyClick(w.get(), Qt::Key_Return);
    EXPECT_FALSE(w->IsKeyboardDragging());
    EXPECT_EQ(w->pos(), QPoint(292, 292));
    QTest::keyClick(w.get(), Qt::Key_Left);
    EXPECT_EQ(w->pos(), QPoint(292, 292));

    // 크기 조정: the first arrow of an axis picks that edge and moves it;
    // the minimum size holds.
    MenuItem(w->SystemMenu(), CSnapDialog::SC_SIZE)->trigger();
    ASSERT_TRUE(w->IsKeyboardDragging());
    QTest::keyClick(w.get(), Qt::Key_Right);
    QTest::keyClick(w.get(), Qt::Key_Right);
    QTest::keyClick(w.get(), Qt::Key_Up);
    EXPECT_EQ(w->geometry(), QRect(292, 284, 216, 158));
    for (int i = 0; i < 20; ++i)
        QTest::keyClick(w.get(), Qt::Key_Down);
    EXPECT_EQ(w->geometry().size(), QSize(216, 80));
    QTest::keyClick(w.get(), Qt::Key_Enter);
    EXPECT_FALSE(w->IsKeyboardDragging());
    EXPECT_EQ(w->geometry().size(), QSize(216, 80));
    // Other windows were never touched.
    EXPECT_EQ(other->geometry(), QRect(100, 700, 100, 100));
    // Outside the loop Alt+F4 closes the window.
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    QTest::keyClick(w.get(), Qt::Key_F4, Qt::AltModifier);
    EXPECT_FALSE(w->isVisible());
}
