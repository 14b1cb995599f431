#pragma once
// The user list of the chat window: one column "사용자 리스트", a row per
// member with the member's icon (the member flag is the image index), the
// first row drawn in RGB(100, 100, 200) with a very heavy font, and a
// context menu with "채팅이름바꾸기" on one's own row only. The room logic
// appends, finds, renames and deletes rows; names are UTF-8 here.
// GUI thread only.
#include <QMenu>
#include <QPointer>
#include <QTreeWidget>

#include <string>

// The window that holds the list: its own name is compared on right-click
// and it receives the menu command.
class IChatListOwner {
public:
    virtual std::string GetOwnName() const = 0;
    virtual void OnListCommand(int command) = 0;

protected:
    ~IChatListOwner() = default;
};

class CChatingListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CChatingListCtrl(QWidget *parent = nullptr);
    ~CChatingListCtrl() override;

    // Column, full-row selection, row font, image list; in host mode the
    // row "방장" with the host icon comes first.
    void Setup(IChatListOwner *owner, bool host);

    int GetItemCount() const { return topLevelItemCount(); }
    std::string GetItemText(int row) const;
    int GetItemImage(int row) const;
    int InsertItem(int row, const std::string &text, int image);
    int AppendItem(const std::string &text, int image) { return InsertItem(GetItemCount(), text, image); }
    bool SetItemText(int row, const std::string &text);
    bool DeleteItem(int row);
    // The first row whose text equals `text` (letter case of ASCII letters
    // ignored), from `from` on; −1 when there is none.
    int FindItem(const std::string &text, int from = 0) const;

    // The menu that the last right-click opened (null when none did).
    QMenu *OpenMenu() const { return m_openMenu; }

    // The right-click handling at a point in viewport coordinates; returns
    // whether the menu opened.
    bool RightClickAt(const QPoint &viewportPos);

    static QIcon MemberIcon(int image);

private:
    IChatListOwner *m_owner = nullptr;
    QPointer<QMenu> m_openMenu;
};

// Compares names the way the room does: ASCII letters without regard to case.
bool SameMemberName(const std::string &a, const std::string &b);
