#pragma once
// The score file Scores.dat: one 776-byte record with the player's bests, the world highs
// and holders per board size, and the player's name.

#include "game/fixedpoint.h"

#include <QByteArray>
#include <QString>

#include <array>

namespace zimble {

inline constexpr int ScoreRecordSize = 776;
inline constexpr int FixedTextLength = 50;

struct ScoreRecord {
    std::array<FixedPoint, 11> YourHigh{};      // by board size
    std::array<FixedPoint, 11> WorldWideHigh{}; // by board size
    std::array<QString, 11> RecordHolder;       // 50 characters each
    QString PlayerName;                         // 50 characters

    ScoreRecord();
};

// The program-wide in-memory image of the score file.
inline ScoreRecord ScoreTable;

// Exactly 50 characters: cut after the 50th, or filled with spaces on the right.
QString fixedText(const QString& text);
// Leading and trailing spaces removed; other white space is kept.
QString trimSpaces(const QString& text);
// A stored text as shown: cut at the first NUL and stripped of leading and trailing spaces only.
QString shownText(const QString& stored);

// The record's bytes, and back; a short byte array reads as zeros for what it lacks.
QByteArray encodeRecord(const ScoreRecord& record);
ScoreRecord decodeRecord(const QByteArray& bytes);

// DataDir followed by "Scores.dat".
QString scoreFileName();

// Reads the record, creating an absent file empty. On failure returns false, leaves the
// record unchanged and sets error to a sentence naming the file and the reason.
bool loadScores(const QString& fileName, ScoreRecord& record, QString* error);
// Replaces the record atomically: the file holds either the old bytes or the new ones, and any
// bytes after the record are kept. On failure the file on disk is untouched.
bool saveScores(const QString& fileName, const ScoreRecord& record, QString* error);

} // namespace zimble
