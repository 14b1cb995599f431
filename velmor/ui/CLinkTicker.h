#pragma once
// A strip of text items that scrolls from right to left without end. Items
// with a link are drawn in blue and open with the system's handler when
// clicked; the pointer over an item stops the scrolling and draws it red
// and underlined until the pointer leaves the strip. GUI thread only.
#include <QFrame>
#include <QTimer>

#include <deque>
#include <functional>
#include <string>
#include <vector>

class CLinkTicker : public QFrame {
    Q_OBJECT
public:
    static constexpr int kTimerId = 2025;
    // The scroll step's period. The 1 ms period the ticker asks for is
    // served by the system timer about every 15 ms; that is the speed the
    // text moves at.
    static constexpr int kTickMs = 15;
    static constexpr int kGap = 50; // pixels between a copy's end and the next copy

    explicit CLinkTicker(QWidget *parent = nullptr);
    ~CLinkTicker() override;

    void AddItem(const QString &text, const std::string &link);
    // Stops the timer; with `restart`, measures every item and places the
    // first one at the right edge; then starts the timer.
    void Start(bool restart);
    void Stop();
    bool IsRunning() const { return m_timer.isActive(); }

    // One scroll step (the timer's tick).
    void Tick();

    using LinkOpener = std::function<bool(const std::string &url)>;
    void SetLinkOpener(LinkOpener opener) { m_openLink = std::move(opener); }

    // What is on screen: item index and x of each copy, leftmost first.
    struct Copy {
        int item;
        int x;
    };
    const std::deque<Copy> &Copies() const { return m_copies; }
    int ItemWidth(int item) const;
    QRect TextRect() const { return m_textRect; }
    int HoveredItem() const { return m_hovered; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    struct Item {
        QString text;
        std::string link;
        int width = 0;
        int height = 0;
    };
    void Measure();
    void UpdateFonts();
    int CopyAt(const QPoint &pos) const;

    std::vector<Item> m_items;
    std::deque<Copy> m_copies;
    QRect m_textRect;
    QFont m_bold;
    QFont m_boldUnderline;
    QTimer m_timer;
    int m_hovered = -1;
    bool m_tracking = false;
    LinkOpener m_openLink;
};
