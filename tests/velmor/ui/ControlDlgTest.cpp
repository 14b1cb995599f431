// The chat window as the user meets it: a host window with its room on
// loopback, the skin from the program folder, keys, the nickname dialog,
// the layout and the stored window rectangle.
#include "CChangeName.h"
#include "CChatRichEd.h"
#include "CChatSplitter.h"
#include "CControlDlg.h"
#include "CSkinWidget.h"

#include "CChatRoom.h"
#include "CommandLineArgs.h"
#include "platform/MessageBox.h"
#include "platform/Registry.h"

#include "TestDir.h"
#include "QtTestApp.h"

#include <QApplication>

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace {

CommandLineArgs HostArgs()
{
    CommandLineArgs args;
    args.start = 1;
    args.lport = 0; // any free port
    return args;
}

void WriteStoredRect(DWORD l, DWORD t, DWORD r, DWORD b)
{
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::Create(platform::RegRoot::HKCU, CControlDlg::kPositionKey, key), S_OK);
    key.WriteDword("Left", l);
    key.WriteDword("Top", t);
    key.WriteDword("Right", r);
    key.WriteDword("Bottom", b);
}

std::vector<DWORD> StoredRect()
{
    platform::RegistryKey key;
    std::vector<DWORD> v;
    if (FAILED(platform::RegistryKey::Open(platform::RegRoot::HKCU, CControlDlg::kPositionKey, key)))
        return v;
    for (const char *name : {"Left", "Top", "Right", "Bottom"})
        v.push_back(key.ReadDword(name).value_or(12345));
    return v;
}

// Runs in the program folder (it holds Skin/Control.skn), next to a main
// window, with a fresh stored rectangle.
class ControlDlgTest : public testing::Test {
protected:
    void SetUp() override
    {
        App<QApplication>();
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        m_oldDir = cwd;
        ASSERT_EQ(chdir(VELMOR_PROGRAM_DIR), 0);
        // A store of this test's own: tests of this program may run at once.
        m_oldRegistry = std::getenv("VELMOR_REGISTRY_DIR") ? std::getenv("VELMOR_REGISTRY_DIR") : "";
        setenv("VELMOR_REGISTRY_DIR", m_registry.path().c_str(), 1);
        WriteStoredRect(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu);
        m_main.setGeometry(100, 80, 400, 300);
        m_main.show();
        m_oldBox = platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest &r) {
            m_boxes.push_back(r.text);
            return platform::IDOK;
        });
    }
    void TearDown() override
    {
        platform::SetMessageBoxHandler(m_oldBox);
        setenv("VELMOR_REGISTRY_DIR", m_oldRegistry.c_str(), 1);
        ASSERT_EQ(chdir(m_oldDir.c_str()), 0);
    }
    // Beside the main window: its right edge, its top.
    QRect Docked() const
    {
        const QRect f = m_main.frameGeometry();
        return QRect(f.x() + f.width(), f.y(), 267, 495);
    }
    std::unique_ptr<CControlDlg> MakeHost()
    {
        auto dlg = std::make_unique<CControlDlg>(&m_main, nullptr);
        EXPECT_TRUE(dlg->Create(HostArgs()));
        dlg->show();
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        return dlg;
    }
    static QString Shown(CControlDlg &dlg)
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        return dlg.ChatDisplay()->toPlainText();
    }
    // Answers the nickname dialog once it is open.
    static void AnswerRename(const QString &name, bool ok = true)
    {
        QTimer::singleShot(0, [name, ok] {
            auto *d = qobject_cast<CChangeName *>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            d->NameEdit()->setText(name);
            if (ok)
                d->OkButton()->click();
            else
                d->reject();
        });
    }

    QApplication &m_app = App<QApplication>(); // before any widget member
    TestDir m_registry{"control-registry"};
    std::string m_oldRegistry;
    QWidget m_main;
    std::string m_oldDir;
    platform::MessageBoxHandler m_oldBox;
    std::vector<std::string> m_boxes;
};

} // namespace

TEST_F(ControlDlgTest, SkinPlacesTheControlsAndTheWindowDocksBesideTheMainWindow)
{
    auto dlg = MakeHost();
    ASSERT_NE(dlg->SkinRoot(), nullptr);
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("텍스트창"));
    // The skin draws the caption: no frame of the window system's.
    EXPECT_TRUE(dlg->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(dlg->geometry(), Docked());
    const std::pair<QWidget *, const char *> controls[] = {{dlg->UserListFrame(), "ul_body"},
                                                           {dlg->UserList(), "ul"},
                                                           {dlg->ChatDisplay(), "richedit"},
                                                           {dlg->Splitter(), "splitter"},
                                                           {dlg->InputLine(), "edit"}};
    for (const auto &[w, name] : controls) {
        CSkinObject *o = FindSkinObject(dlg->SkinRoot(), QString::fromUtf8(name));
        ASSERT_NE(o, nullptr) << name;
        EXPECT_EQ(w->geometry(), o->GetFormRect()) << name;
    }
    // The host's own row arrives from the room.
    ASSERT_EQ(dlg->UserList()->GetItemCount(), 1);
    EXPECT_EQ(dlg->UserList()->GetItemText(0), "방장");
    EXPECT_EQ(dlg->GetOwnName(), "방장");
    EXPECT_NE(dlg->Room()->ListeningPort(), 0);
}

TEST_F(ControlDlgTest, EnterInTheListOrTheDisplaySendsTheInputLine)
{
    auto dlg = MakeHost();
    dlg->InputLine()->setPlainText(QStringLiteral("첫 줄"));
    QTest::keyClick(dlg->UserList(), Qt::Key_Return);
    EXPECT_TRUE(dlg->InputLine()->toPlainText().isEmpty());
    EXPECT_EQ(Shown(*dlg), QStringLiteral("\n[방장]님의 말:\n첫 줄\n"));
    dlg->InputLine()->setPlainText(QStringLiteral("둘째"));
    QTest::keyClick(dlg->ChatDisplay(), Qt::Key_Enter);
    EXPECT_TRUE(Shown(*dlg).endsWith(QStringLiteral("[방장]님의 말:\n둘째\n")));
    // The input line itself, too; an empty line sends nothing.
    const QString before = Shown(*dlg);
    QTest::keyClick(dlg->InputLine(), Qt::Key_Return);
    EXPECT_EQ(Shown(*dlg), before);
    // The host's own lines are green.
    const int at = static_cast<int>(before.lastIndexOf(QStringLiteral("둘째")));
    QTextCursor c(dlg->ChatDisplay()->document());
    c.setPosition(at + 1);
    EXPECT_EQ(c.charFormat().foreground().color(), QColor(0, 128, 0));
}

TEST_F(ControlDlgTest, ATypedUrlBecomesALink)
{
    auto dlg = MakeHost();
    dlg->InputLine()->setPlainText(QStringLiteral("방송 주소 http://127.0.0.1:8080/live 입니다"));
    QTest::keyClick(dlg->InputLine(), Qt::Key_Return);
    const QString shown = Shown(*dlg);
    QTextCursor c(dlg->ChatDisplay()->document());
    c.setPosition(static_cast<int>(shown.indexOf(QStringLiteral("127.0"))));
    c.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    EXPECT_TRUE(c.charFormat().isAnchor());
    EXPECT_EQ(c.charFormat().anchorHref(), QStringLiteral("http://127.0.0.1:8080/live"));
}

TEST_F(ControlDlgTest, AltEnterBreaksTheLineAndSendsNothing)
{
    auto dlg = MakeHost();
    dlg->InputLine()->setPlainText(QStringLiteral("가나다"));
    QTextCursor c = dlg->InputLine()->textCursor();
    c.setPosition(1);
    c.setPosition(2, QTextCursor::KeepAnchor); // "나" selected
    dlg->InputLine()->setTextCursor(c);
    QTest::keyClick(dlg->InputLine(), Qt::Key_Return, Qt::AltModifier);
    EXPECT_EQ(dlg->InputLine()->toPlainText(), QStringLiteral("가\n나다"));
    QTest::keyClick(dlg->UserList(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(dlg->InputLine()->toPlainText(), QStringLiteral("가\n\n나다"));
    EXPECT_EQ(Shown(*dlg), QString());
    // Sent, the breaks travel as "\r\n" and show as lines.
    QTest::keyClick(dlg->InputLine(), Qt::Key_Return);
    EXPECT_EQ(Shown(*dlg), QStringLiteral("\n[방장]님의 말:\n가\n\n나다\n"));
}

TEST_F(ControlDlgTest, ALongLineIsCutTo1023BytesWithoutSplittingACharacter)
{
    auto dlg = MakeHost();
    dlg->InputLine()->setPlainText(QString(600, QChar(u'가')));
    QTest::keyClick(dlg->InputLine(), Qt::Key_Return);
    const QString shown = Shown(*dlg);
    EXPECT_EQ(shown.count(QChar(u'가')), 511); // 1022 bytes; a 512th would need 1024
    EXPECT_TRUE(dlg->InputLine()->toPlainText().isEmpty());
}

TEST_F(ControlDlgTest, RenamingToTheSameNameSendsNothingAndANewNameIsShown)
{
    auto dlg = MakeHost();
    AnswerRename(QStringLiteral("방장"));
    dlg->ChangeName();
    EXPECT_EQ(Shown(*dlg), QString());
    EXPECT_EQ(dlg->GetOwnName(), "방장");
    // Too long: the message, and the dialog stays until cancelled.
    QTimer::singleShot(0, [] {
        auto *d = qobject_cast<CChangeName *>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        d->NameEdit()->setText(QStringLiteral("가나다라마바사아"));
        d->OkButton()->click();
        EXPECT_TRUE(d->isVisible());
        d->reject();
    });
    dlg->ChangeName();
    EXPECT_EQ(m_boxes, std::vector<std::string>{"14자 이내로 입력해주시기 바랍니다."});
    EXPECT_EQ(dlg->GetOwnName(), "방장");

    AnswerRename(QStringLiteral("가나다라마바사"));
    dlg->ChangeName();
    EXPECT_EQ(Shown(*dlg), QStringLiteral("\n[방장]님의 채팅이름이 가나다라마바사로 변경되었습니다.\n"));
    EXPECT_EQ(dlg->GetOwnName(), "가나다라마바사");
    EXPECT_EQ(dlg->UserList()->GetItemText(0), "가나다라마바사");
}

TEST_F(ControlDlgTest, AGuestCannotTakeTheHostsNameOrNone)
{
    auto host = MakeHost();
    CommandLineArgs args;
    args.start = 2;
    std::snprintf(args.curl, sizeof args.curl, "127.0.0.1");
    args.cport = host->Room()->ListeningPort();
    CControlDlg guest(&m_main, nullptr);
    ASSERT_TRUE(guest.Create(args));
    guest.show();
    ASSERT_TRUE(PumpUntil([&] { return guest.GetOwnName() == "손님1"; }, 10000));

    // "방장" and the empty name: a message each, the dialog stays open, and
    // nothing changes here or at the host.
    for (const QString &name : {QStringLiteral("방장"), QString()}) {
        QTimer::singleShot(0, [name] {
            auto *d = qobject_cast<CChangeName *>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            d->NameEdit()->setText(name);
            d->OkButton()->click();
            EXPECT_TRUE(d->isVisible());
            d->reject();
        });
        guest.ChangeName();
    }
    EXPECT_EQ(m_boxes, (std::vector<std::string>{"\"방장\"은 방장만 쓸 수 있는 이름입니다.",
                                                 "채팅이름을 입력해주시기 바랍니다."}));
    Pump(200);
    EXPECT_EQ(guest.GetOwnName(), "손님1");
    EXPECT_EQ(host->UserList()->GetItemText(1), "손님1");
    EXPECT_EQ(guest.UserList()->GetItemText(1), "손님1");

    // Any other name goes through and comes back from the host.
    AnswerRename(QStringLiteral("철수"));
    guest.ChangeName();
    EXPECT_TRUE(PumpUntil([&] { return host->UserList()->GetItemText(1) == "철수"; }, 10000));
    EXPECT_TRUE(PumpUntil([&] { return guest.UserList()->GetItemText(1) == "철수"; }, 10000));
    EXPECT_EQ(guest.GetOwnName(), "철수");
}

TEST_F(ControlDlgTest, OnlyOnesOwnRowOffersTheRename)
{
    auto dlg = MakeHost();
    CChatingListCtrl *list = dlg->UserList();
    list->AppendItem("손님1", 2);
    const QRect other = list->visualItemRect(list->topLevelItem(1));
    EXPECT_FALSE(list->RightClickAt(other.center()));
    EXPECT_EQ(list->OpenMenu(), nullptr);
    const QRect own = list->visualItemRect(list->topLevelItem(0));
    ASSERT_TRUE(list->RightClickAt(own.center()));
    // The menu's command opens the nickname dialog.
    AnswerRename(QString(), false);
    list->OpenMenu()->actions()[0]->trigger();
    EXPECT_EQ(dlg->GetOwnName(), "방장");
}

TEST_F(ControlDlgTest, TheCloseBoxMinimises)
{
    auto dlg = MakeHost();
    // Escape and Enter on the window itself close nothing.
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    QTest::keyClick(dlg.get(), Qt::Key_Return);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_FALSE(dlg->isMinimized());
    dlg->close();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dlg->isMinimized());
    EXPECT_NE(dlg->Room(), nullptr);
}

TEST_F(ControlDlgTest, AMinimisedWindowStoresMinusOneAndTheNextStartDocksAgain)
{
    {
        auto dlg = MakeHost();
        dlg->setGeometry(700, 300, 300, 500);
        dlg.reset();
    }
    EXPECT_EQ(StoredRect(), (std::vector<DWORD>{700, 300, 1000, 800}));
    {
        // The stored rectangle comes back.
        auto dlg = MakeHost();
        EXPECT_EQ(dlg->geometry(), QRect(700, 300, 300, 500));
        dlg->showMinimized();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(StoredRect(), (std::vector<DWORD>{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}));
    auto dlg = MakeHost();
    EXPECT_EQ(dlg->geometry(), Docked());
}

TEST_F(ControlDlgTest, ABrokenStoredRectangleIsNotUsed)
{
    // Right left of Left: a window without area.
    WriteStoredRect(500, 100, 400, 600);
    auto dlg = MakeHost();
    EXPECT_EQ(dlg->geometry(), Docked());
}

TEST_F(ControlDlgTest, ResizingKeepsTheMarginsAndTheSkinFollowsTheControls)
{
    auto dlg = MakeHost();
    const QRect input0 = dlg->InputLine()->geometry();
    const QRect chat0 = dlg->ChatDisplay()->geometry();
    const QRect list0 = dlg->UserList()->geometry();
    dlg->resize(367, 595);
    QCoreApplication::processEvents();
    const QRect input = dlg->InputLine()->geometry();
    EXPECT_EQ(input.y(), input0.y() + 100);
    EXPECT_EQ(input.width(), input0.width() + 100);
    EXPECT_EQ(input.height(), input0.height());
    EXPECT_EQ(dlg->ChatDisplay()->height(), chat0.height() + 100);
    EXPECT_EQ(dlg->UserList()->geometry(),
              QRect(list0.topLeft(), QSize(list0.width() + 100, list0.height())));
    // The splitter keeps its gaps and sits centred.
    const QRect split = dlg->Splitter()->geometry();
    EXPECT_LT(split.y() + split.height(), input.y());
    EXPECT_GT(split.y(), dlg->ChatDisplay()->y() + dlg->ChatDisplay()->height() - 1);
    EXPECT_EQ(split.x() + split.width() / 2, 367 / 2);
    EXPECT_EQ(FindSkinObject(dlg->SkinRoot(), QStringLiteral("edit"))->GetFormRect(), input);
    EXPECT_EQ(FindSkinObject(dlg->SkinRoot(), QStringLiteral("richedit"))->GetFormRect(),
              dlg->ChatDisplay()->geometry());
}

TEST_F(ControlDlgTest, ASplitterDragPersistsThroughLaterResizes)
{
    auto dlg = MakeHost();
    CChatSplitter *bar = dlg->Splitter();
    const int inputBottom = dlg->InputLine()->y() + dlg->InputLine()->height();
    ASSERT_TRUE(bar->StartDrag(bar->y() + 2));
    bar->DragTo(bar->y() + 2 - 60);
    bar->FinishDrag();
    // The input line now starts 1 pixel below the bar and keeps its bottom.
    const int barBottom = bar->y() + bar->height();
    EXPECT_EQ(dlg->InputLine()->y(), barBottom + 1);
    const int grown = inputBottom - barBottom - 1;
    EXPECT_EQ(dlg->InputLine()->height(), grown);
    EXPECT_EQ(dlg->ChatDisplay()->y() + dlg->ChatDisplay()->height(), bar->y() - 1);
    // The new heights hold through a later resize.
    dlg->resize(300, 600);
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->InputLine()->height(), grown);
    EXPECT_EQ(dlg->InputLine()->y() + dlg->InputLine()->height(), 600 - (495 - inputBottom));
}

TEST_F(ControlDlgTest, WithoutASkinTheControlsKeepTheirTemplatePlaces)
{
    TestDir empty("no-skin");
    ASSERT_EQ(chdir(empty.path().c_str()), 0);
    auto dlg = MakeHost();
    EXPECT_EQ(dlg->SkinRoot(), nullptr);
    EXPECT_FALSE(dlg->Skin()->isVisible());
    // Nothing would draw a caption: the window system's frame and title
    // bar, with the window menu, minimise and close.
    EXPECT_FALSE(dlg->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(dlg->windowFlags() & Qt::WindowTitleHint);
    EXPECT_TRUE(dlg->windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(dlg->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(dlg->windowFlags() & Qt::WindowCloseButtonHint);
    // The whole window, frame included, docks beside the main window; the
    // controls keep the template's distances to the client edges.
    EXPECT_EQ(dlg->frameGeometry(), Docked());
    EXPECT_EQ(dlg->InputLine()->geometry(), QRect(6, dlg->height() - 15 - 52, dlg->width() - 12, 52));
    dlg->InputLine()->setPlainText(QStringLiteral("스킨 없이"));
    QTest::keyClick(dlg->InputLine(), Qt::Key_Return);
    EXPECT_TRUE(Shown(*dlg).contains(QStringLiteral("스킨 없이")));
    dlg->resize(300, 600);
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->InputLine()->geometry(), QRect(6, 533, 288, 52));

    // The window rectangle comes back the same at the next start, frame
    // and all: no creeping by the frame's size run after run.
    dlg->move(120, 140);
    QCoreApplication::processEvents();
    const QRect window = dlg->frameGeometry();
    dlg.reset();
    for (int run = 0; run < 2; ++run) {
        auto again = MakeHost();
        EXPECT_EQ(again->frameGeometry(), window) << "run " << run;
        EXPECT_EQ(again->size(), QSize(300, 600));
    }
}

TEST_F(ControlDlgTest, ABrokenSkinGivesAFramedWindowWhoseMenuMovesItAndMinimises)
{
    TestDir broken("broken-skin");
    std::filesystem::create_directories(broken.path() / "Skin");
    {
        std::ofstream skn(broken.path() / "Skin" / "Control.skn");
        skn << "form Control {\n    size = 267, 495\n}\n}\n";
    }
    ASSERT_EQ(chdir(broken.path().c_str()), 0);
    auto dlg = MakeHost();
    EXPECT_EQ(dlg->SkinRoot(), nullptr);
    EXPECT_FALSE(dlg->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(dlg->windowFlags() & Qt::WindowTitleHint);

    // "이동" from the menu: the arrows move it, and Enter ends the move
    // without sending the input line.
    dlg->InputLine()->setPlainText(QStringLiteral("아직 안 보냄"));
    dlg->move(650, 40); // away from every edge it could snap to
    const QPoint start = dlg->pos();
    QAction *move = nullptr;
    QAction *close = nullptr;
    for (QAction *a : dlg->SystemMenu()->actions()) {
        if (a->data().toInt() == CSnapDialog::SC_MOVE)
            move = a;
        if (a->data().toInt() == CSnapDialog::SC_CLOSE)
            close = a;
    }
    ASSERT_NE(move, nullptr);
    ASSERT_NE(close, nullptr);
    move->trigger();
    QTest::keyClick(dlg->InputLine(), Qt::Key_Down);
    QTest::keyClick(dlg->InputLine(), Qt::Key_Return);
    EXPECT_FALSE(dlg->IsKeyboardDragging());
    EXPECT_EQ(dlg->pos(), start + QPoint(0, CSnapDialog::kKeyboardStep));
    EXPECT_EQ(dlg->InputLine()->toPlainText(), QStringLiteral("아직 안 보냄"));
    EXPECT_EQ(Shown(*dlg), QString());

    // "닫기" minimises the chat window, as its close box does.
    close->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dlg->isMinimized());
    EXPECT_NE(dlg->Room(), nullptr);
}
