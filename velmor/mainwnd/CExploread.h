#pragma once
// The banner: a small browser view that shows one web page of the service
// site (the advertisement banner). The page is fetched on a worker thread so
// a slow site never holds up the window; only simple HTML is rendered.
// A click on a link opens it in the desktop's browser when it is a web
// address (http or https); links of any other scheme (file:, javascript:,
// a program's own handler) are not opened: the page comes from the network.
#include "platform/InternetSession.h"

#include <QTextBrowser>

#include <functional>
#include <memory>
#include <string>
#include <thread>

class CExploread : public QTextBrowser {
    Q_OBJECT
public:
    explicit CExploread(QWidget *parent = nullptr);
    ~CExploread() override;

    // Loads `url` and shows it once it arrives (an earlier load is dropped).
    void Navigate(const std::string &url);
    const std::string &LocationURL() const { return m_url; }
    // Whether the last Navigate has shown its page.
    bool IsLoaded() const { return m_loaded; }

    // Gives up on a page still being fetched.
    void Stop();

    // Replaces how links are opened (the system's handler by default).
    using LinkOpener = std::function<bool(const std::string &url)>;
    void SetLinkOpener(LinkOpener opener) { m_openLink = std::move(opener); }
    // A clicked link: relative links are taken against the page's address;
    // only http and https are opened. False when the link was not opened.
    bool OpenLink(const QUrl &link);

Q_SIGNALS:
    void DocumentComplete();

private:
    void ShowPage(const QString &html);

    std::string m_url;
    LinkOpener m_openLink;
    bool m_loaded = false;
    unsigned m_generation = 0;
    std::unique_ptr<platform::CInternetSession> m_session;
    std::thread m_fetch;
};
