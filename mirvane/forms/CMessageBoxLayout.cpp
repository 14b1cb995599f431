#include "CMessageBoxLayout.h"

#include <algorithm>

CMessageBoxLayout::Result CMessageBoxLayout::Compute(const Input &in)
{
    const int frameWidth = std::max(0, in.left) + std::max(0, in.right);
    const int frameHeight = std::max(0, in.top) + std::max(0, in.bottom);
    const int areaWidth = in.text.width() >= in.designedClient.width() ? in.text.width() + kExtraWidth
                                                                       : in.designedClient.width();
    const int areaHeight = in.text.height() >= in.designedClient.height() ? in.text.height() + kExtraHeight
                                                                          : in.designedClient.height();
    QSize window(frameWidth + std::max(0, areaWidth), frameHeight + std::max(0, areaHeight));
    if (in.screen.isValid()) {
        window.setWidth(std::min(window.width(), in.screen.width()));
        window.setHeight(std::min(window.height(), in.screen.height()));
    }

    Result r;
    const QPoint origin = in.screen.isValid()
                              ? QPoint(in.screen.x() + (in.screen.width() - window.width()) / 2,
                                       in.screen.y() + (in.screen.height() - window.height()) / 2)
                              : QPoint(0, 0);
    r.window = QRect(origin, window);
    r.client = QRect(std::max(0, in.left), std::max(0, in.top), std::max(0, window.width() - frameWidth),
                     std::max(0, window.height() - frameHeight));
    const int textWidth = std::min(in.text.width(), r.client.width());
    const int textHeight = std::min(in.text.height(), r.client.height());
    r.text = QRect(r.client.x() + (r.client.width() - textWidth) / 2,
                   r.client.y() + (r.client.height() - textHeight) / 2, std::max(0, textWidth),
                   std::max(0, textHeight));
    return r;
}

std::vector<QRect> CMessageBoxLayout::PlaceButtons(const QRect &band, const std::vector<QSize> &buttons)
{
    std::vector<QRect> out;
    const int centre = band.x() + band.width() / 2;
    auto top = [&](const QSize &s) { return band.y() + (band.height() - s.height()) / 2; };
    if (buttons.size() == 1) {
        const QSize s = buttons[0];
        out.emplace_back(centre - s.width() / 2, top(s), s.width(), s.height());
    } else if (buttons.size() == 2) {
        const QSize a = buttons[0], b = buttons[1];
        out.emplace_back(centre - kButtonGap - a.width(), top(a), a.width(), a.height());
        out.emplace_back(centre + kButtonGap, top(b), b.width(), b.height());
    } else {
        // More buttons than the box knows: side by side, centred as a row.
        int total = 0;
        for (const QSize &s : buttons)
            total += s.width();
        total += kButtonGap * 2 * static_cast<int>(buttons.empty() ? 0 : buttons.size() - 1);
        int x = centre - total / 2;
        for (const QSize &s : buttons) {
            out.emplace_back(x, top(s), s.width(), s.height());
            x += s.width() + kButtonGap * 2;
        }
    }
    return out;
}
