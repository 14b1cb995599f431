// Draws the skin's and the chat window's small images (PNG). Run it once
// after changing a drawing and commit the files it writes:
//   MakeSkinImages <assets/Skin folder> <velmor/ui/res folder>
// QT_QPA_PLATFORM=offscreen is enough; nothing is shown.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

QImage Blank(int w, int h, QColor fill = Qt::transparent)
{
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(fill);
    return img;
}

// One caption button: states normal, hover, pressed, disabled side by side.
QImage CaptionButton(bool close)
{
    const int w = 22, h = 18;
    QImage img = Blank(w * 4, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor faces[4] = {
        QColor(255, 255, 255, 40), close ? QColor(222, 72, 64) : QColor(255, 255, 255, 90),
        close ? QColor(176, 44, 38) : QColor(20, 40, 80, 120), QColor(255, 255, 255, 20)};
    for (int s = 0; s < 4; ++s) {
        const QRectF r(s * w + 0.5, 0.5, w - 1, h - 1);
        p.setPen(QPen(QColor(255, 255, 255, s == 3 ? 60 : 150), 1));
        p.setBrush(faces[s]);
        p.drawRoundedRect(r, 3, 3);
        p.setPen(QPen(s == 3 ? QColor(200, 200, 200) : Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
        const QPointF c = r.center() + QPointF(s == 2 ? 0.5 : 0, s == 2 ? 0.5 : 0);
        if (close) {
            p.drawLine(c + QPointF(-4, -4), c + QPointF(4, 4));
            p.drawLine(c + QPointF(-4, 4), c + QPointF(4, -4));
        } else {
            p.drawLine(c + QPointF(-5, 3), c + QPointF(5, 3));
        }
    }
    return img;
}

QImage Grip()
{
    QImage img = Blank(14, 14);
    QPainter p(&img);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j <= i; ++j) {
            const int x = 10 - j * 4, y = 10 - (i - j) * 4;
            p.fillRect(x + 1, y + 1, 2, 2, QColor(255, 255, 255));
            p.fillRect(x, y, 2, 2, QColor(110, 130, 165));
        }
    return img;
}

QImage AppIcon(int size)
{
    QImage img = Blank(size, size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QLinearGradient g(0, 0, 0, s);
    g.setColorAt(0, QColor(86, 132, 214));
    g.setColorAt(1, QColor(36, 72, 150));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.2, s * 0.2);
    // A camera lens with a red on-air dot.
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(s * 0.45, s * 0.52), s * 0.27, s * 0.27);
    p.setBrush(QColor(36, 72, 150));
    p.drawEllipse(QPointF(s * 0.45, s * 0.52), s * 0.15, s * 0.15);
    p.setBrush(QColor(232, 60, 52));
    p.drawEllipse(QPointF(s * 0.8, s * 0.2), s * 0.12, s * 0.12);
    return img;
}

// Bitmap 130: 16 x 16 member icons on white (white is transparent):
// 0 host (a crowned head), 1 self (a green head), 2 other guest (a blue head).
QImage MemberIcons()
{
    QImage img = Blank(48, 16, Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor colors[3] = {QColor(214, 140, 20), QColor(40, 150, 70), QColor(60, 100, 190)};
    for (int i = 0; i < 3; ++i) {
        const qreal x = i * 16;
        p.setPen(Qt::NoPen);
        p.setBrush(colors[i]);
        p.drawEllipse(QPointF(x + 8, 6.5), 3.2, 3.2);
        QPainterPath body;
        body.moveTo(x + 2.5, 15);
        body.cubicTo(x + 2.5, 9.5, x + 13.5, 9.5, x + 13.5, 15);
        body.closeSubpath();
        p.drawPath(body);
        if (i == 0) {
            QPainterPath crown;
            crown.moveTo(x + 4.5, 3.2);
            crown.lineTo(x + 6, 0.5);
            crown.lineTo(x + 8, 2.2);
            crown.lineTo(x + 10, 0.5);
            crown.lineTo(x + 11.5, 3.2);
            crown.closeSubpath();
            p.setBrush(QColor(240, 190, 30));
            p.drawPath(crown);
        }
    }
    return img;
}

bool Save(const QImage &img, const QString &path)
{
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: MakeSkinImages <skin folder> <ui resource folder>\n");
        return 2;
    }
    const QString skin = QString::fromLocal8Bit(argv[1]);
    const QString res = QString::fromLocal8Bit(argv[2]);
    bool ok = Save(CaptionButton(false), skin + QStringLiteral("/caption_min.png")) &&
              Save(CaptionButton(true), skin + QStringLiteral("/caption_close.png")) &&
              Save(Grip(), skin + QStringLiteral("/size_grip.png")) &&
              Save(AppIcon(16), skin + QStringLiteral("/app_icon.png")) &&
              Save(AppIcon(32), res + QStringLiteral("/velmor.png")) &&
              Save(MemberIcons(), res + QStringLiteral("/userlist.png"));
    return ok ? 0 : 1;
}
