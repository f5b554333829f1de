#pragma once
// The checks every file the game keeps beside its pictures goes through before it is opened.

#include <QFileInfo>
#include <QString>

namespace zimble {

// A longer score or replay file keeps what it holds beyond the game's own data up to this size
// in all; a file beyond it is reported and left alone.
inline constexpr qint64 MaxScoreFileSize = 256LL * 1024 * 1024;

// Why an existing file cannot be used, or an empty string when it can. Only a regular file
// (links followed) is ever opened, so a FIFO cannot block the game and a device is never read
// without end or replaced.
QString unusableFileReason(const QFileInfo& info);

// "The <what> "<file>" could not be <action>: <reason>."
QString describeFileError(const QString& what, const QString& action, const QString& fileName, const QString& reason);

} // namespace zimble
