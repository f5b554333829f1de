#include "knob.h"

#include "game/fixedpoint.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <QtMath>

namespace zimble::ui {

Knob::Knob(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
}

void Knob::setValue(double value)
{
    value = qBound(m_min, value, m_max);
    if (qFuzzyCompare(value + 1.0, m_value + 1.0))
        return;
    m_value = value;
    update();
    QAccessibleValueChangeEvent changed(this, m_value);
    QAccessible::updateAccessibility(&changed);
    emit valueChanged(m_value);
}

void Knob::setMinimum(double value)
{
    m_min = value;
    m_max = qMax(m_max, m_min);
    setValue(m_value);
    update();
}

void Knob::setMaximum(double value)
{
    m_max = value;
    m_min = qMin(m_min, m_max);
    setValue(m_value);
    update();
}

QPointF Knob::centre() const
{
    return QPointF(width() / 2.0, height() / 2.0);
}

double Knob::radius() const
{
    return qMin(width(), height()) / 2.0 - 2.0;
}

double Knob::angleFor(double value) const
{
    const double span = m_max - m_min;
    const double t = span > 0 ? (value - m_min) / span : 0.0;
    return StartAngle - t * Sweep;
}

double Knob::valueAt(const QPointF& pos) const
{
    const QPointF d = pos - centre();
    // Mathematical angle, counter-clockwise from 3 o'clock, screen y pointing down.
    double a = qRadiansToDegrees(qAtan2(-d.y(), d.x()));
    // Measure clockwise from the start of the sweep.
    double fromStart = StartAngle - a;
    while (fromStart < 0)
        fromStart += 360.0;
    while (fromStart >= 360.0)
        fromStart -= 360.0;
    if (fromStart > Sweep) // in the dead zone at the bottom: snap to the nearer end
        fromStart = fromStart - Sweep < (360.0 - Sweep) / 2 ? Sweep : 0.0;
    return m_min + (fromStart / Sweep) * (m_max - m_min);
}

void Knob::stepBy(int steps)
{
    setValue(roundHalfEven(m_value) + steps);
}

void Knob::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_dragging = true;
    setValue(valueAt(event->position()));
}

void Knob::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging)
        setValue(valueAt(event->position()));
}

void Knob::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_dragging) {
        m_dragging = false;
        // Settle on the nearest detent.
        setValue(roundHalfEven(m_value));
    }
}

void Knob::wheelEvent(QWheelEvent* event)
{
    const int delta = event->angleDelta().y();
    if (delta != 0)
        stepBy(delta > 0 ? 1 : -1);
    event->accept();
}

void Knob::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Plus:
        stepBy(1);
        break;
    case Qt::Key_Left:
    case Qt::Key_Down:
    case Qt::Key_Minus:
        stepBy(-1);
        break;
    case Qt::Key_Home:
        setValue(m_min);
        break;
    case Qt::Key_End:
        setValue(m_max);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void Knob::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QPointF c = centre();
    const double R = radius();
    const double knobR = R * 0.62;

    // Scale: a tick and a number for every whole value.
    QFont f = font();
    f.setBold(true);
    f.setPixelSize(qMax(8, int(R * 0.24)));
    p.setFont(f);
    const QColor scaleInk(235, 235, 235);
    for (int v = int(std::ceil(m_min)); v <= int(std::floor(m_max)); ++v) {
        const double a = qDegreesToRadians(angleFor(v));
        const QPointF dir(qCos(a), -qSin(a));
        const bool current = roundHalfEven(m_value) == v;
        p.setPen(QPen(current ? QColor(255, 196, 64) : scaleInk, 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(c + dir * (knobR + 3), c + dir * (knobR + R * 0.12));
        const QPointF label = c + dir * (knobR + R * 0.27);
        const QRectF box(label.x() - R * 0.2, label.y() - R * 0.15, R * 0.4, R * 0.3);
        p.drawText(box, Qt::AlignCenter, QString::number(v));
    }

    // Body: a machined cap with a soft drop shadow.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 120));
    p.drawEllipse(c + QPointF(1.5, 2.5), knobR, knobR);
    QRadialGradient body(c - QPointF(knobR * 0.35, knobR * 0.45), knobR * 1.6);
    body.setColorAt(0.0, QColor(130, 134, 142));
    body.setColorAt(0.55, QColor(64, 68, 76));
    body.setColorAt(1.0, QColor(22, 24, 28));
    p.setBrush(body);
    p.setPen(QPen(QColor(10, 10, 12), 1.2));
    p.drawEllipse(c, knobR, knobR);
    QConicalGradient sheen(c, 45);
    sheen.setColorAt(0.0, QColor(255, 255, 255, 40));
    sheen.setColorAt(0.25, QColor(255, 255, 255, 0));
    sheen.setColorAt(0.5, QColor(255, 255, 255, 40));
    sheen.setColorAt(0.75, QColor(255, 255, 255, 0));
    sheen.setColorAt(1.0, QColor(255, 255, 255, 40));
    p.setBrush(sheen);
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, knobR * 0.8, knobR * 0.8);

    // Pointer.
    const double a = qDegreesToRadians(angleFor(m_value));
    const QPointF dir(qCos(a), -qSin(a));
    p.setPen(QPen(QColor(255, 196, 64), qMax(2.0, knobR * 0.12), Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + dir * (knobR * 0.25), c + dir * (knobR * 0.85));

    if (hasFocus()) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(255, 196, 64, 160), 1.0, Qt::DotLine));
        p.drawEllipse(c, knobR + 2, knobR + 2);
    }
}

} // namespace zimble::ui
