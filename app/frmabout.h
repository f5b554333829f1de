#pragma once
// The about window: icon, copyright, product web page and support address.

#include "ui/controlarray.h"

#include <QDialog>

class QLabel;

namespace zimble {

namespace ui {
class ThreeDButton;
class ThreeDPanel;
} // namespace ui

class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);

    static QString copyrightText();
    static QString supportAddress();

    QLabel* Picture1 = nullptr;
    ui::ThreeDPanel* Panel3D1 = nullptr;
    ui::ControlArray<ui::ThreeDPanel> pnltour{QStringLiteral("pnltour")};
    ui::ThreeDButton* command1 = nullptr;
    ui::ControlArray<ui::ThreeDPanel> SSPanel1{QStringLiteral("SSPanel1")};

    void Form_Load();
    void command1_Click();
};

} // namespace zimble
