#include "CChatingListCtrl.h"

#include "SkinFonts.h"
#include "UiIds.h"

#include <QHeaderView>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

// Draws the first row in its own colour and a heavier weight than bold.
class FirstRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.row() == 0 && !index.parent().isValid()) {
            option->font = MakeKoreanFont(QStringLiteral("굴림"), 12, QFont::Black);
            option->palette.setColor(QPalette::Text, QColor::fromRgb(kFirstRowColor));
            option->palette.setColor(QPalette::HighlightedText, QColor::fromRgb(kFirstRowColor));
        }
    }
};

} // namespace

bool SameMemberName(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x < 0x80 && y < 0x80 ? std::tolower(x) != std::tolower(y) : x != y)
            return false;
    }
    return true;
}

CChatingListCtrl::CChatingListCtrl(QWidget *parent) : QTreeWidget(parent)
{
    setItemDelegate(new FirstRowDelegate(this));
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { RightClickAt(viewport()->mapFrom(this, pos)); });
}

CChatingListCtrl::~CChatingListCtrl() = default;

QIcon CChatingListCtrl::MemberIcon(int image)
{
    // Bitmap 130: 16 x 16 images side by side, white is transparent.
    static const QImage strip = [] {
        QImage img(QStringLiteral(":/velmor/ui/userlist.png"));
        if (img.isNull())
            return img;
        img = img.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < img.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
            for (int x = 0; x < img.width(); ++x)
                if ((line[x] & 0xFFFFFF) == 0xFFFFFF)
                    line[x] = 0;
        }
        return img;
    }();
    if (strip.isNull() || image < 0 || (image + 1) * 16 > strip.width())
        return {};
    return QIcon(QPixmap::fromImage(strip.copy(image * 16, 0, 16, 16)));
}

void CChatingListCtrl::Setup(IChatListOwner *owner, bool host)
{
    m_owner = owner;
    setColumnCount(1);
    setHeaderLabels({QStringLiteral("사용자 리스트")});
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setColumnWidth(0, 100);
    header()->setStretchLastSection(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIconSize(QSize(16, 16));
    setFont(MakeKoreanFont(QStringLiteral("굴림"), 12));
    setFrameShape(QFrame::StyledPanel);
    if (host)
        InsertItem(0, "방장", kImageHost);
}

std::string CChatingListCtrl::GetItemText(int row) const
{
    const QTreeWidgetItem *item = topLevelItem(row);
    return item ? item->text(0).toStdString() : std::string();
}

int CChatingListCtrl::GetItemImage(int row) const
{
    const QTreeWidgetItem *item = topLevelItem(row);
    return item ? item->data(0, Qt::UserRole).toInt() : -1;
}

int CChatingListCtrl::InsertItem(int row, const std::string &text, int image)
{
    row = std::clamp(row, 0, GetItemCount());
    auto *item = new QTreeWidgetItem({QString::fromStdString(text)});
    item->setData(0, Qt::UserRole, image);
    item->setIcon(0, MemberIcon(image));
    insertTopLevelItem(row, item);
    // The first row's look depends on the position: redraw all.
    viewport()->update();
    return row;
}

bool CChatingListCtrl::SetItemText(int row, const std::string &text)
{
    QTreeWidgetItem *item = topLevelItem(row);
    if (!item)
        return false;
    item->setText(0, QString::fromStdString(text));
    return true;
}

bool CChatingListCtrl::DeleteItem(int row)
{
    QTreeWidgetItem *item = takeTopLevelItem(row);
    delete item;
    viewport()->update();
    return item != nullptr;
}

int CChatingListCtrl::FindItem(const std::string &text, int from) const
{
    for (int row = std::max(0, from); row < GetItemCount(); ++row)
        if (SameMemberName(GetItemText(row), text))
            return row;
    return -1;
}

bool CChatingListCtrl::RightClickAt(const QPoint &viewportPos)
{
    const QTreeWidgetItem *item = itemAt(viewportPos);
    if (!item || !m_owner)
        return false;
    // Only one's own row offers the rename, compared byte for byte.
    if (item->text(0).toStdString() != m_owner->GetOwnName())
        return false;
    if (m_openMenu)
        m_openMenu->deleteLater();
    m_openMenu = new QMenu(this);
    m_openMenu->setAttribute(Qt::WA_DeleteOnClose);
    QAction *rename = m_openMenu->addAction(QStringLiteral("채팅이름바꾸기"));
    IChatListOwner *owner = m_owner;
    connect(rename, &QAction::triggered, this, [owner] { owner->OnListCommand(ID_CHANGE_CHAT_NAME); });
    m_openMenu->popup(viewport()->mapToGlobal(viewportPos));
    return true;
}
