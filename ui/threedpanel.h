#pragma once
// Bevelled 3-D panel with a centred, word-wrapped caption; may hold child controls.

#include <QColor>
#include <QWidget>

namespace zimble::ui {

class ThreeDPanel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString caption READ caption WRITE setCaption)
    Q_PROPERTY(QColor backColor READ backColor WRITE setBackColor)
    Q_PROPERTY(QColor foreColor READ foreColor WRITE setForeColor)
    Q_PROPERTY(int bevelWidth READ bevelWidth WRITE setBevelWidth)

public:
    explicit ThreeDPanel(QWidget* parent = nullptr);
    explicit ThreeDPanel(const QString& caption, QWidget* parent = nullptr);

    QString caption() const { return m_caption; }
    void setCaption(const QString& caption);
    // Whether the whole caption, wrapped at word boundaries, fits inside the bevel.
    bool captionFits() const;

    QColor backColor() const;
    void setBackColor(const QColor& color);
    QColor foreColor() const;
    void setForeColor(const QColor& color);

    int bevelWidth() const { return m_bevel; }
    void setBevelWidth(int width);

    QSize sizeHint() const override;

protected:
    QRect captionRect() const;
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_caption;
    int m_bevel = 1;
};

} // namespace zimble::ui
