#include "CUpdateListForm.h"

#include "SkinText.h"

#include "CLogFile.h"

#include "platform/CodePage.h"
#include "platform/MessageBox.h"
#include "platform/NewFile.h"
#include "platform/ShellFolders.h"

#include <QFile>
#include <QFileInfo>
#include <QRegion>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QUrl>

#include <cerrno>
#include <cstring>

const char CUpdateListForm::kPageHead[] =
    "<html><head><style type='text/css'>body{scrollbar-3dlight-color:E1ECF0;scrollbar-arrow-color:7B9FBA;"
    "scrollbar-track-color:E3ECF4;scrollbar-darkshadow-color:84A5BE;scrollbar-face-color:DBEDF9;"
    "scrollbar-highlight-color:white;scrollbar-shadow-color:C6D6E1;}</style></head><body TopMargin=5 "
    "LeftMargin=5 "
    "RightMargin=5 BottomMargin=5 OnSelectStart='return false' OnDrag='return false' OnContextMenu='return "
    "false'>";
const char CUpdateListForm::kPageTail[] = "</body></html>";
const char CUpdateListForm::kPageFile[] = "KerrowUpdateList.htm";

namespace {

// The page's scroll bar in the colours its head asks a browser for.
const char kBrowserStyle[] =
    "QTextBrowser { background: #FFFFFF; }"
    "QScrollBar:vertical { background: #E3ECF4; width: 14px; margin: 0; border-left: 1px solid #C6D6E1; }"
    "QScrollBar::handle:vertical { background: #DBEDF9; border: 1px solid #84A5BE; min-height: 24px; }"
    "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
    "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }";

} // namespace

CUpdateListForm::CUpdateListForm(const QString &skinPath, const QString &korName, const QString &imageName,
                                 const QString &information, QWidget *parent)
    : CSkinDialog(IDD, skinPath, QStringLiteral("UpdateList_Form"), parent), m_korName(korName),
      m_imageName(imageName), m_information(information)
{
}

QString CUpdateListForm::PageText(const QString &information)
{
    return QString::fromUtf8(kPageHead) + information + QString::fromUtf8(kPageTail);
}

QString CUpdateListForm::PagePath()
{
    const std::string folder = platform::GetTempPath();
    return folder.empty() ? QString() : QString::fromStdString(folder) + QString::fromUtf8(kPageFile);
}

bool CUpdateListForm::OnInitDialog()
{
    if (!CSkinDialog::OnInitDialog())
        return false;
    const QString caption = FormatSkinText(ElementText(QStringLiteral("Caption")), m_korName);
    SetElementText(QStringLiteral("Caption"), caption);
    if (!caption.isEmpty())
        setWindowTitle(caption);

    // The page file, made anew each time (never written through a link
    // left at its name).
    const QString page = PageText(m_information);
    const QString path = PagePath();
    const std::string bytes = platform::QStringToAnsi(page);
    if (path.isEmpty() || !platform::WriteNewFile(path.toStdString(), bytes))
        VLOG("UpdateListForm", "%s 파일을 쓰지 못했습니다: %s\n", qUtf8Printable(path), std::strerror(errno));
    QFile file(path);

    // The view over "List", 2 pixels larger on every side, cut back to the
    // element so its own border stays out of sight.
    QRect list;
    if (!FindElement(QStringLiteral("List"), &list))
        list = rect().adjusted(10, 40, -10, -60);
    const QRect view = list.adjusted(-2, -2, 2, 2);
    m_browser = new QTextBrowser(this);
    m_browser->setGeometry(view);
    m_browser->setMask(QRegion(2, 2, view.width() - 4, view.height() - 4));
    m_browser->setStyleSheet(QString::fromLatin1(kBrowserStyle));
    m_browser->setOpenExternalLinks(true);
    m_browser->setContextMenuPolicy(Qt::NoContextMenu);
    m_browser->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    m_browser->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_browser->setSearchPaths({QFileInfo(path).absolutePath()});
    // Shown from the file as written; the file is CP949, which the view
    // would not guess, so it is read back here.
    QString shown = page;
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray written = file.readAll();
        shown = platform::AnsiToQString(
            std::string_view(written.constData(), static_cast<std::size_t>(written.size())));
    }
    m_browser->document()->setBaseUrl(QUrl::fromLocalFile(path));
    m_browser->setHtml(shown);
    m_browser->raise();
    CentreOnScreen();
    return true;
}

int CUpdateListForm::RunHeadless()
{
    const QString text = QTextDocumentFragment::fromHtml(PageText(m_information)).toPlainText().trimmed();
    const int answer =
        platform::ShowMessageBox(text.toStdString(), windowTitle().toStdString(), platform::MB_YESNO);
    return answer == platform::IDYES ? platform::IDYES : platform::IDNO;
}

void CUpdateListForm::OnSkinClick(ISkinObject *object)
{
    if (object->GetName().compare(u"Yes_Btn", Qt::CaseInsensitive) == 0)
        done(platform::IDYES);
    else if (object->GetName().compare(u"No_Btn", Qt::CaseInsensitive) == 0)
        done(platform::IDNO);
}

void CUpdateListForm::reject()
{
    done(platform::IDNO);
}
