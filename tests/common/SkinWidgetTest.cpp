// The skin widget on a real window under the offscreen platform: painting,
// the mouse events 22, 23, 30, 31, clicks, window drags and tooltips.
#include "CSkinWidget.h"

#include "QtTestApp.h"

#include <QApplication>

#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

const char *kForm = R"(
form Main {
    size = 300, 200
    fill = #102030
    frame caption {
        rect = 0, 0, 300, 20
        anchor = left, top, right
        fill = #204060
        action = move
        text title {
            rect = 4, 0, 100, 20
            caption = "제목"
        }
    }
    button btn_start {
        rect = 10, 30, 60, 20
        fill = #00FF00
        pressed_fill = #0000FF
        command = 1012
        text label {
            rect = 2, 2, 30, 10
            caption = "시작"
        }
    }
    check mute {
        rect = 80, 30, 20, 20
        fill = #808080
    }
    slider SliderSound {
        rect = 10, 100, 110, 10
        range = 0, 100
        thumb_size = 10
        fill = #FFFFFF
    }
    button hidden {
        rect = 200, 30, 40, 20
        visible = 0
        fill = #FF0000
        command = 7
    }
    button off {
        rect = 200, 60, 40, 20
        enabled = 0
        command = 8
    }
    button btn_close {
        rect = 270, 30, 20, 20
        action = close
    }
    image grip {
        rect = 288, 188, 12, 12
        anchor = right, bottom
        action = size
    }
}
)";

class SkinWidgetTest : public testing::Test {
protected:
    void SetUp() override
    {
        App<QApplication>();
        m_window = std::make_unique<QWidget>();
        m_window->resize(10, 10);
        m_skin = new CSkinWidget(m_window.get());
        ASSERT_EQ(m_skin->Skin().FindForm(QString()), nullptr);
        ASSERT_EQ(const_cast<CSkin &>(m_skin->Skin()).Parse(QString::fromUtf8(kForm), QString()), S_OK);
        ASSERT_EQ(m_skin->ApplySkin(QStringLiteral("main")), S_OK);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }
    CSkinObject *Find(const char *name) { return FindSkinObject(m_skin->GetRoot(), QString::fromUtf8(name)); }

    std::unique_ptr<QWidget> m_window;
    CSkinWidget *m_skin = nullptr;
};

} // namespace

TEST_F(SkinWidgetTest, TheWindowTakesTheFormSizeAndTheFormFollowsTheWindow)
{
    EXPECT_EQ(m_window->size(), QSize(300, 200));
    EXPECT_EQ(m_skin->geometry(), QRect(0, 0, 300, 200));
    m_window->resize(400, 250);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_skin->size(), QSize(400, 250));
    EXPECT_EQ(Find("caption")->GetRect(), QRect(0, 0, 400, 20));
    EXPECT_EQ(Find("grip")->GetFormRect(), QRect(388, 238, 12, 12));
    EXPECT_EQ(m_skin->ApplySkin(QStringLiteral("nonexistent")), E_FAIL);
}

TEST_F(SkinWidgetTest, PaintsFillsStatesAndLeavesHiddenObjectsOut)
{
    QImage shot = m_window->grab().toImage();
    EXPECT_EQ(shot.pixelColor(5, 60), QColor(0x10, 0x20, 0x30));
    EXPECT_EQ(shot.pixelColor(50, 45), QColor(0, 255, 0));
    EXPECT_EQ(shot.pixelColor(220, 40), QColor(0x10, 0x20, 0x30)); // hidden red button
    Find("hidden")->SetVisible(true);
    Find("btn_start")->SetChecked(true); // a checked look is the pressed look
    QCoreApplication::processEvents();
    shot = m_window->grab().toImage();
    EXPECT_EQ(shot.pixelColor(220, 40), QColor(255, 0, 0));
}

TEST_F(SkinWidgetTest, PressAndReleaseRaiseEvents22And23AndAClickSendsTheCommand)
{
    QSignalSpy down(m_skin, &CSkinWidget::SkinMouseDown);
    QSignalSpy up(m_skin, &CSkinWidget::SkinMouseUp);
    QSignalSpy command(m_skin, &CSkinWidget::SkinCommand);
    // A press on the button's caption counts for the button.
    QTest::mousePress(m_skin, Qt::LeftButton, {}, QPoint(15, 35));
    ASSERT_EQ(down.count(), 1);
    EXPECT_EQ(down[0][0].value<CSkinObject *>(), Find("btn_start"));
    EXPECT_EQ(down[0][1].toInt(), SKIN_LBUTTON);
    EXPECT_EQ(down[0][2].toInt(), 15);
    EXPECT_EQ(down[0][3].toInt(), 35);
    QTest::mouseRelease(m_skin, Qt::LeftButton, {}, QPoint(20, 40));
    ASSERT_EQ(up.count(), 1);
    EXPECT_EQ(up[0][0].value<CSkinObject *>(), Find("btn_start"));
    ASSERT_EQ(command.count(), 1);
    EXPECT_EQ(command[0][0].toInt(), 1012);

    // Released away from the button: events, but no click.
    QTest::mousePress(m_skin, Qt::LeftButton, {}, QPoint(15, 35));
    QTest::mouseRelease(m_skin, Qt::LeftButton, {}, QPoint(150, 150));
    EXPECT_EQ(up.count(), 2);
    EXPECT_EQ(command.count(), 1);

    // The right button never clicks; a disabled button reports but does not click.
    QTest::mouseClick(m_skin, Qt::RightButton, {}, QPoint(15, 35));
    QTest::mouseClick(m_skin, Qt::LeftButton, {}, QPoint(210, 70));
    EXPECT_EQ(command.count(), 1);
    EXPECT_EQ(down.count(), 4);
    EXPECT_EQ(down[3][0].value<CSkinObject *>(), Find("off"));
    // A hidden button is not there for the mouse.
    QTest::mouseClick(m_skin, Qt::LeftButton, {}, QPoint(210, 40));
    EXPECT_EQ(command.count(), 1);
    EXPECT_NE(down[4][0].value<CSkinObject *>(), Find("hidden"));
}

TEST_F(SkinWidgetTest, ACheckTogglesAndTheCloseActionAsksForTheSystemCommand)
{
    QSignalSpy system(m_skin, &CSkinWidget::SkinSystemCommand);
    CSkinObject *mute = Find("mute");
    QTest::mouseClick(m_skin, Qt::LeftButton, {}, QPoint(85, 35));
    EXPECT_TRUE(mute->GetChecked());
    QTest::mouseClick(m_skin, Qt::LeftButton, {}, QPoint(85, 35));
    EXPECT_FALSE(mute->GetChecked());
    QTest::mouseClick(m_skin, Qt::LeftButton, {}, QPoint(275, 35));
    ASSERT_EQ(system.count(), 1);
    EXPECT_EQ(system[0][0].toInt(), int(SKIN_SC_CLOSE));
}

TEST_F(SkinWidgetTest, SliderDragRaises30AndHoverRaises31)
{
    QSignalSpy changed(m_skin, &CSkinWidget::SkinSliderChanged);
    QSignalSpy hover(m_skin, &CSkinWidget::SkinSliderHover);
    CSkinObject *slider = Find("SliderSound");
    QTest::mouseMove(m_skin, QPoint(15, 105));
    EXPECT_GE(hover.count(), 1);
    // The thumb's centre travels from x 15 to x 115 for the values 0 to 100.
    QTest::mousePress(m_skin, Qt::LeftButton, {}, QPoint(65, 105));
    EXPECT_EQ(slider->GetValue(), 50);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][1].toInt(), 50);
    QTest::mouseMove(m_skin, QPoint(500, 105));
    EXPECT_EQ(slider->GetValue(), 100);
    QTest::mouseRelease(m_skin, Qt::LeftButton, {}, QPoint(500, 105));
    EXPECT_EQ(changed.last()[1].toInt(), 100);
    // Setting the value from the program raises nothing.
    const int before = changed.count();
    EXPECT_TRUE(slider->SetValue(10));
    EXPECT_FALSE(slider->SetValue(10));
    EXPECT_EQ(changed.count(), before);
    int lo = 0, hi = 0;
    slider->SetRange(50, 20);
    slider->GetRange(lo, hi);
    EXPECT_EQ(lo, 20);
    EXPECT_EQ(hi, 50);
    EXPECT_EQ(slider->GetValue(), 20);
}

TEST_F(SkinWidgetTest, CaptionAndGripStartWindowDrags)
{
    QSignalSpy started(m_skin, &CSkinWidget::WindowDragStarted);
    QSignalSpy moved(m_skin, &CSkinWidget::WindowDragMoved);
    QSignalSpy ended(m_skin, &CSkinWidget::WindowDragEnded);
    // The caption's text is part of the caption for the mouse.
    QTest::mousePress(m_skin, Qt::LeftButton, {}, QPoint(10, 10));
    ASSERT_EQ(started.count(), 1);
    EXPECT_EQ(started[0][1].value<Qt::Edges>(), Qt::Edges());
    QTest::mouseMove(m_skin, QPoint(30, 12));
    EXPECT_GE(moved.count(), 1);
    QTest::mouseRelease(m_skin, Qt::LeftButton, {}, QPoint(30, 12));
    EXPECT_EQ(ended.count(), 1);
    QTest::mousePress(m_skin, Qt::LeftButton, {}, QPoint(294, 194));
    ASSERT_EQ(started.count(), 2);
    EXPECT_EQ(started[1][1].value<Qt::Edges>(), Qt::RightEdge | Qt::BottomEdge);
    QTest::mouseRelease(m_skin, Qt::LeftButton, {}, QPoint(294, 194));
}

TEST_F(SkinWidgetTest, HitTestAndObjectLookupFollowVisibility)
{
    CSkinObject *start = Find("btn_start");
    EXPECT_TRUE(start->HitTest(QPoint(10, 30)));
    EXPECT_FALSE(start->HitTest(QPoint(70, 30))); // right edge is outside
    EXPECT_EQ(m_skin->InteractiveObjectAt(QPoint(15, 35)), start);
    EXPECT_EQ(m_skin->InteractiveObjectAt(QPoint(150, 150)), m_skin->GetRoot());
    EXPECT_EQ(m_skin->InteractiveObjectAt(QPoint(500, 500)), nullptr);
    start->SetVisible(false);
    EXPECT_FALSE(start->HitTest(QPoint(15, 35)));
    Find("caption")->SetVisible(false);
    EXPECT_FALSE(Find("title")->HitTest(QPoint(10, 10)));
    EXPECT_EQ(Find("title")->GetCaption(), QStringLiteral("제목"));
    Find("title")->SetCaption(QStringLiteral("방송중"));
    Find("title")->Refresh();
    EXPECT_EQ(Find("title")->GetCaption(), QStringLiteral("방송중"));
}
