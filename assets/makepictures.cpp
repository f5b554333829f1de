// Paints every picture the game ships: the three board pictures, the title picture, the button
// textures, the reset picture and the program icon. Deterministic: the same files every run.
//
// Usage: zimble-makepictures OUTPUT_DIR

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QSvgRenderer>
#include <QtMath>

#include <cstdio>

namespace {

bool save(const QString& outDir, const QImage& image, const QString& name, int quality = 92)
{
    const QString path = outDir + QLatin1Char('/') + name;
    if (!image.save(path, nullptr, quality)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s %dx%d\n", qPrintable(name), image.width(), image.height());
    return true;
}

QImage canvas(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::black);
    return img;
}

// A glossy bevelled tile: gradient body, light top-left rim, dark bottom-right rim.
void tileBase(QPainter& p, const QRectF& r, const QColor& light, const QColor& dark)
{
    QRadialGradient g(r.topLeft() + QPointF(r.width() * 0.3, r.height() * 0.25), r.width() * 1.1);
    g.setColorAt(0.0, light);
    g.setColorAt(1.0, dark);
    p.fillRect(r, g);
    const double b = r.width() * 0.045;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 90));
    p.drawPolygon(QPolygonF({r.topLeft(), r.topRight(), r.topRight() + QPointF(-b, b), r.topLeft() + QPointF(b, b),
                             r.bottomLeft() + QPointF(b, -b), r.bottomLeft()}));
    p.setBrush(QColor(0, 0, 0, 110));
    p.drawPolygon(QPolygonF({r.bottomRight(), r.bottomLeft(), r.bottomLeft() + QPointF(b, -b),
                             r.bottomRight() + QPointF(-b, -b), r.topRight() + QPointF(-b, b), r.topRight()}));
}

QPainterPath star(QPointF c, double outer, double inner, int points, double rotation)
{
    QPainterPath path;
    for (int i = 0; i < points * 2; ++i) {
        const double a = qDegreesToRadians(rotation + 180.0 * i / points);
        const double r = i % 2 == 0 ? outer : inner;
        const QPointF pt = c + QPointF(qCos(a) * r, qSin(a) * r);
        if (i == 0)
            path.moveTo(pt);
        else
            path.lineTo(pt);
    }
    path.closeSubpath();
    return path;
}

// First picture: a silver star on sapphire.
QImage tessa1(int s)
{
    QImage img = canvas(s, s);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(0, 0, s, s);
    tileBase(p, r, QColor(86, 150, 255), QColor(10, 30, 110));
    const QPointF c(s / 2.0, s / 2.0);
    p.setPen(QPen(QColor(180, 210, 255, 120), s * 0.012));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, s * 0.38, s * 0.38);
    QLinearGradient metal(r.topLeft(), r.bottomRight());
    metal.setColorAt(0.0, QColor(255, 255, 255));
    metal.setColorAt(0.5, QColor(196, 214, 240));
    metal.setColorAt(1.0, QColor(120, 140, 180));
    p.setPen(QPen(QColor(20, 40, 100), s * 0.01));
    p.setBrush(metal);
    p.drawPath(star(c, s * 0.34, s * 0.13, 8, -90));
    p.setBrush(QColor(30, 70, 170));
    p.drawEllipse(c, s * 0.06, s * 0.06);
    return img;
}

// Second picture: a six-petal flower on emerald.
QImage tessa2(int s)
{
    QImage img = canvas(s, s);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(0, 0, s, s);
    tileBase(p, r, QColor(90, 220, 140), QColor(6, 80, 40));
    const QPointF c(s / 2.0, s / 2.0);
    for (int i = 0; i < 6; ++i) {
        p.save();
        p.translate(c);
        p.rotate(60.0 * i);
        QLinearGradient petal(QPointF(0, 0), QPointF(0, -s * 0.36));
        petal.setColorAt(0.0, QColor(255, 250, 200));
        petal.setColorAt(1.0, QColor(255, 200, 60));
        p.setBrush(petal);
        p.setPen(QPen(QColor(120, 80, 0), s * 0.008));
        p.drawEllipse(QRectF(-s * 0.085, -s * 0.37, s * 0.17, s * 0.3));
        p.restore();
    }
    QRadialGradient heart(c, s * 0.1);
    heart.setColorAt(0.0, QColor(255, 120, 40));
    heart.setColorAt(1.0, QColor(170, 40, 0));
    p.setBrush(heart);
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, s * 0.1, s * 0.1);
    return img;
}

// Third picture: a faceted gem on ruby.
QImage tessa3(int s)
{
    QImage img = canvas(s, s);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(0, 0, s, s);
    tileBase(p, r, QColor(255, 110, 90), QColor(110, 0, 20));
    const double cx = s / 2.0;
    const QPointF left(s * 0.16, s * 0.42), right(s * 0.84, s * 0.42), bottom(cx, s * 0.86);
    const QPointF tl(s * 0.34, s * 0.16), tr(s * 0.66, s * 0.16);
    const QPointF ml(s * 0.36, s * 0.42), mr(s * 0.64, s * 0.42);
    auto facet = [&](std::initializer_list<QPointF> pts, const QColor& col) {
        p.setBrush(col);
        p.setPen(QPen(QColor(255, 255, 255, 160), s * 0.006));
        p.drawPolygon(QPolygonF(pts));
    };
    facet({tl, tr, mr, ml}, QColor(255, 250, 250));
    facet({tl, ml, left}, QColor(230, 236, 255));
    facet({tr, right, mr}, QColor(190, 200, 230));
    facet({left, ml, bottom}, QColor(210, 220, 245));
    facet({ml, mr, bottom}, QColor(240, 244, 255));
    facet({mr, right, bottom}, QColor(150, 165, 205));
    return img;
}

// Painted at twice its 414 x 314 design size, so that it stays crisp on a screen scaled by 2.
QImage title()
{
    QImage img = canvas(2 * 414, 2 * 314);
    QPainter p(&img);
    p.scale(2, 2);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QLinearGradient sky(0, 0, 0, 314);
    sky.setColorAt(0.0, QColor(20, 16, 60));
    sky.setColorAt(1.0, QColor(70, 20, 90));
    p.fillRect(QRect(0, 0, 414, 314), sky);

    // A board in perspective, some tiles turned, one shrinking away.
    const QImage faces[3] = {tessa1(128), tessa2(128), tessa3(128)};
    const int pattern[16] = {0, 1, 2, 0, 2, -1, 1, 0, 1, 0, 3, 2, -1, 2, 0, 1};
    p.save();
    QTransform persp;
    QTransform::quadToQuad(QPolygonF({QPointF(-160, -160), QPointF(160, -160), QPointF(160, 160), QPointF(-160, 160)}),
                           QPolygonF({QPointF(122, 172), QPointF(292, 172), QPointF(392, 304), QPointF(22, 304)}), persp);
    p.setTransform(persp, true);
    for (int i = 0; i < 16; ++i) {
        const QRectF cell(-160 + (i % 4) * 80 + 2, -160 + (i / 4) * 80 + 2, 76, 76);
        if (pattern[i] < 0)
            p.fillRect(cell, QColor(0, 0, 0));
        else if (pattern[i] == 3)
            p.fillRect(cell.adjusted(24, 24, -24, -24), QColor(40, 40, 48));
        else
            p.drawImage(cell, faces[pattern[i]]);
    }
    p.restore();

    QFont f(QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    f.setPixelSize(74);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 4);
    QPainterPath text;
    text.addText(0, 0, f, QStringLiteral("ZIMBLE"));
    const QRectF tb = text.boundingRect();
    text.translate(207 - tb.center().x(), 92 - tb.center().y());
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 140));
    p.drawPath(text.translated(3, 4));
    QLinearGradient gold(0, 50, 0, 130);
    gold.setColorAt(0.0, QColor(255, 240, 160));
    gold.setColorAt(0.5, QColor(255, 190, 40));
    gold.setColorAt(1.0, QColor(200, 100, 10));
    p.setBrush(gold);
    p.setPen(QPen(QColor(90, 40, 0), 1.5));
    p.drawPath(text);

    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(17);
    sub.setItalic(true);
    p.setFont(sub);
    p.setPen(QColor(220, 220, 255));
    p.drawText(QRectF(0, 132, 414, 24), Qt::AlignCenter, QStringLiteral("What is your ZQ?"));
    return img;
}

QImage texture(int w, int h, quint32 seed)
{
    QImage img = canvas(w, h);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0.0, QColor(246, 240, 228));
    g.setColorAt(0.5, QColor(222, 212, 194));
    g.setColorAt(1.0, QColor(196, 184, 164));
    p.fillRect(img.rect(), g);
    QRandomGenerator rng(seed);
    for (int y = 0; y < h; ++y) {
        for (int i = 0; i < w / 6; ++i) {
            const int x = int(rng.bounded(w));
            const int len = 4 + int(rng.bounded(18));
            const int a = 10 + int(rng.bounded(24));
            p.setPen(rng.bounded(2) ? QColor(255, 255, 255, a) : QColor(90, 70, 40, a / 2));
            p.drawLine(x, y, x + len, y);
        }
    }
    return img;
}

// Painted at twice its 106 x 106 design size, like the title picture.
QImage resetPicture()
{
    const int s = 2 * 106;
    QImage img = canvas(s, s);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient bg(QPointF(s * 0.35, s * 0.3), s);
    bg.setColorAt(0.0, QColor(90, 90, 100));
    bg.setColorAt(1.0, QColor(14, 14, 18));
    p.fillRect(img.rect(), bg);
    const QPointF c(s / 2.0, s / 2.0);
    const double R = s * 0.3;
    QPen arc(QColor(255, 190, 50), s * 0.1, Qt::SolidLine, Qt::FlatCap);
    p.setPen(arc);
    p.drawArc(QRectF(c.x() - R, c.y() - R, 2 * R, 2 * R), 110 * 16, 290 * 16);
    // Arrow head at the arc's start, pointing on round the circle.
    const double a = qDegreesToRadians(110.0);
    const QPointF tip = c + QPointF(qCos(a) * R, -qSin(a) * R);
    QPainterPath head;
    head.moveTo(tip + QPointF(-s * 0.13, -s * 0.02));
    head.lineTo(tip + QPointF(s * 0.05, -s * 0.13));
    head.lineTo(tip + QPointF(s * 0.06, s * 0.1));
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 190, 50));
    p.drawPath(head);
    return img;
}

const char* IconSvg = R"svg(<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
  <defs>
    <linearGradient id="bg" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#2a2170"/>
      <stop offset="1" stop-color="#12102e"/>
    </linearGradient>
    <radialGradient id="blue" cx="0.3" cy="0.25" r="1">
      <stop offset="0" stop-color="#5696ff"/><stop offset="1" stop-color="#0a1e6e"/>
    </radialGradient>
    <radialGradient id="green" cx="0.3" cy="0.25" r="1">
      <stop offset="0" stop-color="#5adc8c"/><stop offset="1" stop-color="#065028"/>
    </radialGradient>
    <radialGradient id="red" cx="0.3" cy="0.25" r="1">
      <stop offset="0" stop-color="#ff6e5a"/><stop offset="1" stop-color="#6e0014"/>
    </radialGradient>
  </defs>
  <rect x="8" y="8" width="240" height="240" rx="44" fill="url(#bg)"/>
  <rect x="34" y="34" width="56" height="56" rx="8" fill="url(#blue)"/>
  <rect x="100" y="34" width="56" height="56" rx="8" fill="url(#green)"/>
  <rect x="166" y="34" width="56" height="56" rx="8" fill="url(#red)"/>
  <rect x="34" y="100" width="56" height="56" rx="8" fill="url(#red)"/>
  <rect x="100" y="100" width="56" height="56" rx="8" fill="url(#blue)"/>
  <rect x="180" y="114" width="28" height="28" rx="5" fill="url(#green)"/>
  <rect x="34" y="166" width="56" height="56" rx="8" fill="url(#green)"/>
  <rect x="100" y="166" width="56" height="56" rx="8" fill="url(#red)"/>
  <rect x="166" y="166" width="56" height="56" rx="8" fill="url(#blue)"/>
  <path d="M128 46 l5 12 13 1 -10 8 3 13 -11 -7 -11 7 3 -13 -10 -8 13 -1z" fill="#ffffff" opacity="0.9"/>
</svg>
)svg";

bool icons(const QString& outDir)
{
    const QString svgPath = outDir + QStringLiteral("/zimble.svg");
    QFile svg(svgPath);
    if (!svg.open(QIODevice::WriteOnly | QIODevice::Truncate) || svg.write(IconSvg) < 0)
        return false;
    svg.close();
    std::printf("zimble.svg\n");
    QSvgRenderer renderer{QByteArray(IconSvg)};
    for (int size : {16, 22, 32, 48, 64, 128, 256}) {
        QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        renderer.render(&p);
        p.end();
        if (!save(outDir, img, QStringLiteral("zimble-%1.png").arg(size), -1))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outDir);
    bool ok = save(outDir, tessa1(256), QStringLiteral("tessa1.jpg")) && save(outDir, tessa2(256), QStringLiteral("tessa2.jpg"))
        && save(outDir, tessa3(256), QStringLiteral("tessa3.jpg")) && save(outDir, title(), QStringLiteral("title.jpg"))
        && save(outDir, texture(76, 26, 76), QStringLiteral("button.jpg"))
        && save(outDir, texture(167, 26, 167), QStringLiteral("button-wide.jpg"))
        && save(outDir, resetPicture(), QStringLiteral("reset.jpg")) && icons(outDir);
    return ok ? 0 : 1;
}
