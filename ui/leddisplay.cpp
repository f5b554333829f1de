#include "leddisplay.h"

#include <QAccessible>

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cmath>

namespace zimble::ui {

namespace {

// Segment bits: a top, b upper right, c lower right, d bottom, e lower left, f upper left, g middle.
enum : unsigned { A = 1, B = 2, C = 4, D = 8, E = 16, F = 32, G = 64 };

unsigned segmentsFor(QChar ch)
{
    switch (ch.unicode()) {
    case '0': return A | B | C | D | E | F;
    case '1': return B | C;
    case '2': return A | B | G | E | D;
    case '3': return A | B | G | C | D;
    case '4': return F | G | B | C;
    case '5': return A | F | G | C | D;
    case '6': return A | F | G | E | C | D;
    case '7': return A | B | C;
    case '8': return A | B | C | D | E | F | G;
    case '9': return A | B | C | D | F | G;
    case '-': return G;
    case 'E': return A | D | E | F | G;
    default: return 0;
    }
}

// One segment as a hexagon from p to q with thickness t.
QPainterPath segmentPath(QPointF p, QPointF q, double t)
{
    const QPointF d = q - p;
    const double len = std::hypot(d.x(), d.y());
    const QPointF u = d / len;
    const QPointF n(-u.y(), u.x());
    const double h = t / 2;
    const double gap = t * 0.12;
    QPainterPath path;
    path.moveTo(p + u * gap);
    path.lineTo(p + u * (h + gap) + n * h);
    path.lineTo(q - u * (h + gap) + n * h);
    path.lineTo(q - u * gap);
    path.lineTo(q - u * (h + gap) - n * h);
    path.lineTo(p + u * (h + gap) - n * h);
    path.closeSubpath();
    return path;
}

} // namespace

LedDisplay::LedDisplay(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void LedDisplay::setValue(double value)
{
    if (m_value == value)
        return;
    m_value = value;
    update();
    // A screen reader hears the new number without the focus moving here.
    QAccessibleValueChangeEvent changed(this, value);
    QAccessible::updateAccessibility(&changed);
    emit valueChanged(value);
}

void LedDisplay::setDigitCount(int count)
{
    m_digits = qBound(1, count, 30);
    update();
}

void LedDisplay::setDecimals(int count)
{
    m_decimals = qBound(0, count, 10);
    update();
}

void LedDisplay::setLitColor(const QColor& color)
{
    m_lit = color;
    update();
}

QString LedDisplay::displayText() const
{
    if (!std::isfinite(m_value))
        return QString(m_digits - 1, QLatin1Char(' ')) + QLatin1Char('E');
    auto cells = [](const QString& s) { return int(s.size() - s.count(QLatin1Char('.'))); };
    for (int dec = m_decimals; dec >= 0; --dec) {
        QString s = QString::number(m_value, 'f', dec);
        if (cells(s) <= m_digits)
            return QString(m_digits - cells(s), QLatin1Char(' ')) + s;
    }
    return QString(m_digits - 1, QLatin1Char(' ')) + QLatin1Char('E');
}

QSize LedDisplay::sizeHint() const
{
    return QSize(m_digits * 22 + 16, 48);
}

void LedDisplay::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF r = rect();

    // Bezel and dark glass.
    p.fillRect(r, QColor(0, 0, 0));
    QLinearGradient glass(r.topLeft(), r.bottomLeft());
    glass.setColorAt(0.0, QColor(28, 10, 10));
    glass.setColorAt(1.0, QColor(8, 2, 2));
    const QRectF inner = r.adjusted(2, 2, -2, -2);
    p.setPen(QPen(QColor(70, 70, 76), 1.0));
    p.setBrush(glass);
    p.drawRoundedRect(inner, 3, 3);
    if (hasFocus()) {
        p.setPen(QPen(QColor(m_lit.red(), m_lit.green(), m_lit.blue(), 90), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(inner.adjusted(1, 1, -1, -1), 3, 3);
    }

    const QString text = displayText();
    const double margin = qMax(3.0, inner.height() * 0.12);
    const QRectF area = inner.adjusted(margin, margin, -margin, -margin);
    // Cells keep a 0.55 aspect ratio, as large as the area allows, right-aligned.
    double cellH = area.height();
    double cellW = cellH * 0.55;
    if (cellW * m_digits > area.width()) {
        cellW = area.width() / m_digits;
        cellH = qMin(area.height(), cellW / 0.55);
    }
    const double t = qMax(1.5, cellW * 0.17);
    const double top = area.top() + (area.height() - cellH) / 2;
    const QColor unlit(m_lit.red(), m_lit.green(), m_lit.blue(), 26);

    // A slight forward slant, as on real displays.
    QTransform slant;
    slant.translate(0, top + cellH);
    slant.shear(-0.07, 0);
    slant.translate(0, -(top + cellH));
    p.setTransform(slant, true);

    int cell = m_digits - 1;
    double right = area.right();
    p.setPen(Qt::NoPen);
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        const QChar ch = text.at(i);
        const double x0 = right - cellW * (m_digits - cell);
        if (ch == QLatin1Char('.')) {
            // The point sits at the lower right of the preceding digit's cell.
            p.setBrush(m_lit);
            const double r = qMax(1.6, t * 0.62);
            p.drawEllipse(QPointF(x0 + cellW * 1.01, top + cellH - r), r, r);
            continue;
        }
        const double inset = cellW * 0.14;
        const double xl = x0 + inset, xr = x0 + cellW - inset;
        const double yt = top + t / 2, ym = top + cellH / 2, yb = top + cellH - t / 2;
        const QPointF pts[7][2] = {
            {{xl, yt}, {xr, yt}}, {{xr, yt}, {xr, ym}}, {{xr, ym}, {xr, yb}}, {{xl, yb}, {xr, yb}},
            {{xl, ym}, {xl, yb}}, {{xl, yt}, {xl, ym}}, {{xl, ym}, {xr, ym}},
        };
        const unsigned lit = segmentsFor(ch);
        for (int s = 0; s < 7; ++s) {
            p.setBrush((lit >> s) & 1u ? m_lit : unlit);
            p.drawPath(segmentPath(pts[s][0], pts[s][1], t));
        }
        --cell;
        if (cell < 0)
            break;
    }
}

} // namespace zimble::ui
