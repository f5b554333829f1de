#pragma once
// The start window: states the goal and leads to the playing field, help, about and the web page.

#include <QDialog>

class QLabel;

namespace zimble {

class Session;

namespace ui {
class ThreeDButton;
class ThreeDPanel;
} // namespace ui

class StartWindow : public QDialog {
    Q_OBJECT
public:
    explicit StartWindow(Session& session, QWidget* parent = nullptr);

    // The goal text, built from the title.
    static QString goalText();

    QLabel* titlePicture() const { return m_titlePicture; }
    ui::ThreeDPanel* goalPanel() const { return m_goalPanel; }
    ui::ThreeDButton* helpButton() const { return m_helpButton; }
    ui::ThreeDButton* aboutButton() const { return m_aboutButton; }
    ui::ThreeDButton* webPageButton() const { return m_webPageButton; }
    ui::ThreeDButton* exitButton() const { return m_exitButton; }
    ui::ThreeDButton* playButton() const { return m_playButton; }

public slots:
    void onPlayClicked();
    void onExitClicked();
    void onHelpClicked();
    void onAboutClicked();
    void onWebPageClicked();

protected:
    void reject() override; // Esc presses Exit

private:
    void buildControls();
    void load();

    Session& m_session;
    QLabel* m_titlePicture = nullptr;
    ui::ThreeDPanel* m_goalPanel = nullptr;
    ui::ThreeDButton* m_helpButton = nullptr;
    ui::ThreeDButton* m_aboutButton = nullptr;
    ui::ThreeDButton* m_webPageButton = nullptr;
    ui::ThreeDButton* m_exitButton = nullptr;
    ui::ThreeDButton* m_playButton = nullptr;
};

} // namespace zimble
