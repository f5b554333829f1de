#pragma once
// The summary window that closes every game: this game's ZQ, the player's bests, the world highs
// and holders, the player's name, and the exchange with the score service.

#include "game/boardsize.h"
#include "game/replay.h"
#include "scores/exchange.h"
#include "scores/httptransfer.h"

#include <QDialog>
#include <QUrl>

#include <array>

class QLabel;
class QLineEdit;
class QProgressBar;
class QTimer;

namespace zimble {

class Session;

namespace ui {
class LedDisplay;
class ThreeDButton;
class ThreeDPanel;
} // namespace ui

class SummaryWindow : public QDialog {
    Q_OBJECT
public:
    // gameScore is the ZQ the playing field showed at the end of the game on a boardSize board;
    // replay is that game's replay, kept when the game sets the player's best.
    SummaryWindow(Session& session, double gameScore, int boardSize, std::optional<GameReplay> replay = std::nullopt,
                  QWidget* parent = nullptr);
    ~SummaryWindow() override;

    // The displays of one board size.
    ui::LedDisplay* bestDisplay(int board) const;
    ui::LedDisplay* worldHighDisplay(int board) const;
    ui::ThreeDPanel* holderPanel(int board) const;
    ui::ThreeDPanel* headline() const { return m_headline; }
    ui::ThreeDPanel* statusLine() const { return m_status; }
    QLineEdit* nameEdit() const { return m_nameEdit; }
    ui::ThreeDButton* updateButton() const { return m_updateButton; }
    ui::ThreeDButton* webPageButton() const { return m_webPageButton; }
    ui::ThreeDButton* exitButton() const { return m_exitButton; }
    HttpTransfer* transfer() const { return m_transfer; }
    HttpTransfer* replayTransfer() const { return m_replayTransfer; }
    // Shown while an Update is under way: how much of the request's time limit has passed.
    QProgressBar* waitBar() const { return m_waitBar; }
    // Whether an Update (the exchange or the replays after it) is still under way.
    bool isUpdating() const { return m_transfer->isRunning() || m_replayTransfer->isRunning(); }

    // The request URL for a target, with the name percent-encoded as HTTP requires.
    QUrl requestUrl(const QString& target) const;

    // The headline for a score: "You scored a ZQ of " and the score in whole, grouped digits.
    static QString scoreLine(double score);

public slots:
    void done(int result) override;

private slots:
    void onUpdateClicked();
    void onWebPageClicked();
    void onTransferStateChanged(zimble::HttpTransfer::State state);
    void onReplayTransferStateChanged(zimble::HttpTransfer::State state);

private:
    void buildControls();
    void load();
    void unload();
    void sendScores();
    // Applies a completed exchange's reply; false when it could not be understood.
    bool applyReply();
    void keepReplay();
    void sendReplays();
    void reportFileError(const QString& error);
    // Puts a message on the status line and has a screen reader speak it.
    void showStatus(const QString& text);
    // The busy cursor and the time-limit bar, following the transfers.
    void showWaiting();
    // Loads the score file into the session's record. A file holding values the game never
    // writes is copied aside and reported, and only those values are reset. False, with the player
    // told, when the file cannot be used; nothing may then be saved over it.
    bool loadRecord();
    int slot(int board) const { return board - MinBoardSize; }

    Session& m_session;
    const double m_gameScore;
    const int m_boardSize;
    const std::optional<GameReplay> m_replay;
    BoardScores m_sentBests{};
    QString m_exchangeMessage;
    bool m_unloaded = false;
    bool m_fileErrorReported = false;
    bool m_damageKept = false;

    std::array<ui::LedDisplay*, BoardSizeCount> m_bests{};
    std::array<ui::LedDisplay*, BoardSizeCount> m_worldHighs{};
    std::array<ui::ThreeDPanel*, BoardSizeCount> m_holders{};
    ui::ThreeDPanel* m_headline = nullptr;
    ui::ThreeDPanel* m_instructions = nullptr;
    ui::ThreeDPanel* m_status = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    ui::ThreeDButton* m_updateButton = nullptr;
    ui::ThreeDButton* m_webPageButton = nullptr;
    ui::ThreeDButton* m_exitButton = nullptr;
    HttpTransfer* m_transfer = nullptr;
    HttpTransfer* m_replayTransfer = nullptr;
    QProgressBar* m_waitBar = nullptr;
    QTimer* m_waitTicker = nullptr;
};

} // namespace zimble
