#include "CChatRichEd.h"

#include "SkinFonts.h"

#include "platform/Process.h"

#include <QApplication>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>

namespace {

// What automatic URL detection takes for a link: a scheme the desktop can
// open followed by non-blank text, or a "www." host. Trailing punctuation
// that usually ends a sentence is not part of the link.
const QRegularExpression &UrlPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral(
            R"((?:(?:https?|ftp|file|news|telnet|gopher|mms|nntp|prospero|wais)://|mailto:|www\.)[^\s<>"]+)"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

QString TrimUrlTail(QString url)
{
    while (!url.isEmpty() && QStringLiteral(".,;:!?)]}'").contains(url.back()))
        url.chop(1);
    return url;
}

} // namespace

CChatRichEd::CChatRichEd(QWidget *parent) : QTextBrowser(parent)
{
    InstallKoreanFontSubstitutes();
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard |
                            Qt::LinksAccessibleByMouse);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    // The default character format: "굴림", 200 twips (10 points), black.
    QFont font(QStringLiteral("굴림"));
    font.setPointSizeF(kDefaultTwips / 20.0);
    document()->setDefaultFont(font);
    document()->setDocumentMargin(2);
    m_openLink = [](const std::string &url) { return platform::OpenWithSystemHandler(url); };
    connect(this, &QTextBrowser::anchorClicked, this, &CChatRichEd::OnLinkClicked);
}

void CChatRichEd::Setup()
{
    m_urlDetect = true;
    // No text limit: QTextDocument has none to lift.
}

bool CChatRichEd::IsAtEnd() const
{
    const QScrollBar *bar = verticalScrollBar();
    return bar->value() >= bar->maximum();
}

void CChatRichEd::AddText(const std::string &utf8, QRgb color, int twips, bool indented)
{
    QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    if (text.isEmpty())
        return;
    QScrollBar *bar = verticalScrollBar();
    const int oldMaximum = bar->maximum();
    const int oldValue = bar->value();

    QTextCharFormat format;
    QFont font(QStringLiteral("굴림"));
    font.setPointSizeF(twips / 20.0);
    font.setBold(false);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    format.setFont(font);
    format.setForeground(QColor::fromRgb(color));

    QTextBlockFormat block;
    // 1440 twips to the inch, 96 pixels to the inch on the reference screen.
    block.setLeftMargin(indented ? kIndentTwips * 96.0 / 1440.0 : 0);
    block.setRightMargin(0);
    block.setTextIndent(0);
    block.setAlignment(Qt::AlignLeft);

    // A cursor of our own: the user's selection stays untouched and the run
    // always goes to the end.
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    // Like a paragraph format given to a selection, the format covers every
    // paragraph the run touches, the one it continues included.
    cursor.setBlockFormat(block);
    const QStringList lines = text.split(u'\n');
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            cursor.insertBlock(block, format);
        }
        const QString &line = lines[i];
        if (!m_urlDetect) {
            cursor.insertText(line, format);
            continue;
        }
        int done = 0;
        QRegularExpressionMatchIterator it = UrlPattern().globalMatch(line);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            const QString url = TrimUrlTail(m.captured(0));
            if (url.size() <= 4)
                continue;
            cursor.insertText(line.mid(done, m.capturedStart() - done), format);
            QTextCharFormat link = format;
            QString href = url;
            if (href.startsWith(QStringLiteral("www."), Qt::CaseInsensitive))
                href.prepend(QStringLiteral("http://"));
            link.setAnchor(true);
            link.setAnchorHref(href);
            link.setFontUnderline(true);
            link.setForeground(QColor(0, 0, 255));
            cursor.insertText(url, link);
            done = static_cast<int>(m.capturedStart() + url.size());
        }
        cursor.insertText(line.mid(done), format);
    }
    cursor.endEditBlock();

    // Scroll down by what the run added, so a reader at the end keeps
    // seeing the newest text and a reader further up keeps their distance.
    const int added = bar->maximum() - oldMaximum;
    bar->setValue(oldValue + std::max(0, added));
}

void CChatRichEd::OnLinkClicked(const QUrl &url)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (m_openLink)
        m_openLink(url.toString().toStdString());
    QApplication::restoreOverrideCursor();
}

void CChatRichEd::resizeEvent(QResizeEvent *event)
{
    const bool atEnd = IsAtEnd();
    QTextBrowser::resizeEvent(event);
    // After a resize the newest lines stay in view.
    if (atEnd)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}
