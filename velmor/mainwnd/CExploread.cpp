#include "CExploread.h"

#include "CLogFile.h"
#include "platform/Process.h"

#include <QUrl>

CExploread::CExploread(QWidget *parent) : QTextBrowser(parent)
{
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setOpenLinks(false);
    // Links in the banner open in the desktop's browser.
    m_openLink = [](const std::string &url) { return platform::OpenWithSystemHandler(url); };
    connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl &link) { OpenLink(link); });
}

bool CExploread::OpenLink(const QUrl &link)
{
    const QUrl target = QUrl(QString::fromStdString(m_url)).resolved(link);
    // QUrl keeps schemes in lower case, so "HTTP:" compares as "http".
    const QString scheme = target.scheme();
    if (!target.isValid() || (scheme != QStringLiteral("http") && scheme != QStringLiteral("https")) ||
        target.host().isEmpty()) {
        VLOG("Exploread", "배너의 링크는 웹 주소만 엽니다: %s\n", link.toString().toUtf8().constData());
        return false;
    }
    return m_openLink && m_openLink(target.toString(QUrl::FullyEncoded).toStdString());
}

CExploread::~CExploread()
{
    Stop();
}

void CExploread::Stop()
{
    if (m_session)
        m_session->Abort();
    if (m_fetch.joinable())
        m_fetch.join();
    m_session.reset();
}

void CExploread::Navigate(const std::string &url)
{
    Stop();
    m_url = url;
    m_loaded = false;
    m_session = std::make_unique<platform::CInternetSession>();
    platform::CInternetSession *session = m_session.get();
    const unsigned generation = ++m_generation;
    m_fetch = std::thread([this, session, url, generation] {
        std::unique_ptr<platform::CHttpFile> page = session->OpenURL(url);
        if (!page)
            return;
        const QString html = QString::fromUtf8(page->Body().data(), static_cast<qsizetype>(page->Body().size()));
        // The control outlives this thread (Stop joins it), and a queued
        // call to a control that is gone is dropped by Qt.
        QMetaObject::invokeMethod(
            this,
            [this, html, generation] {
                if (generation == m_generation) // not a page an earlier Navigate asked for
                    ShowPage(html);
            },
            Qt::QueuedConnection);
    });
}

void CExploread::ShowPage(const QString &html)
{
    setHtml(html);
    m_loaded = true;
    Q_EMIT DocumentComplete();
}
