// The chat display, the user list, the splitter, the selection combo, the
// link ticker and the nickname dialog as real widgets (offscreen).
#include "CChangeName.h"
#include "CChatRichEd.h"
#include "CChatSplitter.h"
#include "CChatingListCtrl.h"
#include "CLinkTicker.h"
#include "CSelectionCombo.h"
#include "UiIds.h"

#include "QtTestApp.h"

#include <QApplication>

#include "platform/MessageBox.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>

#include <gtest/gtest.h>

namespace {

QRgb Rgb(int r, int g, int b)
{
    return qRgb(r, g, b);
}

// The character format at a text position of the display.
QTextCharFormat FormatAt(CChatRichEd &ed, int position)
{
    QTextCursor c(ed.document());
    c.setPosition(position);
    c.setPosition(position + 1, QTextCursor::KeepAnchor);
    return c.charFormat();
}

class Owner : public IChatListOwner {
public:
    std::string name;
    std::vector<int> commands;
    std::string GetOwnName() const override { return name; }
    void OnListCommand(int command) override { commands.push_back(command); }
};

} // namespace

TEST(ChatRichEd, RunsGoToTheEndWithTheirFormatWhateverIsSelected)
{
    App<QApplication>();
    CChatRichEd ed;
    ed.resize(250, 200);
    ed.Setup();
    ed.show();
    ed.AddText("(방장)님 안녕하세요\r\n", Rgb(0, 0, 0), 160, false);
    // The user selects the first word; the next runs still go to the end.
    QTextCursor sel(ed.document());
    sel.setPosition(1);
    sel.setPosition(3, QTextCursor::KeepAnchor);
    ed.setTextCursor(sel);
    ed.AddText("\r\n[손님1]님의 말:\r\n", Rgb(84, 84, 84), 170, false);
    ed.AddText("반가워요\r\n", Rgb(0, 128, 0), 160, true);
    EXPECT_EQ(ed.toPlainText(), QStringLiteral("(방장)님 안녕하세요\n\n[손님1]님의 말:\n반가워요\n"));
    EXPECT_EQ(ed.textCursor().selectedText(), QStringLiteral("방장"));

    const int header = static_cast<int>(ed.toPlainText().indexOf(QStringLiteral("[손님1]")));
    const int text = static_cast<int>(ed.toPlainText().indexOf(QStringLiteral("반가워요")));
    EXPECT_EQ(FormatAt(ed, header).foreground().color(), QColor(84, 84, 84));
    EXPECT_DOUBLE_EQ(FormatAt(ed, header).font().pointSizeF(), 8.5);
    EXPECT_EQ(FormatAt(ed, text).foreground().color(), QColor(0, 128, 0));
    EXPECT_DOUBLE_EQ(FormatAt(ed, text).font().pointSizeF(), 8.0);
    EXPECT_FALSE(FormatAt(ed, text).font().bold());
    // The text line is indented by 150 twips (10 pixels), the header is not.
    EXPECT_DOUBLE_EQ(ed.document()->findBlock(text).blockFormat().leftMargin(), 10.0);
    EXPECT_DOUBLE_EQ(ed.document()->findBlock(header).blockFormat().leftMargin(), 0.0);
}

TEST(ChatRichEd, TypedUrlsBecomeLinksThatOpenWithTheSystemHandler)
{
    App<QApplication>();
    CChatRichEd ed;
    ed.resize(300, 200);
    ed.Setup();
    std::vector<std::string> opened;
    ed.SetLinkOpener([&](const std::string &url) {
        opened.push_back(url);
        return true;
    });
    ed.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ed));
    ed.AddText("여기 http://127.0.0.1:8080/방송?x=1, 그리고 www.example.com. 끝\r\n", Rgb(0, 0, 0), 160,
               true);
    const QString plain = ed.toPlainText();
    const int url = static_cast<int>(plain.indexOf(QStringLiteral("http://")));
    const int www = static_cast<int>(plain.indexOf(QStringLiteral("www.")));
    const QTextCharFormat link = FormatAt(ed, url + 3);
    EXPECT_TRUE(link.isAnchor());
    EXPECT_EQ(link.anchorHref(), QStringLiteral("http://127.0.0.1:8080/방송?x=1"));
    EXPECT_TRUE(FormatAt(ed, www).isAnchor());
    EXPECT_EQ(FormatAt(ed, www).anchorHref(), QStringLiteral("http://www.example.com"));
    // The comma and full stop after the links are not part of them.
    EXPECT_FALSE(FormatAt(ed, static_cast<int>(plain.indexOf(QStringLiteral(", 그리고")))).isAnchor());
    EXPECT_FALSE(FormatAt(ed, 0).isAnchor());

    // One click on the link opens it.
    QTextCursor c(ed.document());
    c.setPosition(url + 4);
    const QPoint at = ed.cursorRect(c).center();
    QTest::mouseClick(ed.viewport(), Qt::LeftButton, {}, at);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], "http://127.0.0.1:8080/방송?x=1");
}

TEST(ChatRichEd, KeepsTheNewestTextInView)
{
    App<QApplication>();
    CChatRichEd ed;
    ed.resize(200, 120);
    ed.Setup();
    ed.show();
    for (int i = 0; i < 60; ++i)
        ed.AddText("줄 " + std::to_string(i) + "\r\n", Rgb(0, 0, 0), 160, false);
    EXPECT_TRUE(ed.IsAtEnd());
    EXPECT_GT(ed.verticalScrollBar()->maximum(), 0);
    // A reader further up keeps the same distance from the end.
    QScrollBar *bar = ed.verticalScrollBar();
    bar->setValue(bar->maximum() - 50);
    ed.AddText("새 줄\r\n", Rgb(0, 0, 0), 160, false);
    EXPECT_EQ(bar->maximum() - bar->value(), 50);
    bar->setValue(bar->maximum());
    ed.resize(200, 80);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ed.IsAtEnd());
}

TEST(ChatingListCtrl, FirstRowIsHighlightedAndOnlyOnesOwnRowOpensTheMenu)
{
    App<QApplication>();
    Owner owner;
    owner.name = "손님2";
    CChatingListCtrl list;
    list.resize(200, 150);
    list.Setup(&owner, true);
    ASSERT_EQ(list.GetItemCount(), 1);
    EXPECT_EQ(list.GetItemText(0), "방장");
    EXPECT_EQ(list.GetItemImage(0), kImageHost);
    EXPECT_EQ(list.headerItem()->text(0), QStringLiteral("사용자 리스트"));
    list.AppendItem("손님1", kImageGuest);
    list.AppendItem("손님2", kImageSelf);
    list.AppendItem("손님12", kImageGuest);
    EXPECT_FALSE(list.topLevelItem(1)->icon(0).isNull());
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));

    // The first row's text is drawn in RGB(100, 100, 200), the others not.
    const QImage shot = list.viewport()->grab().toImage();
    // Glyph edges are smoothed: a pixel close to the colour is enough.
    auto hasColor = [&](const QRect &r, QColor c) {
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) {
                const QColor p = shot.pixelColor(x, y);
                if (std::abs(p.red() - c.red()) < 12 && std::abs(p.green() - c.green()) < 12 &&
                    std::abs(p.blue() - c.blue()) < 12)
                    return true;
            }
        return false;
    };
    const QRect row0 = list.visualItemRect(list.topLevelItem(0));
    const QRect row1 = list.visualItemRect(list.topLevelItem(1));
    EXPECT_TRUE(hasColor(row0, QColor(100, 100, 200)));
    EXPECT_FALSE(hasColor(row1, QColor(100, 100, 200)));

    // Another member's row: no menu. One's own row: the menu.
    EXPECT_FALSE(list.RightClickAt(row1.center()));
    EXPECT_EQ(list.OpenMenu(), nullptr);
    const QRect own = list.visualItemRect(list.topLevelItem(2));
    EXPECT_TRUE(list.RightClickAt(own.center()));
    ASSERT_NE(list.OpenMenu(), nullptr);
    ASSERT_EQ(list.OpenMenu()->actions().size(), 1);
    EXPECT_EQ(list.OpenMenu()->actions()[0]->text(), QStringLiteral("채팅이름바꾸기"));
    list.OpenMenu()->actions()[0]->trigger();
    EXPECT_EQ(owner.commands, std::vector<int>{ID_CHANGE_CHAT_NAME});
    list.OpenMenu()->close();
    // The comparison is byte for byte: another case is another name.
    owner.name = "방장";
    EXPECT_TRUE(list.RightClickAt(row0.center()));
    list.OpenMenu()->close();
    QCoreApplication::processEvents();
    owner.name = "손님1";
    list.SetItemText(1, "Guest");
    owner.name = "guest";
    EXPECT_FALSE(list.RightClickAt(row1.center()));
    // Below the last row: nothing.
    EXPECT_FALSE(list.RightClickAt(QPoint(5, list.viewport()->height() - 2)));
}

TEST(ChatingListCtrl, FindIgnoresLetterCaseButNotPrefixes)
{
    App<QApplication>();
    CChatingListCtrl list;
    list.Setup(nullptr, false);
    EXPECT_EQ(list.GetItemCount(), 0);
    list.AppendItem("손님1", kImageGuest);
    list.AppendItem("손님12", kImageGuest);
    list.AppendItem("Kim", kImageGuest);
    EXPECT_EQ(list.FindItem("손님12"), 1);
    EXPECT_EQ(list.FindItem("KIM"), 2);
    EXPECT_EQ(list.FindItem("손님"), -1);
    EXPECT_TRUE(list.DeleteItem(0));
    EXPECT_FALSE(list.DeleteItem(5));
    EXPECT_EQ(list.GetItemText(0), "손님12");
    EXPECT_EQ(list.GetItemText(9), "");
    EXPECT_EQ(list.GetItemImage(9), -1);
}

namespace {

// A parent with a display above and an input line below the splitter.
struct SplitterHost {
    QWidget parent;
    QWidget *above = new QWidget(&parent);
    CChatSplitter *bar = new CChatSplitter(&parent);
    QWidget *below = new QWidget(&parent);
    SplitterHost()
    {
        parent.resize(260, 400);
        above->setGeometry(5, 100, 250, 199); // 100 .. 299
        bar->setGeometry(5, 300, 250, 6);     // 300 .. 306
        below->setGeometry(5, 307, 250, 80);  // 307 .. 387
        bar->SetNeighbours({above}, {below});
        parent.show();
    }
};

} // namespace

TEST(ChatSplitter, DragMovesTheBarResizesBothSidesAndAsksForARelayout)
{
    App<QApplication>();
    SplitterHost h;
    QSignalSpy relayout(h.bar, &CChatSplitter::RelayoutRequested);
    QTest::mousePress(h.bar, Qt::LeftButton, {}, QPoint(100, 3));
    ASSERT_TRUE(h.bar->IsDragging());
    // Nothing moves until the drag ends.
    QTest::mouseMove(h.bar, QPoint(100, 3 - 40));
    EXPECT_EQ(h.bar->y(), 300);
    QTest::mouseRelease(h.bar, Qt::LeftButton, {}, QPoint(100, 3 - 40));
    EXPECT_FALSE(h.bar->IsDragging());
    EXPECT_EQ(h.bar->y(), 260);
    EXPECT_EQ(h.above->geometry(), QRect(5, 100, 250, 159)); // ends 1 pixel above the bar
    EXPECT_EQ(h.below->geometry(), QRect(5, 267, 250, 120)); // starts 1 pixel below, bottom kept
    ASSERT_EQ(relayout.count(), 1);
    EXPECT_EQ(relayout[0][0].toInt(), -40);
    EXPECT_EQ(relayout[0][1].toInt(), IDC_SPLITTER);
    EXPECT_EQ(WM_CHAT_RELAYOUT, 2024);

    // A drag that ends where it began changes nothing and asks for nothing.
    h.bar->StartDrag(262);
    h.bar->FinishDrag();
    EXPECT_EQ(relayout.count(), 1);
}

TEST(ChatSplitter, LimitsKeepThirtyPixelsOnEachSide)
{
    App<QApplication>();
    SplitterHost h;
    ASSERT_TRUE(h.bar->StartDrag(303));
    h.bar->DragTo(-500);
    h.bar->FinishDrag();
    EXPECT_GE(h.above->height(), 30);
    EXPECT_EQ(h.above->height(), 30);
    ASSERT_TRUE(h.bar->StartDrag(h.bar->y() + 3));
    h.bar->DragTo(5000);
    h.bar->FinishDrag();
    EXPECT_EQ(h.below->height(), 30);
    EXPECT_EQ(h.below->y() + h.below->height(), 387);
    // Neighbours that leave no room: no drag at all.
    h.above->setGeometry(5, 100, 250, 30);
    h.bar->setGeometry(5, 131, 250, 6);
    h.below->setGeometry(5, 138, 250, 30);
    EXPECT_FALSE(h.bar->StartDrag(133));
}

TEST(ChatSplitter, EscapeAndTheRightButtonEndTheDragAtThePositionReached)
{
    App<QApplication>();
    SplitterHost h;
    QTest::mousePress(h.bar, Qt::LeftButton, {}, QPoint(100, 3));
    QTest::mouseMove(h.bar, QPoint(100, 3 + 25));
    QTest::keyClick(h.bar, Qt::Key_Escape);
    EXPECT_FALSE(h.bar->IsDragging());
    EXPECT_EQ(h.bar->y(), 325);
    QTest::mousePress(h.bar, Qt::LeftButton, {}, QPoint(100, 3));
    QTest::mouseMove(h.bar, QPoint(100, 3 - 10));
    QTest::mousePress(h.bar, Qt::RightButton, {}, QPoint(100, 3 - 10));
    EXPECT_FALSE(h.bar->IsDragging());
    EXPECT_EQ(h.bar->y(), 315);
    QTest::mouseRelease(h.bar, Qt::LeftButton, {}, QPoint(100, 3 - 10));
    EXPECT_EQ(h.bar->y(), 315);
}

TEST(SelectionCombo, TheOpenedListShowsTheLongestEntryWhole)
{
    App<QApplication>();
    CSelectionCombo combo;
    combo.resize(80, 24);
    const QFontMetrics m(combo.font());
    const int zero = m.horizontalAdvance(QStringLiteral("0"));
    EXPECT_EQ(combo.DroppedWidth(), zero);
    const QString longName = QStringLiteral("USB2.0 HD UVC WebCam (아주 긴 장치 이름입니다)");
    combo.addItem(QStringLiteral("스크린 캡쳐"));
    combo.addItem(longName);
    const int scroll = combo.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &combo);
    EXPECT_EQ(combo.DroppedWidth(), m.horizontalAdvance(longName) + scroll + zero);
    combo.show();
    combo.showPopup();
    EXPECT_GE(combo.view()->width(), m.horizontalAdvance(longName));
    combo.hidePopup();
}

TEST(LinkTicker, AShortItemComesBackFiftyPixelsAfterItsLastCopy)
{
    App<QApplication>();
    CLinkTicker ticker;
    ticker.resize(300, 24);
    ticker.AddItem(QStringLiteral("퀜타"), "http://127.0.0.1/");
    ticker.show();
    ticker.Start(true);
    ticker.Stop(); // the test drives the ticks
    ASSERT_EQ(ticker.Copies().size(), 1u);
    const int right = ticker.TextRect().right() + 1;
    EXPECT_EQ(ticker.Copies()[0].x, right);
    const int w = ticker.ItemWidth(0);
    ASSERT_GT(w, 0);
    ASSERT_LT(w + CLinkTicker::kGap, 296);
    int ticks = 0;
    while (ticker.Copies().size() < 2 && ticks < 1000) {
        ticker.Tick();
        ++ticks;
    }
    ASSERT_EQ(ticker.Copies().size(), 2u);
    const auto &first = ticker.Copies()[0];
    const auto &second = ticker.Copies()[1];
    // The new copy enters at the right edge as soon as the gap behind the
    // last one has come in, long before the first copy has left.
    EXPECT_EQ(second.x, right);
    EXPECT_EQ(second.x - (first.x + w), CLinkTicker::kGap + 1);
    EXPECT_GT(first.x, ticker.TextRect().left());
    // The first copy is dropped once its end reaches the left edge.
    const int firstX = first.x;
    const int ticksLeft = firstX + w - ticker.TextRect().left();
    for (int i = 0; i < ticksLeft - 1; ++i)
        ticker.Tick();
    EXPECT_EQ(ticker.Copies().front().x, firstX - (ticksLeft - 1));
    ticker.Tick();
    EXPECT_NE(ticker.Copies().front().x, firstX - ticksLeft);
    EXPECT_GT(ticker.Copies().front().x + w, ticker.TextRect().left());
}

TEST(LinkTicker, HoverStopsLeavingResumesAndOnlyLinksOpen)
{
    App<QApplication>();
    CLinkTicker ticker;
    ticker.resize(300, 24);
    ticker.AddItem(QStringLiteral("퀜타"), "");
    std::vector<std::string> opened;
    ticker.SetLinkOpener([&](const std::string &url) {
        opened.push_back(url);
        return true;
    });
    ticker.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ticker));
    ticker.Start(true);
    ticker.Stop();
    for (int i = 0; i < 150; ++i)
        ticker.Tick();
    ticker.Start(false);
    ASSERT_TRUE(ticker.IsRunning());
    const auto copy = ticker.Copies()[0];
    QTest::mouseMove(&ticker, QPoint(copy.x + 3, 12));
    EXPECT_FALSE(ticker.IsRunning());
    EXPECT_EQ(ticker.HoveredItem(), 0);
    // The position stays where it was while hovered.
    QTest::qWait(60);
    EXPECT_EQ(ticker.Copies()[0].x, copy.x);
    QTest::mouseClick(&ticker, Qt::LeftButton, {}, QPoint(copy.x + 3, 12));
    EXPECT_TRUE(opened.empty());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&ticker, &leave);
    EXPECT_TRUE(ticker.IsRunning());
    EXPECT_EQ(ticker.HoveredItem(), -1);
    EXPECT_EQ(ticker.Copies()[0].x, copy.x);

    CLinkTicker linked;
    // Elsewhere on the screen: a move to the same screen point is no move.
    linked.setGeometry(40, 300, 300, 24);
    linked.AddItem(QStringLiteral("퀜타"), "http://127.0.0.1:1/");
    linked.SetLinkOpener([&](const std::string &url) {
        opened.push_back(url);
        return true;
    });
    linked.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&linked));
    linked.Start(true);
    linked.Stop();
    for (int i = 0; i < 150; ++i)
        linked.Tick();
    const int x = linked.Copies()[0].x + 3;
    QTest::mouseMove(&linked, QPoint(x, 12));
    EXPECT_EQ(linked.HoveredItem(), 0) << x << " " << linked.ItemWidth(0);
    QTest::mouseClick(&linked, Qt::LeftButton, {}, QPoint(x, 12));
    EXPECT_EQ(opened, std::vector<std::string>{"http://127.0.0.1:1/"});
}

TEST(ChangeName, FourteenBytesAreAcceptedFifteenRefusedEmptyIgnored)
{
    App<QApplication>();
    std::vector<platform::MessageBoxRequest> boxes;
    auto old = platform::SetMessageBoxHandler([&](const platform::MessageBoxRequest &r) {
        boxes.push_back(r);
        return platform::IDOK;
    });
    {
        CChangeName dlg("손님1");
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("채팅이름바꾸기"));
        EXPECT_EQ(dlg.NameEdit()->text(), QStringLiteral("손님1"));
        dlg.show();
        // 7 Korean syllables and one letter: 15 bytes.
        dlg.NameEdit()->setText(QStringLiteral("가나다라마바사A"));
        dlg.OkButton()->click();
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), 0);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "14자 이내로 입력해주시기 바랍니다.");
        EXPECT_EQ(boxes[0].style, unsigned(platform::MB_OK));
        // Empty: stays open without a word.
        dlg.NameEdit()->clear();
        dlg.OkButton()->click();
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_EQ(boxes.size(), 1u);
        // 7 Korean syllables: exactly 14 bytes.
        dlg.NameEdit()->setText(QStringLiteral("가나다라마바사"));
        dlg.OkButton()->click();
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), int(QDialog::Accepted));
        EXPECT_EQ(dlg.NewName(), "가나다라마바사");
        EXPECT_EQ(boxes.size(), 1u);
    }
    platform::SetMessageBoxHandler(old);
}
