#pragma once
// The score exchange spoken by the game and the score service alike:
//   request  GET /zm2.asp?BEST4&BEST5&BEST6&BEST7&NAME&CHECK
//   reply    ten "|"-separated fields in Windows-1252: anything, the four world highs, the four
//            holders (spaces written as "%20"), and a message for the player.

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace zimble {

inline constexpr int BoardCount = 4;        // board sizes 4 to 7
inline constexpr int ReplyFieldCount = 10;
inline constexpr int MaxPlayerNameLength = 50;
inline constexpr int MaxScoreValue = 2147483647;

using BoardScores = std::array<qint64, BoardCount>; // whole numbers, boards 4 to 7

// The weighted sum both sides compute over the four whole-number bests.
qint64 checkValue(const BoardScores& bests);

// "/zm2.asp?a&b&c&d&name&check"; the name is inserted as given (the transfer escapes it).
QString requestTarget(const BoardScores& bests, const QString& name);

// The game's cleaning of a typed name: "|", "<", ">", "&" and "," each become a space.
QString replaceReservedCharacters(const QString& name);

// The service's cleaning of a received name: "|" and control characters become spaces, format
// characters (bidi controls, zero-width spaces) are dropped, outer white space is trimmed, at most
// 50 characters are kept, and a name with nothing visible is "Anonymous".
QString cleanPlayerName(const QString& raw);

struct ScoreReply {
    std::array<double, BoardCount> highs{};
    std::array<QString, BoardCount> holders; // "%20" already turned into spaces
    QString message;
};

// Empty when the body has fewer than ten fields or a field 1 to 4 is not a plain decimal number.
std::optional<ScoreReply> parseReply(const QString& body);

// The reply body for the given world highs and holders and a message.
QByteArray formatReply(const BoardScores& highs, const std::array<QString, BoardCount>& holders,
                       const QString& message);

struct ScoreSubmission {
    BoardScores scores{};
    QString name; // cleaned with cleanPlayerName
};

// Parses the raw (still percent-encoded) query of a request. Empty, with `refusal` set to a
// sentence for the player, when it is not a valid submission.
std::optional<ScoreSubmission> parseSubmission(const QByteArray& rawQuery, QString* refusal);

} // namespace zimble
