#include "texturedbutton.h"

#include "ui/threedbutton.h"
#include "ui/windowstyle.h"

namespace zimble {

ui::ThreeDButton* texturedButton(QWidget* parent, const QString& objectName, const QString& caption, double left,
                                 double top, double width, double height, bool wide)
{
    auto* b = new ui::ThreeDButton(caption, parent);
    b->setObjectName(objectName);
    b->setFont(ui::sansFont(8.25));
    b->setPicture(QPixmap(wide ? QStringLiteral(":/pictures/button-wide.jpg") : QStringLiteral(":/pictures/button.jpg")));
    ui::place(b, left, top, width, height);
    return b;
}

} // namespace zimble
