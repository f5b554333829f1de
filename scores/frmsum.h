#pragma once
// The summary window: this game's ZQ, the player's bests, the world highs and holders, the name,
// and the exchange with the score service.

#include "ui/controlarray.h"

#include <QDialog>
#include <QStringList>
#include <QUrl>

class QLabel;
class QLineEdit;

namespace zimble {

class Inet;
namespace ui {
class NumLed;
class ThreeDButton;
class ThreeDPanel;
} // namespace ui

class frmSum : public QDialog {
    Q_OBJECT
public:
    // gameLed is the playing field's score display, whose value is this game's score.
    explicit frmSum(const ui::NumLed* gameLed, QWidget* parent = nullptr);
    ~frmSum() override;

    ui::ControlArray<ui::ThreeDPanel> SSPanel2{QStringLiteral("SSPanel2")};
    ui::ControlArray<QLabel> Label1{QStringLiteral("Label1")};
    ui::ControlArray<ui::NumLed> LED{QStringLiteral("LED")};
    ui::ThreeDPanel* SSPanel1 = nullptr;
    QLineEdit* Text1 = nullptr;
    ui::ControlArray<ui::ThreeDButton> cmdWeb{QStringLiteral("cmdWeb")};
    ui::ControlArray<ui::ThreeDButton> cmdUp{QStringLiteral("cmdUp")};
    ui::ControlArray<ui::ThreeDButton> cmdExit{QStringLiteral("cmdExit")};
    Inet* Inet1 = nullptr;

    void Form_Load();
    void Form_Unload();
    void cmdExit_Click(qint16 Index);
    void cmdWeb_Click(qint16 Index);
    void cmdUp_Click(qint16 Index);
    void Inet1_StateChanged(qint16 State);

    // Where Update sends its request: "host[:port]". Defaults to the built-in score host.
    void setScoreHost(const QString& host) { m_scoreHost = host; }
    // The request URL for a target, with the name percent-encoded as HTTP requires.
    QUrl requestUrl(const QString& target) const;

    // The headline for a score: "You scored a ZQ of " and the score in whole, grouped digits.
    static QString scoreLine(double score);

public slots:
    void done(int result) override;

private:
    void buildControls();
    void SendScores();
    void applyReply();
    void reportFileError(const QString& error);

    const ui::NumLed* m_gameLed = nullptr;
    QString m_scoreHost;
    bool m_unloaded = false;
};

} // namespace zimble
