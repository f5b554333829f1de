#pragma once
// Rotary knob with a numeric scale, turned with the mouse, the wheel or the arrow keys.

#include "game/boardsize.h"

#include <QWidget>

namespace zimble::ui {

class Knob : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double value READ value WRITE setValue NOTIFY valueChanged)
    Q_PROPERTY(double minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(double maximum READ maximum WRITE setMaximum)

public:
    explicit Knob(QWidget* parent = nullptr);

    double value() const { return m_value; }
    // Clamped into [minimum, maximum]; emits valueChanged() when the value moves.
    void setValue(double value);

    double minimum() const { return m_min; }
    void setMinimum(double value);
    double maximum() const { return m_max; }
    void setMaximum(double value);

    QSize sizeHint() const override { return QSize(115, 123); }
    QSize minimumSizeHint() const override { return QSize(48, 48); }

signals:
    void valueChanged(double value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The sweep runs from 225 degrees (minimum, lower left) clockwise to -45 degrees (maximum).
    static constexpr double StartAngle = 225.0;
    static constexpr double Sweep = 270.0;

    QPointF centre() const;
    double radius() const;
    double angleFor(double value) const;
    double valueAt(const QPointF& pos) const;
    void stepBy(int steps);

    double m_min = MinBoardSize;
    double m_max = MaxBoardSize;
    double m_value = MinBoardSize;
    bool m_dragging = false;
};

} // namespace zimble::ui
