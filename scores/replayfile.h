#pragma once
// The replay file beside Scores.dat: for each board size, the replay of the game that set the
// player's best, so the score service can check it. A text file:
//   Zimble replays, version 2
//   BOARD CYCLES CLICKS STEPS  one line per board with a replay; CLICKS and STEPS (the clock
//                              at each click) as in the exchange
// A replay kept before the game recorded each click's clock has no STEPS, as every line of a
// version-1 file; such a file is read, and written as version 2 when the game next keeps a replay.

#include "game/replay.h"

#include <QString>

#include <array>
#include <optional>

namespace zimble {

inline constexpr int ReplayFileVersion = 2;
// Four replays as long as a full 7 x 7 game take about 2 KiB with a clock step of one character
// per click, and under 6 KiB with the longest steps a plausible clock allows.
inline constexpr qint64 MaxReplayFileSize = 64 * 1024;

struct ReplayRecord {
    std::array<std::optional<GameReplay>, MaxBoardSize + 1> byBoard; // indexed by board size
};

QByteArray encodeReplayRecord(const ReplayRecord& record);
// Empty, with `reason` set, when the bytes are not a replay file this game can read.
std::optional<ReplayRecord> decodeReplayRecord(const QByteArray& bytes, QString* reason);

// Reads the file; an absent file is an empty record. On failure returns false, leaves the
// record unchanged and sets error to a sentence naming the file and the reason.
bool loadReplays(const QString& fileName, ReplayRecord& record, QString* error);
// Replaces the file atomically.
bool saveReplays(const QString& fileName, const ReplayRecord& record, QString* error);

} // namespace zimble
