// Draws the program's built-in pictures: the 350 x 250 skin of the main
// window (written as JPEG), the 32 x 32 icon (written as ICO) and the same
// icon's artwork at 32, 48, 64, 128 and 256 pixels for the desktop's icon
// theme (icons/fetchlet-SIZE.png).
// Build and run once when the pictures change:
//   g++ -std=c++20 -fPIC make_art.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make_art
//   QT_QPA_PLATFORM=offscreen /tmp/make_art ../../app/resources
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

static void cloud(QPainter& p, QPointF c, double s, QColor color)
{
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    path.addEllipse(c + QPointF(-30 * s, 0), 26 * s, 18 * s);
    path.addEllipse(c + QPointF(0, -12 * s), 30 * s, 26 * s);
    path.addEllipse(c + QPointF(30 * s, 2 * s), 24 * s, 17 * s);
    path.addRoundedRect(QRectF(c.x() - 52 * s, c.y() - 2 * s, 104 * s, 20 * s), 10 * s, 10 * s);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(path.simplified());
}

static void arrow(QPainter& p, QPointF c, double s, QColor color)
{
    QPainterPath a;
    a.moveTo(c + QPointF(-7 * s, -22 * s));
    a.lineTo(c + QPointF(7 * s, -22 * s));
    a.lineTo(c + QPointF(7 * s, 0));
    a.lineTo(c + QPointF(17 * s, 0));
    a.lineTo(c + QPointF(0, 18 * s));
    a.lineTo(c + QPointF(-17 * s, 0));
    a.lineTo(c + QPointF(-7 * s, 0));
    a.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(a);
}

// The icon's artwork, drawn on a 32 x 32 grid and scaled to size.
static QImage drawIcon(int size)
{
    QImage icon(size, size, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    QPainter q(&icon);
    q.setRenderHint(QPainter::Antialiasing);
    q.scale(size / 32.0, size / 32.0);
    QLinearGradient g(0, 0, 0, 32);
    g.setColorAt(0, QColor(0x3f, 0x86, 0xc8));
    g.setColorAt(1, QColor(0x1f, 0x4e, 0x96));
    q.setBrush(g);
    q.setPen(QPen(QColor(0x15, 0x36, 0x6a), 1));
    q.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 6, 6);
    arrow(q, {16, 15}, 0.62, QColor(255, 255, 255));
    q.fillRect(QRectF(8, 25, 16, 2.5), QColor(255, 255, 255));
    q.end();
    return icon;
}

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");

    QImage skin(350, 250, QImage::Format_RGB32);
    QPainter p(&skin);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 175);
    sky.setColorAt(0, QColor(0x1f, 0x4e, 0x96));
    sky.setColorAt(0.6, QColor(0x3f, 0x86, 0xc8));
    sky.setColorAt(1, QColor(0x86, 0xc2, 0xe8));
    p.fillRect(0, 0, 350, 175, sky);
    QRadialGradient sun(300, 30, 90);
    sun.setColorAt(0, QColor(255, 244, 214, 200));
    sun.setColorAt(0.25, QColor(255, 230, 170, 90));
    sun.setColorAt(1, QColor(255, 230, 170, 0));
    p.fillRect(0, 0, 350, 175, sun);
    // distant hills
    QPainterPath hills;
    hills.moveTo(0, 175);
    hills.cubicTo(60, 140, 120, 160, 170, 150);
    hills.cubicTo(230, 138, 290, 160, 350, 145);
    hills.lineTo(350, 175);
    hills.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2d, 0x6e, 0x8e, 150));
    p.drawPath(hills);
    cloud(p, {70, 122}, 0.55, QColor(255, 255, 255, 70));
    cloud(p, {300, 112}, 0.45, QColor(255, 255, 255, 60));
    // the big cloud with the arrow
    cloud(p, {262, 78}, 1.0, QColor(0, 30, 70, 60));
    cloud(p, {258, 72}, 1.0, QColor(250, 252, 255));
    arrow(p, {258, 74}, 1.0, QColor(0x2f, 0x7c, 0xd0));
    // title
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(34);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(0, 20, 60, 110));
    p.drawText(QPointF(22, 58), QStringLiteral("Fetchlet"));
    p.setPen(QColor(255, 255, 255));
    p.drawText(QPointF(20, 56), QStringLiteral("Fetchlet"));
    QFont sub(QStringLiteral("IPAPGothic"));
    sub.setPixelSize(13);
    p.setFont(sub);
    p.setPen(QColor(230, 242, 255));
    p.drawText(QPointF(22, 80), QStringLiteral("ワンクリック・ダウンローダー"));
    // status panel
    QLinearGradient panel(0, 172, 0, 250);
    // Mid-blue where the status label sits (legible in black, the form's
    // colour, and in white, the configured default), darker below for the
    // white progress text.
    panel.setColorAt(0, QColor(0x74, 0x94, 0xc4));
    panel.setColorAt(0.3, QColor(0x5f, 0x80, 0xb4));
    panel.setColorAt(0.65, QColor(0x3a, 0x57, 0x8a));
    panel.setColorAt(1, QColor(0x1f, 0x33, 0x5a));
    p.fillRect(0, 175, 350, 75, panel);
    p.fillRect(0, 175, 350, 1, QColor(255, 255, 255, 200));
    p.fillRect(0, 176, 350, 1, QColor(0x1f, 0x4e, 0x96, 120));
    p.end();
    skin.save(out + QStringLiteral("/skin.jpg"), "JPEG", 92);

    const QImage icon = drawIcon(32);
    icon.save(out + QStringLiteral("/icon.ico"), "ICO");
    QDir(out).mkpath(QStringLiteral("icons"));
    for (int size : {32, 48, 64, 128, 256})
        drawIcon(size).save(out + QStringLiteral("/icons/fetchlet-%1.png").arg(size), "PNG");
    return 0;
}
