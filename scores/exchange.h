#pragma once
// The score exchange spoken by the game and the score service alike:
//   request  GET /zm2.asp?BEST4&BEST5&BEST6&BEST7&NAME&CHECK
//   reply    ten "|"-separated fields in Windows-1252: anything, the four world highs, the four
//            holders (spaces written as "%20"), and a message for the player.

#include "game/boardsize.h"
#include "game/replay.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace zimble {

inline constexpr int BoardCount = BoardSizeCount; // one value per board size, smallest first
inline constexpr int ReplyFieldCount = 10;
inline constexpr int MaxPlayerNameLength = 50;
// The largest score a submission may carry: what the game's nine-digit displays can show, so a
// world record can never be one that every game must refuse to show.
inline constexpr int MaxScoreValue = 999'999'999;

using BoardScores = std::array<qint64, BoardCount>; // whole numbers, one per board size

// The weighted sum both sides compute over the four whole-number bests.
qint64 checkValue(const BoardScores& bests);

// "/zm2.asp?a&b&c&d&name&check"; the name is inserted as given (the transfer escapes it).
QString requestTarget(const BoardScores& bests, const QString& name);

// The game's cleaning of a typed name: "|", "<", ">", "&" and "," each become a space.
QString replaceReservedCharacters(const QString& name);

// Control characters (NUL, C0, DEL, C1, line and paragraph separators) become spaces.
QString replaceControlCharacters(const QString& text);

// The service's cleaning of a received name: "|" and control characters become spaces, format
// characters (bidi controls, zero-width spaces) are dropped, outer white space is trimmed, at most
// 50 characters are kept, and a name with nothing visible is "Anonymous".
QString cleanPlayerName(const QString& raw);

struct ScoreReply {
    std::array<double, BoardCount> highs{};
    std::array<QString, BoardCount> holders; // "%20" turned into spaces, cleaned like typed names
    QString message;                         // control characters turned into spaces
};

// Empty when the body has fewer than ten fields or a field 1 to 4 is not a plain decimal number
// the displays can show (negative, or past nine digits).
// Holder names are cleaned like typed names and control characters become spaces, so nothing
// received can hide a name or break a line.
std::optional<ScoreReply> parseReply(const QString& body);

// The reply body for the given world highs and holders and a message.
QByteArray formatReply(const BoardScores& highs, const std::array<QString, BoardCount>& holders,
                       const QString& message);
// The same in two parts, for many replies carrying the same highs and holders: the first nine
// fields with their separators, then the body with a message after them.
QByteArray formatReplyHead(const BoardScores& highs, const std::array<QString, BoardCount>& holders);
QByteArray formatReply(const QByteArray& head, const QString& message);

struct ScoreSubmission {
    BoardScores scores{};
    QString name; // cleaned with cleanPlayerName
};

// Parses the raw (still percent-encoded) query of a request. Empty, with `refusal` set to a
// sentence for the player, when it is not a valid submission.
std::optional<ScoreSubmission> parseSubmission(const QByteArray& rawQuery, QString* refusal);

// Replays follow an Update in a request of their own, which games that know nothing of replays
// never send:
//   request  GET /zr.asp?NAME&BOARD.WHOLE.CYCLES.CLICKS[.STEPS][&BOARD.WHOLE.CYCLES.CLICKS[.STEPS]...]
//            one value per board with a replay; WHOLE is the whole-number best sent for that
//            board, CYCLES the clock at the last click, CLICKS one letter per click (A-Z for
//            tiles 0-25, a-w for 26-48), STEPS the clock at each click (encodeClickCycles), left
//            out for a replay kept before the game recorded it. Services that know only four
//            parts refuse a replay with STEPS as unreadable.
//   reply    one line of Windows-1252 text for the player's status line
inline constexpr int MaxReplaysPerRequest = BoardCount;

QString encodeClicks(const std::vector<std::int32_t>& clicks);
// Empty for a letter outside the alphabet or more clicks than the largest game has.
std::optional<std::vector<std::int32_t>> decodeClicks(const QString& letters);

// The clock at each click, as the cycles completed since the click before (the first: since the
// game began). Each step is written in decimal with every digit but its last as a letter a-j
// (0-9), so a step ends at its one digit and the usual steps of 0 to 9 take one character:
// clocks 0, 1, 2, 15 give "011b3". A step back (no game makes one) is written with "-" before it.
QString encodeClickCycles(const std::vector<std::int32_t>& cycles);
// Empty for any other character, an unfinished step, a step of more than nine digits, a clock
// outside 32 bits, or more than `maxValues` values.
std::optional<std::vector<std::int32_t>> decodeClickCycles(QStringView steps, std::size_t maxValues);

struct SubmittedReplay {
    qint64 whole = 0; // the whole-number best it backs
    GameReplay replay;
};

QString replayRequestTarget(const QString& name, const std::vector<SubmittedReplay>& replays);

struct ReplaySubmission {
    QString name; // cleaned with cleanPlayerName
    std::vector<SubmittedReplay> replays;
};

// Parses the raw (still percent-encoded) query of a replay request. Empty, with `refusal` set,
// when it is malformed; whether each replay is a legal game is for verifyReplay to say.
std::optional<ReplaySubmission> parseReplaySubmission(const QByteArray& rawQuery, QString* refusal);

} // namespace zimble
