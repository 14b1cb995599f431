// The skinned dialog base, the message box, the status window and the update
// list as real widgets on the offscreen platform, with the shipped skin and
// the skin control loaded from its registered path.
#include "CShowMsgForm.h"
#include "CSkinMessageBox.h"
#include "CUpdateListForm.h"
#include "FormsTestSupport.h"
#include "ISkinControl.h"

#include "platform/CodePage.h"
#include "platform/Registry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>

#include <filesystem>
#include <fstream>

using namespace platform;

namespace {

const std::string kClassKey = std::string("CLSID\\") + CLSID_SkinControl;

void Click(CSkinDialog &dialog, const char *element)
{
    QRect r;
    ASSERT_NE(dialog.FindElement(QString::fromUtf8(element), &r), nullptr) << element;
    QTest::mouseClick(dialog.SkinControl()->GetWidget(), Qt::LeftButton, {}, r.center());
}

QRect ElementRect(const CSkinDialog &dialog, const char *element)
{
    QRect r;
    dialog.FindElement(QString::fromUtf8(element), &r);
    return r;
}

QRect Available()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

using SkinDialogTest = FormsTest;
using MessageBoxTest = FormsTest;
using StatusWindowTest = FormsTest;
using UpdateListTest = FormsTest;

} // namespace

// Whatever keeps the skin from the window, the window says so in a plain
// message box and ends with 3.
TEST_F(SkinDialogTest, ASkinThatCannotBeUsedEndsTheWindowWith3)
{
    const TestDir dir("forms-bad-skin");
    const QString missing = QString::fromStdString(dir.file("none.skin"));
    {
        RecordedMessageBoxes boxes;
        CSkinMessageBox box(missing, QStringLiteral("text"));
        EXPECT_EQ(box.DoModal(), 3);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text,
                  "스킨파일을 열 수 없거나 적용하지 못했습니다\n\n 해당 프로그램을 다시 설치 해 주십시오.");
        EXPECT_EQ(boxes.shown[0].caption, "Mirvane");
        EXPECT_EQ(boxes.shown[0].style & 0xFu, unsigned(MB_OK));
        EXPECT_EQ(box.SkinForm(), nullptr);
        EXPECT_FALSE(box.SetElementText(QStringLiteral("Caption"), QStringLiteral("x")));
    }
    // A skin without the window's form.
    std::ofstream(dir.file("other.skin")) << "form Other {\n size = 100, 50\n}\n";
    {
        RecordedMessageBoxes boxes;
        CShowMsgForm status(QString::fromStdString(dir.file("other.skin")), QString());
        EXPECT_FALSE(status.ShowText(QStringLiteral("x")));
        EXPECT_FALSE(status.isVisible());
        EXPECT_EQ(boxes.shown.size(), 1u);
        // The skin's default form serves the message box.
        CSkinMessageBox box(QString::fromStdString(dir.file("other.skin")), QStringLiteral("text"));
        EXPECT_TRUE(box.Create());
    }
    // The control not registered, or registered as something that is no library.
    ASSERT_EQ(RegistryKey::DeleteKey(RegRoot::HKCR, kClassKey), S_OK);
    {
        RecordedMessageBoxes boxes;
        CSkinMessageBox box(MirvaneSkinPath(), QStringLiteral("text"));
        EXPECT_EQ(box.DoModal(), 3);
        EXPECT_EQ(boxes.shown.size(), 1u);
    }
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create(RegRoot::HKCR, kClassKey + "\\InprocServer32", key), S_OK);
    ASSERT_EQ(key.WriteString("", dir.file("other.skin")), S_OK);
    {
        RecordedMessageBoxes boxes;
        CUpdateListForm list(MirvaneSkinPath(), QString(), QString(), QString());
        EXPECT_EQ(list.DoModal(), 3);
        EXPECT_EQ(boxes.shown.size(), 1u);
    }
    ASSERT_EQ(key.WriteString("", std::filesystem::canonical(ProgramPath("ActSkn43.ocx")).string()), S_OK);
}

TEST_F(MessageBoxTest, AOneLineMessageKeepsTheDesignedSizeCentredOnTheScreen)
{
    CSkinMessageBox box(MirvaneSkinPath(), QStringLiteral("짧은 안내"));
    ASSERT_TRUE(box.Create());
    EXPECT_EQ(box.size(), QSize(340, 156)); // the skin's designed message box
    EXPECT_EQ(box.geometry().center(), Available().center());
    EXPECT_EQ(box.ElementText(QStringLiteral("Caption")), QStringLiteral("Mirvane"));
    // The text in the middle of "Client".
    const QRect client = ElementRect(box, "Client");
    EXPECT_EQ(client, QRect(4, 30, 332, 82));
    EXPECT_TRUE(client.contains(box.TextRect()));
    EXPECT_LE(std::abs(box.TextRect().center().x() - client.center().x()), 1);
    EXPECT_LE(std::abs(box.TextRect().center().y() - client.center().y()), 1);
    // One OK button in the middle of "BottomClient"; the others hidden.
    const QRect band = ElementRect(box, "BottomClient");
    const QRect ok = ElementRect(box, "OK_Btn");
    EXPECT_EQ(ok.center().x(), band.center().x());
    EXPECT_TRUE(band.contains(ok));
    ASSERT_EQ(box.Buttons().size(), 1u);
    box.show();
    QTest::mouseClick(box.SkinControl()->GetWidget(), Qt::LeftButton, {},
                      ElementRect(box, "Cancel_Btn").center()); // hidden: nothing there
    EXPECT_TRUE(box.isVisible());
    Click(box, "OK_Btn");
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), IDOK);
}

TEST_F(MessageBoxTest, LongTextGrowsTheWindowAndTooMuchIsClippedToTheScreen)
{
    const QString line = QString(60, QChar(u'가'));
    CSkinMessageBox wide(MirvaneSkinPath(), line + u'\n' + QStringLiteral("둘째 줄"));
    ASSERT_TRUE(wide.Create());
    const QFontMetrics metrics(wide.SkinControl()->GetFont());
    const int textWidth = metrics.horizontalAdvance(line);
    ASSERT_GT(textWidth, 332);
    EXPECT_EQ(wide.width(), 4 + textWidth + 40 + 4);
    EXPECT_EQ(wide.height(), 156); // two lines still fit the designed height
    EXPECT_EQ(ElementRect(wide, "Client").width(), textWidth + 40);
    EXPECT_EQ(wide.TextRect().width(), textWidth);
    // The frame parts follow the window.
    EXPECT_EQ(ElementRect(wide, "Right").right(), wide.width() - 1);
    EXPECT_EQ(ElementRect(wide, "Bottom").bottom(), wide.height() - 1);

    QStringList many;
    for (int i = 0; i < 300; ++i)
        many << QStringLiteral("줄 %1").arg(i);
    CSkinMessageBox tall(MirvaneSkinPath(), many.join(u'\n'), QStringLiteral("긴 안내"), 1);
    ASSERT_TRUE(tall.Create());
    EXPECT_EQ(tall.height(), Available().height());
    EXPECT_TRUE(Available().contains(tall.geometry()));
    EXPECT_EQ(tall.geometry().center().y(), Available().center().y());
    EXPECT_TRUE(ElementRect(tall, "Client").contains(tall.TextRect()));
    // The buttons stay in the bottom band, which stays on the screen.
    EXPECT_TRUE(ElementRect(tall, "BottomClient").contains(ElementRect(tall, "Cancel_Btn")));
    EXPECT_EQ(tall.ElementText(QStringLiteral("Caption")), QStringLiteral("긴 안내"));
}

TEST_F(MessageBoxTest, EachTypeShowsItsButtonsAndAnswersWithTheirIdentifiers)
{
    struct Case {
        unsigned type;
        const char *first;
        int firstId;
        const char *second;
        int secondId;
        int escapeId;
    };
    const Case cases[] = {
        {1, "OK_Btn", IDOK, "Cancel_Btn", IDCANCEL, IDCANCEL},
        {4, "Yes_Btn", IDYES, "No_Btn", IDNO, IDNO},
        {5, "Retry_Btn", IDRETRY, "Cancel_Btn", IDCANCEL, IDCANCEL},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        for (int pick = 0; pick < 3; ++pick) {
            CSkinMessageBox box(MirvaneSkinPath(), QStringLiteral("질문"), QStringLiteral("Mirvane"), c.type);
            ASSERT_TRUE(box.Create());
            const QRect band = ElementRect(box, "BottomClient");
            const QRect a = ElementRect(box, c.first), b = ElementRect(box, c.second);
            EXPECT_EQ(a.right() + 1, band.x() + band.width() / 2 - 10);
            EXPECT_EQ(b.left(), band.x() + band.width() / 2 + 10);
            EXPECT_EQ(a.center().y(), band.center().y());
            box.show();
            if (pick == 0)
                Click(box, c.first);
            else if (pick == 1)
                Click(box, c.second);
            else
                QTest::keyClick(&box, Qt::Key_Escape);
            EXPECT_EQ(box.result(), pick == 0 ? c.firstId : pick == 1 ? c.secondId : c.escapeId);
        }
    }
    // A lone OK: Esc answers OK.
    CSkinMessageBox ok(MirvaneSkinPath(), QStringLiteral("안내"));
    ASSERT_TRUE(ok.Create());
    ok.show();
    QTest::keyClick(&ok, Qt::Key_Escape);
    EXPECT_EQ(ok.result(), IDOK);
}

// Without a display the message box is the process's message box: text,
// caption and type go to the handler (by default standard error and
// $VELMOR_MESSAGEBOX_ANSWERS), and its answer is the result.
TEST_F(MessageBoxTest, HeadlessRunsAnswerThroughTheMessageBoxHandler)
{
    {
        RecordedMessageBoxes boxes({IDNO});
        CSkinMessageBox box(MirvaneSkinPath(), QStringLiteral("계속하시겠습니까?"), QStringLiteral("벨모어"),
                            4);
        EXPECT_EQ(box.DoModal(), IDNO);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, "계속하시겠습니까?");
        EXPECT_EQ(boxes.shown[0].caption, "벨모어");
        EXPECT_EQ(boxes.shown[0].style, 4u);
    }
    // The list starts anew when its text changes: clear it first, so a
    // repeated run does not find this list used up.
    unsetenv("VELMOR_MESSAGEBOX_ANSWERS");
    DefaultAnswer(MB_OK);
    setenv("VELMOR_MESSAGEBOX_ANSWERS", "IDCANCEL, 4", 1);
    CSkinMessageBox first(MirvaneSkinPath(), QStringLiteral("a"), QStringLiteral("Mirvane"), 1);
    CSkinMessageBox second(MirvaneSkinPath(), QStringLiteral("b"), QStringLiteral("Mirvane"), 5);
    CSkinMessageBox third(MirvaneSkinPath(), QStringLiteral("c"), QStringLiteral("Mirvane"), 4);
    EXPECT_EQ(first.DoModal(), IDCANCEL);
    EXPECT_EQ(second.DoModal(), IDRETRY);
    EXPECT_EQ(third.DoModal(), IDYES); // the list is used up: the default button
    unsetenv("VELMOR_MESSAGEBOX_ANSWERS");
}

TEST_F(StatusWindowTest, ShowsTopmostWithoutMovingAndIsMadeAgainAfterClose)
{
    CShowMsgForm status(MirvaneSkinPath(), QStringLiteral("MsgImg"));
    EXPECT_FALSE(status.IsCreated());
    ASSERT_TRUE(status.ShowText(QStringLiteral("업데이트 정보를 확인하는 중입니다...")));
    EXPECT_TRUE(status.isVisible());
    EXPECT_TRUE(status.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(status.isModal());
    EXPECT_EQ(status.ElementText(QStringLiteral("Message_Txt")),
              QStringLiteral("업데이트 정보를 확인하는 중입니다..."));
    EXPECT_EQ(status.size(), QSize(380, 112));

    status.move(Available().topLeft() + QPoint(30, 40));
    const QRect placed = status.geometry();
    ASSERT_TRUE(status.ShowText(QStringLiteral("둘째 안내")));
    EXPECT_EQ(status.geometry(), placed);
    EXPECT_EQ(status.ElementText(QStringLiteral("Message_Txt")), QStringLiteral("둘째 안내"));

    status.Close();
    EXPECT_FALSE(status.isVisible());
    EXPECT_FALSE(status.IsCreated());
    EXPECT_EQ(status.SkinForm(), nullptr);
    ASSERT_TRUE(status.ShowText(QStringLiteral("다시")));
    EXPECT_EQ(status.ElementText(QStringLiteral("Message_Txt")), QStringLiteral("다시"));
    status.Close();
}

TEST_F(UpdateListTest, WritesThePageAndShowsItOverTheList)
{
    const QString information = QStringLiteral("<p><b>새 기능</b>: 방송 화질 개선</p>");
    // What is left at the page's name is replaced, and a link left there,
    // or in the shared TMPDIR, is never written through.
    const std::string page = CUpdateListForm::PagePath().toStdString();
    EXPECT_EQ(page, PrivateTempDir().file("velmor/temp/KerrowUpdateList.htm"));
    const std::string victim = PrivateTempDir().file("victim");
    std::ofstream(victim) << std::string(100000, 'x');
    for (const std::string &at : {page, PrivateTempDir().file("shared/KerrowUpdateList.htm")}) {
        std::filesystem::remove(at);
        std::filesystem::create_symlink(victim, at);
    }
    CUpdateListForm list(MirvaneSkinPath(), QStringLiteral("벨모어"), QStringLiteral("TitleImg"),
                         information);
    ASSERT_TRUE(list.Create());
    EXPECT_EQ(TestDir::Read(victim), std::string(100000, 'x'));
    EXPECT_FALSE(std::filesystem::is_symlink(page));
    const std::string expected = Utf8ToAnsi(
        "<html><head><style type='text/css'>body{scrollbar-3dlight-color:E1ECF0;scrollbar-arrow-color:7B9FBA;"
        "scrollbar-track-color:E3ECF4;scrollbar-darkshadow-color:84A5BE;scrollbar-face-color:DBEDF9;"
        "scrollbar-highlight-color:white;scrollbar-shadow-color:C6D6E1;}</style></head><body TopMargin=5 "
        "LeftMargin=5 RightMargin=5 BottomMargin=5 OnSelectStart='return false' OnDrag='return false' "
        "OnContextMenu='return false'><p><b>새 기능</b>: 방송 화질 개선</p></body></html>");
    EXPECT_EQ(TestDir::Read(CUpdateListForm::PagePath().toStdString()), expected);

    EXPECT_EQ(list.ElementText(QStringLiteral("Caption")), QStringLiteral("벨모어 업데이트 내역"));
    QTextBrowser *browser = list.Browser();
    ASSERT_NE(browser, nullptr);
    const QRect element = ElementRect(list, "List");
    EXPECT_EQ(browser->geometry(), element.adjusted(-2, -2, 2, 2));
    EXPECT_EQ(browser->mask().boundingRect().translated(browser->pos()), element);
    EXPECT_TRUE(browser->toPlainText().contains(QStringLiteral("새 기능: 방송 화질 개선")));

    list.show();
    Click(list, "No_Btn");
    EXPECT_EQ(list.result(), IDNO);
    CUpdateListForm yes(MirvaneSkinPath(), QStringLiteral("벨모어"), QString(), information);
    ASSERT_TRUE(yes.Create());
    yes.show();
    Click(yes, "Yes_Btn");
    EXPECT_EQ(yes.result(), IDYES);
    CUpdateListForm escape(MirvaneSkinPath(), QStringLiteral("벨모어"), QString(), information);
    ASSERT_TRUE(escape.Create());
    escape.show();
    QTest::keyClick(&escape, Qt::Key_Escape);
    EXPECT_EQ(escape.result(), IDNO);
}

TEST_F(UpdateListTest, HeadlessRunsAskWithThePagesText)
{
    RecordedMessageBoxes boxes({IDNO, IDYES});
    CUpdateListForm no(MirvaneSkinPath(), QStringLiteral("벨모어"), QString(),
                       QStringLiteral("<ul><li>첫째</li><li>둘째</li></ul>"));
    EXPECT_EQ(no.DoModal(), IDNO);
    CUpdateListForm yes(MirvaneSkinPath(), QStringLiteral("벨모어"), QString(),
                        QStringLiteral("<b>셋째</b>"));
    EXPECT_EQ(yes.DoModal(), IDYES);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].style, unsigned(MB_YESNO));
    EXPECT_EQ(boxes.shown[0].caption, "벨모어 업데이트 내역");
    EXPECT_NE(boxes.shown[0].text.find("첫째"), std::string::npos);
    EXPECT_EQ(boxes.shown[0].text.find('<'), std::string::npos) << boxes.shown[0].text;
    EXPECT_EQ(boxes.shown[1].text, "셋째");
}
