#pragma once
// The banner: a small browser view that shows one web page of the service
// site (the advertisement banner). The page is fetched on a worker thread so
// a slow site never holds up the window; only simple HTML is rendered.
#include "platform/InternetSession.h"

#include <QTextBrowser>

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

Q_SIGNALS:
    void DocumentComplete();

private:
    void ShowPage(const QString &html);

    std::string m_url;
    bool m_loaded = false;
    unsigned m_generation = 0;
    std::unique_ptr<platform::CInternetSession> m_session;
    std::thread m_fetch;
};
