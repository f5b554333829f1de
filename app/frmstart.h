#pragma once
// The start window: states the goal and leads to the playing field, help, about and the web page.

#include "ui/controlarray.h"

#include <QDialog>

class QLabel;

namespace zimble {

namespace ui {
class ThreeDButton;
class ThreeDPanel;
} // namespace ui

class frmStart : public QDialog {
    Q_OBJECT
public:
    explicit frmStart(QWidget* parent = nullptr);

    // The goal text, built from the title.
    static QString goalText();

    QLabel* Picture1 = nullptr;
    ui::ThreeDPanel* SSPanel1 = nullptr;
    ui::ControlArray<ui::ThreeDButton> cmdHelp{QStringLiteral("cmdHelp")};
    ui::ControlArray<ui::ThreeDButton> cmdAbout{QStringLiteral("cmdAbout")};
    ui::ControlArray<ui::ThreeDButton> cmdWeb{QStringLiteral("cmdWeb")};
    ui::ControlArray<ui::ThreeDButton> cmdExit{QStringLiteral("cmdExit")};
    ui::ThreeDButton* cmdCustTray = nullptr;

    void Form_Load();
    void cmdCustTray_Click();
    void cmdExit_Click(qint16 Index);
    void cmdHelp_Click(qint16 Index);
    void cmdAbout_Click(qint16 Index);
    void cmdWeb_Click(qint16 Index);

protected:
    void reject() override; // Esc presses Exit

private:
    void buildControls();
};

} // namespace zimble
