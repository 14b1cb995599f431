#pragma once
// The chat display: appends formatted runs of text at the end (face "굴림",
// a size in twips, a colour, an optional 150-twip indent), turns URLs in the
// text into links that open with the system's handler on a click, and keeps
// the newest text in view. GUI thread only; the room logic reaches it
// through queued calls.
#include <QRgb>
#include <QTextBrowser>

#include <functional>
#include <string>

class CChatRichEd : public QTextBrowser {
    Q_OBJECT
public:
    static constexpr int kIndentTwips = 150;
    static constexpr int kDefaultTwips = 200;

    explicit CChatRichEd(QWidget *parent = nullptr);

    // Turns on URL detection and link clicks and lifts the text limit.
    void Setup();

    // Appends `text` (UTF-8; "\r\n" ends a line) at the end whatever the
    // user has selected, formats it and scrolls down by the lines it added.
    void AddText(const std::string &text, QRgb color, int twips, bool indented);

    // Replaces how links are opened (the system's handler by default).
    using LinkOpener = std::function<bool(const std::string &url)>;
    void SetLinkOpener(LinkOpener opener) { m_openLink = std::move(opener); }

    // Whether the view shows the last line.
    bool IsAtEnd() const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void OnLinkClicked(const QUrl &url);

    LinkOpener m_openLink;
    bool m_urlDetect = false;
};
