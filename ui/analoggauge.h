#pragma once
// Analog gauge: one round dial carrying several needles, each with its own scale.
// A needle is addressed by first setting NeedleIndex, then reading or writing NeedleValue.

#include <QVector>
#include <QWidget>

namespace zimble::ui {

class AnalogGauge : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int NeedleIndex READ needleIndex WRITE setNeedleIndex)
    Q_PROPERTY(double NeedleValue READ needleValue WRITE setNeedleValue)
    Q_PROPERTY(int needleCount READ needleCount WRITE setNeedleCount)

public:
    explicit AnalogGauge(QWidget* parent = nullptr);

    int needleCount() const { return int(m_needles.size()); }
    void setNeedleCount(int count);

    qint16 needleIndex() const { return m_index; }
    void setNeedleIndex(int index);

    double needleValue() const;
    void setNeedleValue(double value);

    // One full turn of needle i covers `positions` steps starting at 0 (a clock-style scale).
    void setNeedleScale(int needle, double positions);
    void setNeedleColor(int needle, const QColor& color);
    // Needle length as a fraction of the dial radius.
    void setNeedleLength(int needle, double fraction);

    QSize sizeHint() const override { return QSize(135, 122); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Needle {
        double value = 0.0;
        double positions = 60.0;
        QColor color = Qt::white;
        double length = 0.8;
    };
    QVector<Needle> m_needles;
    qint16 m_index = 0;
};

} // namespace zimble::ui
