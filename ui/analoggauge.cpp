#include "analoggauge.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace zimble::ui {

AnalogGauge::AnalogGauge(QWidget* parent)
    : QWidget(parent)
{
    setNeedleCount(3);
}

void AnalogGauge::setNeedleCount(int count)
{
    m_needles.resize(qMax(1, count));
    update();
}

void AnalogGauge::setReading(std::function<double()> reading, std::function<QString(double)> words)
{
    m_reading = std::move(reading);
    m_readingWords = std::move(words);
}

double AnalogGauge::reading() const
{
    return m_reading ? m_reading() : needleValue(0);
}

QString AnalogGauge::readingText() const
{
    const double r = reading();
    return m_readingWords ? m_readingWords(r) : QString::number(r);
}

double AnalogGauge::needleValue(int needle) const
{
    return needle >= 0 && needle < m_needles.size() ? m_needles[needle].value : 0.0;
}

void AnalogGauge::setNeedleValue(int needle, double value)
{
    if (needle < 0 || needle >= m_needles.size() || m_needles[needle].value == value)
        return;
    m_needles[needle].value = value;
    update();
}

void AnalogGauge::setNeedleScale(int needle, double positions)
{
    if (needle >= 0 && needle < m_needles.size() && positions > 0) {
        m_needles[needle].positions = positions;
        update();
    }
}

void AnalogGauge::setNeedleColor(int needle, const QColor& color)
{
    if (needle >= 0 && needle < m_needles.size()) {
        m_needles[needle].color = color;
        update();
    }
}

void AnalogGauge::setNeedleLength(int needle, double fraction)
{
    if (needle >= 0 && needle < m_needles.size()) {
        m_needles[needle].length = qBound(0.1, fraction, 1.0);
        update();
    }
}

void AnalogGauge::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QPointF c(width() / 2.0, height() / 2.0);
    const double R = qMin(width(), height()) / 2.0 - 2.0;
    if (R <= 4)
        return;

    // Bezel and face.
    QLinearGradient bezel(c - QPointF(R, R), c + QPointF(R, R));
    bezel.setColorAt(0.0, QColor(200, 204, 212));
    bezel.setColorAt(0.5, QColor(96, 100, 108));
    bezel.setColorAt(1.0, QColor(40, 42, 46));
    p.setPen(Qt::NoPen);
    p.setBrush(bezel);
    p.drawEllipse(c, R, R);
    const double faceR = R * 0.9;
    QRadialGradient face(c - QPointF(0, faceR * 0.3), faceR * 1.3);
    face.setColorAt(0.0, QColor(34, 40, 52));
    face.setColorAt(1.0, QColor(8, 10, 14));
    p.setBrush(face);
    p.drawEllipse(c, faceR, faceR);

    // Ticks on the scale of the first needle (the clock's middle needle: 61 positions).
    const double positions = m_needles.isEmpty() ? 60.0 : m_needles[0].positions;
    const int ticks = qBound(4, int(positions), 120);
    for (int i = 0; i < ticks; ++i) {
        const double a = qDegreesToRadians(90.0 - 360.0 * i / ticks);
        const QPointF dir(qCos(a), -qSin(a));
        const bool major = i % 5 == 0;
        p.setPen(QPen(major ? QColor(230, 232, 236) : QColor(120, 128, 140), major ? 1.6 : 0.8));
        p.drawLine(c + dir * faceR * (major ? 0.80 : 0.87), c + dir * faceR * 0.95);
    }

    // Needles, last one drawn first so that needle 0 lies on top.
    for (int n = int(m_needles.size()) - 1; n >= 0; --n) {
        const Needle& nd = m_needles[n];
        const double a = qDegreesToRadians(90.0 - 360.0 * nd.value / nd.positions);
        const QPointF dir(qCos(a), -qSin(a));
        const QPointF side(-dir.y(), dir.x());
        const double len = faceR * nd.length;
        const double w = qMax(1.2, faceR * 0.045);
        QPainterPath path;
        path.moveTo(c - dir * len * 0.18 + side * w * 0.6);
        path.lineTo(c + dir * len);
        path.lineTo(c - dir * len * 0.18 - side * w * 0.6);
        path.closeSubpath();
        p.setPen(QPen(nd.color.darker(160), 0.8));
        p.setBrush(nd.color);
        p.drawPath(path);
    }
    // Hub.
    QRadialGradient hub(c, faceR * 0.1);
    hub.setColorAt(0.0, QColor(240, 240, 240));
    hub.setColorAt(1.0, QColor(90, 90, 96));
    p.setPen(Qt::NoPen);
    p.setBrush(hub);
    p.drawEllipse(c, faceR * 0.08, faceR * 0.08);
}

} // namespace zimble::ui
