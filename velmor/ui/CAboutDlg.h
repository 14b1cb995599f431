#pragma once
// The about box: the program's name and version and the maker's name
// scrolling in a link ticker that opens the service site.
#include <QDialog>

#include <string>

class CLinkTicker;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    // `siteUrl`: the service site's base URL the maker's name links to.
    explicit CAboutDlg(const std::string &siteUrl, QWidget *parent = nullptr);

    CLinkTicker *Ticker() const { return m_ticker; }

protected:
    // The ticker starts as soon as the box opens.
    void showEvent(QShowEvent *event) override;

private:
    CLinkTicker *m_ticker = nullptr;
};
