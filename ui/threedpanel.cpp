#include "threedpanel.h"

#include <QAccessible>

#include "bevel.h"

#include <QPainter>

namespace zimble::ui {

ThreeDPanel::ThreeDPanel(QWidget* parent)
    : QWidget(parent)
{
    QFont f = font();
    f.setBold(true);
    setFont(f);
    setAutoFillBackground(false);
}

ThreeDPanel::ThreeDPanel(const QString& caption, QWidget* parent)
    : ThreeDPanel(parent)
{
    setCaption(caption);
}

void ThreeDPanel::setCaption(const QString& caption)
{
    if (m_caption == caption)
        return;
    m_caption = caption;
    update();
    QAccessibleEvent changed(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
}

QColor ThreeDPanel::backColor() const
{
    return palette().color(QPalette::Window);
}

void ThreeDPanel::setBackColor(const QColor& color)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, color);
    setPalette(pal);
    update();
}

QColor ThreeDPanel::foreColor() const
{
    return palette().color(QPalette::WindowText);
}

void ThreeDPanel::setForeColor(const QColor& color)
{
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, color);
    setPalette(pal);
    update();
}

void ThreeDPanel::setBevelWidth(int width)
{
    m_bevel = qMax(0, width);
    update();
}

QSize ThreeDPanel::sizeHint() const
{
    const QFontMetrics fm(font());
    const QRect text = fm.boundingRect(QRect(0, 0, 300, 1000), Qt::AlignCenter | Qt::TextWordWrap, m_caption);
    return text.size() + QSize(2 * m_bevel + 8, 2 * m_bevel + 6);
}

QRect ThreeDPanel::captionRect() const
{
    const int pad = m_bevel + 3;
    return rect().adjusted(pad, m_bevel, -pad, -m_bevel);
}

bool ThreeDPanel::captionFits() const
{
    const QRect area = captionRect();
    const QRect needed = QFontMetrics(font()).boundingRect(area, Qt::AlignCenter | Qt::TextWordWrap, m_caption);
    return needed.width() <= area.width() && needed.height() <= area.height();
}

void ThreeDPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QColor face = backColor();
    p.fillRect(rect(), face);
    drawBevel(p, rect(), m_bevel, true, face);
    if (!m_caption.isEmpty()) {
        p.setRenderHint(QPainter::TextAntialiasing, true);
        p.setPen(foreColor());
        p.setFont(font());
        p.drawText(captionRect(), Qt::AlignCenter | Qt::TextWordWrap, m_caption);
    }
}

} // namespace zimble::ui
