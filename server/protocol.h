#pragma once
// The score exchange as the game speaks it: "GET /zm2.asp?a&b&c&d&name&check" and a reply of
// ten "|"-separated fields in Windows-1252.

#include "scorestore.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace zimble::server {

inline constexpr int MaxNameLength = 50;

// A name as the service keeps it: "|" and control characters become spaces, outer white space is
// trimmed, at most 50 characters are kept, and an empty name is "Anonymous".
QString cleanPlayerName(const QString& raw);

struct ParsedSubmission {
    std::array<qint64, 4> scores{};
    QString name; // cleaned
};

// Parses the raw (still percent-encoded) query. Returns the submission, or sets `refusal` to a
// sentence for the player saying why it was refused.
std::optional<ParsedSubmission> parseSubmission(const QByteArray& rawQuery, QString* refusal);

// The reply body: service name, four highs, four holders (spaces as "%20"), the message.
QByteArray formatReply(const WorldRecords& records, const QString& message);

// The message for an accepted submission.
QString thanksMessage(const QString& name, const QList<int>& newRecords);

} // namespace zimble::server
