#pragma once
// The service's side of the score exchange: the reply built from the stored world records, and
// the message that thanks or congratulates the player. Parsing and the reply format are shared
// with the game (scores/exchange.h).

#include "server/store/scorestore.h"
#include "server/web/pages.h"

#include "scores/exchange.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace zimble::server {

// The reply body: service name, four highs, four holders (spaces as "%20"), the message.
QByteArray formatReply(const WorldRecords& records, const QString& message);
// Everything before the message, built once for the replies of a batch (see zimble::formatReply).
QByteArray replyHead(const WorldRecords& records);

// The message for an accepted submission: thanks or congratulations, then the player's ranks.
// Short enough for the game's status panel whatever the name, so the name is left out.
QString thanksMessage(const QList<int>& newRecords, const QList<BoardRank>& ranks = {});

// "Your ranks: 4 x 4 17th of 4,512; 6 x 6 3rd of 918." (empty without ranks).
QString ranksText(const QList<BoardRank>& ranks);
// The answer to a replay request: the boards whose world record the player holds, what became of
// each replay, then the ranks.
QString replayMessage(const QList<ReplayResult>& results, const QList<BoardRank>& ranks,
                      const QList<int>& recordsHeld = {});

} // namespace zimble::server
