#pragma once
// The help window, which offers no help.

#include "ui/controlarray.h"

#include <QDialog>

namespace zimble {

namespace ui {
class ThreeDButton;
class ThreeDPanel;
} // namespace ui

class frmHelp : public QDialog {
    Q_OBJECT
public:
    explicit frmHelp(QWidget* parent = nullptr);

    ui::ThreeDPanel* SSPanel1 = nullptr;
    ui::ControlArray<ui::ThreeDButton> cmdExit{QStringLiteral("cmdExit")};

    void Form_Load();
    void cmdExit_Click(qint16 Index);
};

} // namespace zimble
