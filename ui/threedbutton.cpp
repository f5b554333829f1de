#include "threedbutton.h"

#include "bevel.h"

#include <QKeyEvent>
#include <QPainter>

namespace zimble::ui {

ThreeDButton::ThreeDButton(QWidget* parent)
    : QAbstractButton(parent)
{
    QFont f = font();
    f.setBold(true);
    setFont(f);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

ThreeDButton::ThreeDButton(const QString& caption, QWidget* parent)
    : ThreeDButton(parent)
{
    setText(caption);
}

void ThreeDButton::setBackColor(const QColor& color)
{
    if (m_backColor == color)
        return;
    m_backColor = color;
    update();
}

void ThreeDButton::setPicture(const QPixmap& picture)
{
    m_picture = picture;
    update();
}

void ThreeDButton::setBevelWidth(int width)
{
    m_bevel = qMax(0, width);
    update();
}

void ThreeDButton::setFocusColor(const QColor& color)
{
    m_focusColor = color;
    update();
}

QSize ThreeDButton::sizeHint() const
{
    const QFontMetrics fm(font());
    QString shown = text();
    shown.remove(QLatin1Char('&'));
    return QSize(fm.horizontalAdvance(shown) + 2 * m_bevel + 24, fm.height() + 2 * m_bevel + 10);
}

QSize ThreeDButton::minimumSizeHint() const
{
    return QSize(2 * m_bevel + 4, 2 * m_bevel + 4);
}

void ThreeDButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);

    const QColor face = m_backColor.isValid() ? m_backColor : palette().color(QPalette::Button);
    const QRect r = rect();
    const bool down = isDown() || isChecked();
    p.fillRect(r, face);

    const int inset = m_bevel;
    QRect faceRect = r.adjusted(inset, inset, -inset, -inset);
    if (down)
        faceRect.translate(1, 1);
    if (!m_picture.isNull() && !faceRect.isEmpty())
        p.drawPixmap(QRectF(faceRect), m_picture, QRectF(m_picture.rect()));

    if (r.width() > 2 * inset + 2)
        drawBevel(p, r, m_bevel, !down, face);
    // A thin dark outline keeps buttons distinct on dark backgrounds.
    if (m_bevel > 0) {
        p.setPen(QColor(0, 0, 0, 110));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(0, 0, -1, -1));
    }

    if (!text().isEmpty()) {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setFont(font());
        const int flags = Qt::AlignCenter | Qt::TextShowMnemonic;
        QColor ink = isEnabled() ? palette().color(QPalette::ButtonText) : palette().color(QPalette::Disabled, QPalette::ButtonText);
        if (!m_picture.isNull()) {
            // A soft light halo keeps the caption readable on any texture.
            p.setPen(QColor(255, 255, 255, 150));
            p.drawText(faceRect.translated(1, 1), flags, text());
        }
        p.setPen(ink);
        p.drawText(faceRect, flags, text());
    }

    // Drawn by the button itself, so that it shows whatever the style and however the focus came.
    if (hasFocus())
        drawFocusMark(p, faceRect, palette().color(QPalette::ButtonText));
}

void ThreeDButton::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void ThreeDButton::drawFocusMark(QPainter& p, const QRect& face, const QColor& ink) const
{
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    if (!text().isEmpty()) {
        // A dotted frame just inside the face, around the caption.
        const QRect frame = face.adjusted(3, 3, -4, -4);
        if (frame.width() < 2 || frame.height() < 2)
            return;
        QPen pen(ink, 1);
        pen.setDashPattern({1, 1});
        p.setPen(pen);
        p.drawRect(frame);
        return;
    }
    // A lit ring two pixels wide between dark one-pixel edges.
    const QRect outer = face.adjusted(1, 1, -2, -2);
    if (outer.width() < 8 || outer.height() < 8)
        return;
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.drawRect(outer);
    p.drawRect(outer.adjusted(3, 3, -3, -3));
    p.setPen(QPen(m_focusColor, 1));
    p.drawRect(outer.adjusted(1, 1, -1, -1));
    p.drawRect(outer.adjusted(2, 2, -2, -2));
}

} // namespace zimble::ui
