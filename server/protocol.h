#pragma once
// The service's side of the score exchange: the reply built from the stored world records, and
// the message that thanks or congratulates the player. Parsing and the reply format are shared
// with the game (scores/exchange.h).

#include "scorestore.h"

#include "scores/exchange.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace zimble::server {

// The reply body: service name, four highs, four holders (spaces as "%20"), the message.
QByteArray formatReply(const WorldRecords& records, const QString& message);

// The message for an accepted submission.
QString thanksMessage(const QString& name, const QList<int>& newRecords);

} // namespace zimble::server
