#pragma once
// The chat window "텍스트창" of both roles: the user list at the top, the chat
// display in the middle, a splitter bar and the input line at the bottom,
// framed by the skin "Control" of Skin/Control.skn. It owns the chat room
// (sockets and chat threads) and shows what the room reports.
//
// The main window creates it once, hidden and without a parent, with itself
// as owner and its chat callbacks, then shows or hides it. The close box
// (and "닫기" of its system menu) only minimises it. Without its skin it is
// an ordinary framed window. Its rectangle is kept under HKEY_CURRENT_USER
// "Software\Quenta\ControlWindowArea\Position".
//
// Threads: a GUI-thread object. The room reports to its display and
// member-view sides on that thread too.
#include "CChatingListCtrl.h"
#include "CSnapDialog.h"

#include "IChatDisplay.h"
#include "IChatMemberView.h"

#include <QPointer>

#include <memory>
#include <string>

class CChatRichEd;
class CChatRoom;
class CChatSplitter;
class CSkinObject;
class CSkinWidget;
class IChatMainWindow;
class QFrame;
class QPlainTextEdit;
struct CommandLineArgs;

class CControlDlg : public CSnapDialog, public IChatListOwner, private IChatDisplay, private IChatMemberView {
    Q_OBJECT
public:
    static constexpr int kMaxLineBytes = 1023;
    static constexpr int kDefaultWidth = 267;
    static constexpr int kDefaultHeight = 495;
    static constexpr const char *kPositionKey = "Software\\Quenta\\ControlWindowArea\\Position";

    // `owner`: the main window (placement, z-order); `mainWindow`: the room's
    // reports. Either may be null.
    CControlDlg(QWidget *owner, IChatMainWindow *mainWindow);
    ~CControlDlg() override;

    // The dialog's initialisation: skin, user list, chat display, splitter,
    // the room in the role `args.start` gives (1 host, 2 guest), the controls
    // on their skin objects, the layout and the placement. False when the
    // window cannot be made.
    bool Create(const CommandLineArgs &args);

    // The layout record from the controls' present places, and the pass that
    // re-applies it to the present client size.
    void MeasureLayout();
    void ApplyLayout();
    // Gives each control's rectangle to the skin object of its name.
    void SyncSkinRegions();

    // Enter: sends the input line (cut to 1023 bytes) unless it is empty.
    void SendInputLine();
    // Alt+Enter: a line break at the selection's start.
    void InsertLineBreak();
    // Menu command 32772: the nickname dialog.
    void ChangeName();

    // Escape would end a dialog; the chat window stays until the program ends.
    void reject() override {}

    // IChatListOwner
    std::string GetOwnName() const override;
    void OnListCommand(int command) override;

    CChatingListCtrl *UserList() const { return m_userList; }
    CChatRichEd *ChatDisplay() const { return m_chatDisplay; }
    QPlainTextEdit *InputLine() const { return m_input; }
    CChatSplitter *Splitter() const { return m_splitter; }
    QFrame *UserListFrame() const { return m_ulBody; }
    CSkinWidget *Skin() const { return m_skin; }
    CSkinObject *SkinRoot() const { return m_skinRoot; }
    CChatRoom *Room() const { return m_room.get(); }

    // The window rectangle in the registry: stored at destruction (−1 four
    // times when minimised), read at creation.
    void StoreWindowRect() const;
    static bool ReadStoredRect(QRect &rect);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // IChatDisplay / IChatMemberView.
    void AddText(const std::string &text, unsigned rgb, int twips, bool indent) override;
    void OnMemberAdded(int row, const std::string &name, int flag) override;
    void OnMemberRemoved(int row) override;
    void OnMemberRenamed(int row, const std::string &name) override;

    void PlaceOnSkin(QWidget *control, const char *name);
    void PlaceWindow();
    void OnSystemCommand(int command);

    struct Layout {
        int frameLeft = 0, frameRight = 0, frameTop = 0, frameHeight = 0;
        int listLeft = 0, listRight = 0, listTop = 0, listHeight = 0;
        int inputLeft = 0, inputRight = 0, inputBottom = 0, inputHeight = 0;
        int splitterWidth = 0, splitterHalf = 0, splitterHeight = 0;
        int gapSplitterInput = 0, gapListChat = 0, gapChatSplitter = 0;
        int chatLeft = 0, chatRight = 0;
        bool measured = false;
    };

    QPointer<QWidget> m_owner;
    IChatMainWindow *m_mainWindow = nullptr;
    CSkinWidget *m_skin = nullptr;
    CSkinObject *m_skinRoot = nullptr;
    QFrame *m_ulBody = nullptr;
    CChatingListCtrl *m_userList = nullptr;
    CChatRichEd *m_chatDisplay = nullptr;
    QPlainTextEdit *m_input = nullptr;
    CChatSplitter *m_splitter = nullptr;
    std::unique_ptr<CChatRoom> m_room;
    Layout m_layout;
    bool m_created = false;
};
