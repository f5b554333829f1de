#pragma once
// The help window, which offers no help.

#include <QDialog>

namespace zimble {

namespace ui {
class ThreeDButton;
class ThreeDPanel;
} // namespace ui

class HelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    ui::ThreeDPanel* messagePanel() const { return m_message; }
    ui::ThreeDButton* exitButton() const { return m_exitButton; }

private:
    ui::ThreeDPanel* m_message = nullptr;
    ui::ThreeDButton* m_exitButton = nullptr;
};

} // namespace zimble
