#pragma once
// The score file Scores.dat: one 776-byte record with the player's bests, the world highs
// and holders per board size, and the player's name.

#include "filecheck.h"

#include "game/fixedpoint.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>

namespace zimble {

inline constexpr int ScoreRecordSize = 776;
inline constexpr int FixedTextLength = 50;

// The record's arrays are indexed by the board size itself; slots 0 to 3 and 8 to 10 are never
// used by the game and are written back as read.
inline constexpr int ScoreSlots = 11;

struct ScoreRecord {
    std::array<FixedPoint, ScoreSlots> bests{};      // the player's best ZQ
    std::array<FixedPoint, ScoreSlots> worldHighs{}; // as last received from the score service
    std::array<QString, ScoreSlots> holders;         // the world record holders, 50 characters each
    QString playerName;                              // 50 characters

    ScoreRecord();
};

// The summary window's displays show nine digits: a best or world high from 0 to just below
// 999,999,999.5. No game comes near it, and a reply beyond it is refused.
inline constexpr int ScoreDisplayDigits = 9;
inline constexpr qint64 MaxShownScore = 999'999'999;
bool isShowableScore(FixedPoint value);

// What, in the fields the game uses (the bests, world highs and holders of the board sizes it
// plays, and the player's name), holds a value the game never writes: a negative number, one the
// displays cannot show, or a control character other than NUL padding at the end of a name.
// A phrase for the player ("the 5 x 5 best is negative"), several joined by "; ", or empty.
QString recordDamage(const ScoreRecord& record);

// Puts back what a new file holds in each damaged value that recordDamage finds (0 for a number,
// NUL padding for a holder or the name, which then reads as never set) and keeps every sound
// one. Returns the values reset ("the 5 x 5 best", "your name"), in the file's order.
QStringList resetDamagedValues(ScoreRecord& record);

// Copies a file's bytes beside it as "<file>.damaged-YYYYMMDD-HHMMSS" after `when`, with "-2",
// "-3", ... after it when that name is taken, so never over an earlier copy. Returns the copy's
// name, or an empty string with error set to a sentence naming the file and the reason.
QString keepDamagedCopy(const QString& fileName, const QDateTime& when, QString* error);

// Exactly 50 characters: cut after the 50th, or filled with spaces on the right.
QString fixedText(const QString& text);
// Leading and trailing spaces removed; other white space is kept.
QString trimSpaces(const QString& text);
// A stored text as shown: cut at the first NUL and stripped of leading and trailing spaces only.
QString shownText(const QString& stored);

// The record's bytes, and back; a short byte array reads as zeros for what it lacks.
QByteArray encodeRecord(const ScoreRecord& record);
ScoreRecord decodeRecord(const QByteArray& bytes);

// Reads the record, creating an absent file empty. Only a regular file (links followed) is read.
// On failure returns false, leaves the record unchanged and sets error to a sentence naming the
// file and the reason.
bool loadScores(const QString& fileName, ScoreRecord& record, QString* error);
// Replaces the record atomically: the file holds either the old bytes or the new ones, and any
// bytes after the record are kept. On failure the file on disk is untouched.
bool saveScores(const QString& fileName, const ScoreRecord& record, QString* error);

} // namespace zimble
