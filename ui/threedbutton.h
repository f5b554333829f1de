#pragma once
// Raised 3-D command button: bevelled face, optional picture filling the face under a bold caption.

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>

namespace zimble::ui {

class ThreeDButton : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(QString caption READ text WRITE setText)
    Q_PROPERTY(QColor backColor READ backColor WRITE setBackColor)
    Q_PROPERTY(QPixmap picture READ picture WRITE setPicture)
    Q_PROPERTY(int bevelWidth READ bevelWidth WRITE setBevelWidth)

public:
    explicit ThreeDButton(QWidget* parent = nullptr);
    explicit ThreeDButton(const QString& caption, QWidget* parent = nullptr);

    QColor backColor() const { return m_backColor; }
    void setBackColor(const QColor& color);

    // An empty pixmap clears the face picture.
    QPixmap picture() const { return m_picture; }
    void setPicture(const QPixmap& picture);

    int bevelWidth() const { return m_bevel; }
    void setBevelWidth(int width);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_backColor;
    QPixmap m_picture;
    int m_bevel = 2;
};

} // namespace zimble::ui
