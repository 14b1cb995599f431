// Draws the images of the updater's skin, Mirvane.skin (PNG). Run it once
// after changing a drawing and commit the files it writes:
//   MakeMirvaneSkinImages <assets/MirvaneSkin folder>
// QT_QPA_PLATFORM=offscreen is enough; nothing is shown.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <numbers>

#include <cstdio>

namespace {

QImage Blank(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    return img;
}

// Two arrows chasing each other round a circle: the updater's mark.
void DrawCycle(QPainter &p, const QRectF &box, qreal width, const QColor &colour)
{
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    const QRectF ring = box.adjusted(width, width, -width, -width);
    p.drawArc(ring, 30 * 16, 130 * 16);
    p.drawArc(ring, 210 * 16, 130 * 16);
    // Arrow heads at the ends of the arcs (160 and 340 degrees).
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    const QPointF c = ring.center();
    const qreal r = ring.width() / 2;
    for (int end : {160, 340}) {
        const qreal a = end * std::numbers::pi / 180.0;
        const QPointF tip(c.x() + r * std::cos(a), c.y() - r * std::sin(a));
        // Tangent pointing on round the circle (counter-clockwise).
        const QPointF t(-std::sin(a), -std::cos(a));
        const QPointF n(std::cos(a), -std::sin(a));
        const qreal s = width * 1.6;
        QPainterPath head;
        head.moveTo(tip + t * s * 1.2);
        head.lineTo(tip + n * s);
        head.lineTo(tip - n * s);
        head.closeSubpath();
        p.drawPath(head);
    }
}

QImage AppIcon()
{
    QImage img = Blank(16, 16);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 16);
    g.setColorAt(0, QColor(0x7F, 0xC4, 0xFF));
    g.setColorAt(1, QColor(0x2C, 0x86, 0xE0));
    p.setPen(QPen(QColor(255, 255, 255, 200), 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3.5, 3.5);
    DrawCycle(p, QRectF(2, 2, 12, 12), 1.6, Qt::white);
    return img;
}

QImage MessageIcon()
{
    QImage img = Blank(40, 40);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(QPointF(15, 12), 26);
    g.setColorAt(0, QColor(0x8E, 0xCB, 0xFF));
    g.setColorAt(1, QColor(0x26, 0x6F, 0xC8));
    p.setPen(QPen(QColor(0x1E, 0x55, 0x9C), 1));
    p.setBrush(g);
    p.drawEllipse(QRectF(2.5, 2.5, 35, 35));
    DrawCycle(p, QRectF(9, 9, 22, 22), 2.6, Qt::white);
    return img;
}

// A box with an arrow coming down into it: the download form's picture.
QImage DownloadIcon()
{
    QImage img = Blank(48, 48);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // The tray.
    QLinearGradient tray(0, 28, 0, 46);
    tray.setColorAt(0, QColor(0xF4, 0xF7, 0xFB));
    tray.setColorAt(1, QColor(0xC9, 0xD5, 0xE6));
    p.setPen(QPen(QColor(0x5B, 0x74, 0x9A), 1.2));
    p.setBrush(tray);
    QPainterPath box;
    box.moveTo(4, 28);
    box.lineTo(14, 28);
    box.lineTo(17, 33);
    box.lineTo(31, 33);
    box.lineTo(34, 28);
    box.lineTo(44, 28);
    box.lineTo(44, 43);
    box.quadTo(44, 45, 42, 45);
    box.lineTo(6, 45);
    box.quadTo(4, 45, 4, 43);
    box.closeSubpath();
    p.drawPath(box);
    // The arrow.
    QLinearGradient arrow(0, 2, 0, 34);
    arrow.setColorAt(0, QColor(0x6F, 0xD0, 0x6A));
    arrow.setColorAt(1, QColor(0x2E, 0x9A, 0x3B));
    p.setPen(QPen(QColor(0x23, 0x7A, 0x2E), 1.2));
    p.setBrush(arrow);
    QPainterPath down;
    down.moveTo(19, 3);
    down.lineTo(29, 3);
    down.lineTo(29, 17);
    down.lineTo(36, 17);
    down.lineTo(24, 31);
    down.lineTo(12, 17);
    down.lineTo(19, 17);
    down.closeSubpath();
    p.drawPath(down);
    return img;
}

// The progress bars, as wide as the form draws them: the empty bar (a sunken
// trough) and the filled one (a glossy blue band).
QImage Bar(bool filled)
{
    const int w = 400, h = 18;
    QImage img = Blank(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(0.5, 0.5, w - 1, h - 1);
    QLinearGradient g(0, 0, 0, h);
    if (filled) {
        g.setColorAt(0, QColor(0x8C, 0xC8, 0xFF));
        g.setColorAt(0.45, QColor(0x4A, 0x9B, 0xEE));
        g.setColorAt(0.55, QColor(0x2F, 0x82, 0xDD));
        g.setColorAt(1, QColor(0x4A, 0x9B, 0xEE));
        p.setPen(QPen(QColor(0x25, 0x63, 0xB0), 1));
    } else {
        g.setColorAt(0, QColor(0xD5, 0xDC, 0xE6));
        g.setColorAt(0.3, QColor(0xF1, 0xF4, 0xF8));
        g.setColorAt(1, QColor(0xFB, 0xFC, 0xFE));
        p.setPen(QPen(QColor(0x9A, 0xAB, 0xC2), 1));
    }
    p.setBrush(g);
    p.drawRoundedRect(r, 4, 4);
    if (filled) {
        // A soft highlight along the top.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 70));
        p.drawRoundedRect(QRectF(2, 2, w - 4, h / 2.0 - 2), 3, 3);
    }
    return img;
}

bool Save(const QImage &img, const QString &dir, const char *name)
{
    const QString path = dir + u'/' + QString::fromLatin1(name);
    if (!img.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: MakeMirvaneSkinImages <assets/MirvaneSkin folder>\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    bool ok = Save(AppIcon(), dir, "app_icon.png");
    ok = Save(MessageIcon(), dir, "msg_icon.png") && ok;
    ok = Save(DownloadIcon(), dir, "download_icon.png") && ok;
    ok = Save(Bar(true), dir, "01_bar_f.png") && ok;
    ok = Save(Bar(false), dir, "01_bar_e.png") && ok;
    return ok ? 0 : 1;
}
