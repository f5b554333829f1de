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

    // The focus mark of a button without a caption: a ring of this colour between dark edges,
    // which shows on a black face and on any picture. Captioned buttons get a dotted frame.
    QColor focusColor() const { return m_focusColor; }
    void setFocusColor(const QColor& color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Enter and Return click the button with the focus, once per press, like Space.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void drawFocusMark(QPainter& painter, const QRect& face, const QColor& ink) const;

private:
    QColor m_backColor;
    QPixmap m_picture;
    QColor m_focusColor = QColor(255, 196, 64);
    int m_bevel = 2;
};

} // namespace zimble::ui
