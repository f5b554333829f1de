#pragma once
// Numeric display in seven-segment style: digits lit on a dark face, unlit segments faintly visible.

#include <QColor>
#include <QWidget>

namespace zimble::ui {

class LedDisplay : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double value READ value WRITE setValue NOTIFY valueChanged)
    Q_PROPERTY(int digitCount READ digitCount WRITE setDigitCount)
    Q_PROPERTY(int decimals READ decimals WRITE setDecimals)
    Q_PROPERTY(QColor litColor READ litColor WRITE setLitColor)

public:
    explicit LedDisplay(QWidget* parent = nullptr);

    double value() const { return m_value; }
    void setValue(double value);

    // Number of character cells (digits and sign); the decimal point takes no cell.
    int digitCount() const { return m_digits; }
    void setDigitCount(int count);
    // Decimal places shown; fewer are shown when the number would not fit.
    int decimals() const { return m_decimals; }
    void setDecimals(int count);

    QColor litColor() const { return m_lit; }
    void setLitColor(const QColor& color);

    // The characters as shown: digits, '-', '.', blanks as ' ', right-aligned in digitCount cells.
    QString displayText() const;

    QSize sizeHint() const override;

signals:
    void valueChanged(double value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_value = 0.0;
    int m_digits = 8;
    int m_decimals = 0;
    QColor m_lit = QColor(255, 48, 32);
};

} // namespace zimble::ui
