#include "CControlDlg.h"

#include "CChangeName.h"
#include "CChatRichEd.h"
#include "CChatSplitter.h"
#include "CSkinWidget.h"
#include "SkinFonts.h"
#include "UiIds.h"
#include "WindowPosition.h"

#include "CChatRoom.h"
#include "CLogFile.h"
#include "CommandLineArgs.h"
#include "platform/CodePage.h"
#include "platform/Process.h"
#include "platform/Registry.h"

#include <QCloseEvent>
#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTextCursor>
#include <QThread>

namespace {

// Where template 129 puts the controls when no skin places them (pixels of
// the 267 x 495 client area).
const QRect kTemplateUlBody(6, 32, 255, 128);
const QRect kTemplateList(8, 34, 251, 124);
const QRect kTemplateChat(6, 166, 255, 248);
const QRect kTemplateSplitter(6, 418, 255, 6);
const QRect kTemplateInput(6, 428, 255, 52);

int Right(const QRect &r)
{
    return r.x() + r.width();
}
int Bottom(const QRect &r)
{
    return r.y() + r.height();
}

} // namespace

CControlDlg::CControlDlg(QWidget *owner, IChatMainWindow *mainWindow)
    : CSnapDialog(nullptr), m_owner(owner), m_mainWindow(mainWindow)
{
    // A top-level window of its own (the desktop is its parent); once its
    // skin has loaded the skin draws its caption and borders.
    setWindowFlags(Qt::Window);
    setWindowTitle(QStringLiteral("텍스트창"));
    setAttribute(Qt::WA_DeleteOnClose, false);
}

CControlDlg::~CControlDlg()
{
    if (m_created)
        StoreWindowRect();
    // The room's threads are stopped and joined before the widgets they
    // post to go away.
    if (m_room)
        m_room->CloseChatSockets();
    m_room.reset();
    m_skinRoot = nullptr;
}

bool CControlDlg::Create(const CommandLineArgs &args)
{
    if (m_created)
        return false;
    InstallKoreanFontSubstitutes();
    setFont(MakeKoreanFont(QStringLiteral("MS Shell Dlg"), 12));
    resize(kDefaultWidth, kDefaultHeight);

    // 1. The application icon, large and small.
    setWindowIcon(QIcon(QStringLiteral(":/velmor/ui/velmor.png")));

    // The controls of the template at their template places.
    m_ulBody = new QFrame(this);
    m_ulBody->setObjectName(QStringLiteral("ul_body"));
    m_ulBody->setFrameStyle(QFrame::StyledPanel | QFrame::Plain);
    m_ulBody->setGeometry(kTemplateUlBody);
    m_userList = new CChatingListCtrl(this);
    m_userList->setGeometry(kTemplateList);
    m_chatDisplay = new CChatRichEd(this);
    m_chatDisplay->setGeometry(kTemplateChat);
    m_splitter = new CChatSplitter(this);
    m_splitter->setGeometry(kTemplateSplitter);
    m_input = new QPlainTextEdit(this);
    m_input->setGeometry(kTemplateInput);
    m_input->setTabChangesFocus(true);
    m_input->setFont(MakeKoreanFont(QStringLiteral("굴림"), 12));

    // 2. The skin: <current directory>/Skin/Control.skn, form "Control".
    m_skin = new CSkinWidget(this);
    const QString skinPath =
        QString::fromStdString(platform::GetCurrentDirectory()) + QStringLiteral("/Skin/Control.skn");
    if (SUCCEEDED(m_skin->LoadSkinFile(skinPath)) &&
        SUCCEEDED(m_skin->ApplySkin(QStringLiteral("Control")))) {
        m_skinRoot = m_skin->GetRoot();
        SetSkinned(true);
        ConnectSkinDrag(m_skin);
        connect(m_skin, &CSkinWidget::SkinSystemCommand, this, &CControlDlg::OnSystemCommand);
    } else {
        // Without its skin the window keeps a frame and title bar, so it can
        // still be moved, sized and minimised.
        VLOG("ControlDlg", "스킨을 읽지 못했습니다: %s\n", m_skin->LastError().toUtf8().constData());
        SetSkinned(false);
        m_skin->hide();
    }
    m_skin->lower();

    // 3. The user list, with this window as its owner. The host's own row
    // comes from the room (4.) like every other row.
    m_userList->Setup(this, false);
    // 5. The chat display.
    m_chatDisplay->Setup();
    // 6. The splitter between the chat display and the input line.
    m_splitter->SetNeighbours({m_chatDisplay}, {m_input}, 30, 30);
    connect(m_splitter, &CChatSplitter::RelayoutRequested, this, [this](int, int) {
        MeasureLayout();
        ApplyLayout();
        SyncSkinRegions();
    });

    // 4. and 7. The room: the host's own name and row, then hosting or
    // connecting.
    m_room = std::make_unique<CChatRoom>(static_cast<IChatDisplay *>(this),
                                         static_cast<IChatMemberView *>(this), m_mainWindow);
    m_room->Start(args);

    // 8. The controls on the skin objects of their names.
    PlaceOnSkin(m_ulBody, "ul_body");
    PlaceOnSkin(m_userList, "ul");
    PlaceOnSkin(m_chatDisplay, "richedit");
    PlaceOnSkin(m_splitter, "splitter");
    PlaceOnSkin(m_input, "edit");

    // 9. The layout.
    MeasureLayout();
    ApplyLayout();

    // Keys are looked at before any control sees them.
    for (QObject *o :
         std::initializer_list<QObject *>{this, m_userList, m_chatDisplay, m_input, m_splitter, m_ulBody})
        o->installEventFilter(this);

    // 10. The placement.
    PlaceWindow();
    m_created = true;
    SyncSkinRegions();
    return true;
}

void CControlDlg::PlaceOnSkin(QWidget *control, const char *name)
{
    CSkinObject *object = FindSkinObject(m_skinRoot, QString::fromUtf8(name));
    if (!object)
        return;
    control->setGeometry(object->GetFormRect());
}

void CControlDlg::MeasureLayout()
{
    if (!m_userList)
        return;
    const int clientRight = width();
    const int clientBottom = height();
    const QRect frame = m_ulBody->geometry();
    const QRect list = m_userList->geometry();
    const QRect input = m_input->geometry();
    const QRect split = m_splitter->geometry();
    const QRect chat = m_chatDisplay->geometry();
    Layout &l = m_layout;
    l.frameLeft = frame.x();
    l.frameRight = clientRight - Right(frame);
    l.frameTop = frame.y();
    l.frameHeight = frame.height();
    l.listLeft = list.x();
    l.listRight = clientRight - Right(list);
    l.listTop = list.y();
    l.listHeight = list.height();
    l.inputLeft = input.x();
    l.inputRight = clientRight - Right(input);
    l.inputBottom = clientBottom - Bottom(input);
    l.inputHeight = input.height();
    l.splitterWidth = split.width();
    l.splitterHalf = split.width() / 2;
    l.splitterHeight = split.height();
    l.gapSplitterInput = input.y() - Bottom(split);
    l.gapListChat = chat.y() - Bottom(list);
    l.gapChatSplitter = split.y() - Bottom(chat);
    l.chatLeft = chat.x();
    l.chatRight = clientRight - Right(chat);
    l.measured = true;
}

void CControlDlg::ApplyLayout()
{
    if (!m_layout.measured)
        return;
    const Layout &l = m_layout;
    const int clientRight = width();
    const int clientBottom = height();
    // Frame and list keep their top and height and stretch with the width.
    m_ulBody->setGeometry(l.frameLeft, l.frameTop, std::max(0, clientRight - l.frameRight - l.frameLeft),
                          l.frameHeight);
    m_userList->setGeometry(l.listLeft, l.listTop, std::max(0, clientRight - l.listRight - l.listLeft),
                            l.listHeight);
    // The input line is anchored to the bottom.
    const int inputTop = clientBottom - l.inputBottom - l.inputHeight;
    m_input->setGeometry(l.inputLeft, inputTop, std::max(0, clientRight - l.inputRight - l.inputLeft),
                         l.inputHeight);
    // The splitter sits its gap above the input line, centred.
    const int splitBottom = inputTop - l.gapSplitterInput;
    const int splitTop = splitBottom - l.splitterHeight;
    m_splitter->setGeometry(clientRight / 2 - l.splitterHalf, splitTop, l.splitterWidth, l.splitterHeight);
    // The chat display takes all the height left between them.
    const int chatTop = l.listTop + l.listHeight + l.gapListChat;
    const int chatBottom = splitTop - l.gapChatSplitter;
    m_chatDisplay->setGeometry(l.chatLeft, chatTop, std::max(0, clientRight - l.chatRight - l.chatLeft),
                               std::max(0, chatBottom - chatTop));
    update();
}

void CControlDlg::SyncSkinRegions()
{
    if (!m_skinRoot)
        return;
    const std::pair<QWidget *, const char *> controls[] = {{m_ulBody, "ul_body"},
                                                           {m_userList, "ul"},
                                                           {m_chatDisplay, "richedit"},
                                                           {m_splitter, "splitter"},
                                                           {m_input, "edit"}};
    for (const auto &[widget, name] : controls) {
        if (!widget)
            continue;
        CSkinObject *object = FindSkinObject(m_skinRoot, QString::fromUtf8(name));
        if (!object)
            continue;
        // The object's rectangle is relative to its parent object.
        QRect r = widget->geometry();
        if (CSkinObject *parent = object->GetParent(); parent && parent->GetParent())
            r.translate(-parent->GetFormRect().topLeft());
        object->SetRect(r);
    }
}

void CControlDlg::resizeEvent(QResizeEvent *event)
{
    CSnapDialog::resizeEvent(event);
    if (m_created) {
        ApplyLayout();
        SyncSkinRegions();
    }
}

std::string CControlDlg::GetOwnName() const
{
    return m_room ? m_room->OwnName() : std::string();
}

void CControlDlg::OnListCommand(int command)
{
    if (command == ID_CHANGE_CHAT_NAME)
        ChangeName();
}

void CControlDlg::SendInputLine()
{
    if (!m_input || !m_room)
        return;
    // The edit control's text: line breaks are "\r\n".
    QString text = m_input->toPlainText();
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    // At most 1023 bytes go out; the cut never splits a character.
    char buffer[kMaxLineBytes + 1];
    platform::Utf8ToAnsiBuffer(text.toStdString(), buffer, sizeof buffer);
    const std::string line = platform::AnsiToUtf8(buffer);
    if (line.empty())
        return;
    m_input->clear();
    m_room->SpeakLine(line);
}

void CControlDlg::InsertLineBreak()
{
    if (!m_input)
        return;
    QTextCursor cursor = m_input->textCursor();
    const int start = cursor.selectionStart();
    cursor.setPosition(start);
    cursor.insertText(QStringLiteral("\n"));
    m_input->setTextCursor(cursor);
}

void CControlDlg::ChangeName()
{
    if (!m_room)
        return;
    const std::string current = m_room->OwnName();
    CChangeName dialog(current, this, m_room->GetRole() == CChatRoom::ROLE_GUEST);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The same name, byte for byte: nothing to tell anybody.
    if (dialog.NewName() == current)
        return;
    m_room->RenameSelf(dialog.NewName());
}

bool CControlDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers() & (Qt::AltModifier | Qt::ControlModifier))
                InsertLineBreak();
            else
                SendInputLine();
            // Consumed either way: Enter never reaches a default button.
            return true;
        }
    }
    return CSnapDialog::eventFilter(watched, event);
}

void CControlDlg::closeEvent(QCloseEvent *event)
{
    // The close box minimises the chat window; it lives until the program ends.
    event->ignore();
    showMinimized();
}

void CControlDlg::OnSystemCommand(int command)
{
    if (command == SKIN_SC_CLOSE || command == SKIN_SC_MINIMIZE)
        showMinimized();
}

void CControlDlg::changeEvent(QEvent *event)
{
    CSnapDialog::changeEvent(event);
    // When the chat window becomes active the main window follows it in the
    // stacking order, so the two stay together above other programs.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_owner && m_owner->isVisible() &&
        !m_owner->isMinimized()) {
        m_owner->raise();
        raise();
    }
}

void CControlDlg::StoreWindowRect() const
{
    StoreWindowPosition(*this, kPositionKey);
}

bool CControlDlg::ReadStoredRect(QRect &rect)
{
    platform::RegistryKey key;
    if (FAILED(platform::RegistryKey::Create(platform::RegRoot::HKCU, kPositionKey, key)))
        return false;
    int v[4];
    const char *names[4] = {"Left", "Top", "Right", "Bottom"};
    bool any = false;
    for (int i = 0; i < 4; ++i) {
        // A missing value reads as −1.
        v[i] = static_cast<int>(key.ReadDword(names[i]).value_or(0xFFFFFFFFu));
        any = any || v[i] != -1;
    }
    if (!any)
        return false;
    // A rectangle without area would make an invisible window: not used.
    if (v[2] <= v[0] || v[3] <= v[1])
        return false;
    rect = QRect(v[0], v[1], v[2] - v[0], v[3] - v[1]);
    return true;
}

void CControlDlg::PlaceWindow()
{
    QRect stored;
    if (ReadStoredRect(stored)) {
        SetWindowRect(stored);
        return;
    }
    // Beside the main window: at its right edge and its top.
    QPoint at = pos();
    if (m_owner) {
        const QRect main = m_owner->frameGeometry();
        at = QPoint(main.x() + main.width(), main.y());
    }
    SetWindowRect(QRect(at, QSize(kDefaultWidth, kDefaultHeight)));
}

// The room reports on the window thread, in the order things happened, so
// the widgets are touched directly. A report from another thread would be
// posted instead, which keeps the widgets on their own thread whatever
// happens.
template <typename F> static void OnWindowThread(QObject *widget, F &&apply)
{
    if (QThread::currentThread() == widget->thread())
        apply();
    else
        QMetaObject::invokeMethod(widget, std::forward<F>(apply), Qt::QueuedConnection);
}

void CControlDlg::AddText(const std::string &text, unsigned rgb, int twips, bool indent)
{
    CChatRichEd *display = m_chatDisplay;
    OnWindowThread(display, [display, text, rgb, twips, indent] {
        display->AddText(text, 0xFF000000u | rgb, twips, indent);
    });
}

void CControlDlg::OnMemberAdded(int row, const std::string &name, int flag)
{
    CChatingListCtrl *list = m_userList;
    OnWindowThread(list, [list, row, name, flag] { list->InsertItem(row, name, flag); });
}

void CControlDlg::OnMemberRemoved(int row)
{
    CChatingListCtrl *list = m_userList;
    OnWindowThread(list, [list, row] { list->DeleteItem(row); });
}

void CControlDlg::OnMemberRenamed(int row, const std::string &name)
{
    CChatingListCtrl *list = m_userList;
    OnWindowThread(list, [list, row, name] { list->SetItemText(row, name); });
}
