#pragma once
// What the windows share for one run of the program: where the data files are, the in-memory
// score record, where the score service and the product page are, and how the player is told
// something. main() owns the one session and hands it to the windows that need it.

#include "scores/scorefile.h"

#include <QString>

#include <functional>

class QWidget;

namespace zimble {

class Session {
public:
    Session();

    // Put before the names of the board pictures and the score file; empty for the current directory.
    QString dataDir() const { return m_dataDir; }
    void setDataDir(const QString& prefix) { m_dataDir = prefix; }
    QString scoreFileName() const;
    // The replays of the player's bests, kept beside the score file.
    QString replayFileName() const;
    // The picture a tile shows after its `hits`-th click (1 to 3).
    QString pictureFileName(int hits) const;

    // The in-memory image of the score file.
    ScoreRecord& scores() { return m_scores; }
    const ScoreRecord& scores() const { return m_scores; }

    // "host[:port]" of the score service, and the product web page's host; built in by default.
    QString scoreHost() const { return m_scoreHost; }
    void setScoreHost(const QString& host) { m_scoreHost = host; }
    QString productPage() const { return m_productPage; }

    // Tells the player something in a message box with an OK button and the game's title.
    void showMessage(QWidget* owner, const QString& text) const;
    // Replaces the message box, e.g. with a recorder in tests; an empty function restores it.
    using MessageHandler = std::function<void(QWidget* owner, const QString& text)>;
    void setMessageHandler(MessageHandler handler) { m_messageHandler = std::move(handler); }

    // Opens an address in the player's browser, telling the player when that fails, with the
    // reason and the full address on lines of their own.
    void openWebPage(const QString& address, QWidget* owner) const;

private:
    QString m_dataDir;
    ScoreRecord m_scores;
    QString m_scoreHost;
    QString m_productPage;
    MessageHandler m_messageHandler;
};

} // namespace zimble
