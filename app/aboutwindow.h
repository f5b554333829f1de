#pragma once
// The about window: icon, copyright, product web page and support address.

#include <QDialog>

class QLabel;

namespace zimble {

namespace ui {
class ThreeDButton;
class ThreeDPanel;
} // namespace ui

class AboutWindow : public QDialog {
    Q_OBJECT
public:
    // productPage is the address shown for the product's web site.
    explicit AboutWindow(const QString& productPage, QWidget* parent = nullptr);

    static QString copyrightText();
    static QString supportAddress();

    QLabel* iconPicture() const { return m_icon; }
    ui::ThreeDPanel* copyrightPanel() const { return m_copyright; }
    ui::ThreeDPanel* container() const { return m_container; }
    ui::ThreeDButton* exitButton() const { return m_exitButton; }
    ui::ThreeDPanel* webAddressPanel() const { return m_webAddress; }
    ui::ThreeDPanel* supportPanel() const { return m_support; }

private:
    QLabel* m_icon = nullptr;
    ui::ThreeDPanel* m_copyright = nullptr;
    ui::ThreeDPanel* m_container = nullptr;
    ui::ThreeDButton* m_exitButton = nullptr;
    ui::ThreeDPanel* m_webAddress = nullptr;
    ui::ThreeDPanel* m_support = nullptr;
};

} // namespace zimble
