#pragma once
// Analog gauge: one round dial carrying several needles, each with its own scale.
// Needles are numbered from 0; each holds a value on its own scale.

#include <QVector>

#include <functional>
#include <QWidget>

namespace zimble::ui {

class AnalogGauge : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int needleCount READ needleCount WRITE setNeedleCount)

public:
    explicit AnalogGauge(QWidget* parent = nullptr);

    int needleCount() const { return int(m_needles.size()); }
    void setNeedleCount(int count);

    // The value of needle `needle`; 0 for a needle that does not exist.
    double needleValue(int needle) const;
    // Sets needle `needle`; a needle that does not exist is ignored.
    void setNeedleValue(int needle, double value);

    // One full turn of needle i covers `positions` steps starting at 0 (a clock-style scale).
    void setNeedleScale(int needle, double positions);
    void setNeedleColor(int needle, const QColor& color);
    // Needle length as a fraction of the dial radius.
    void setNeedleLength(int needle, double fraction);

    // What the gauge reads, for a screen reader: a number and its words ("12.3 seconds"), as
    // the owner computes them from the needles; needle 0's value by default.
    void setReading(std::function<double()> reading, std::function<QString(double)> words);
    double reading() const;
    QString readingText() const;

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
    std::function<double()> m_reading;
    std::function<QString(double)> m_readingWords;
};

} // namespace zimble::ui
