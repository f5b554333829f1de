#pragma once
// Windows-1252, the single-byte code page of the score file and the score service's replies.

#include <QByteArray>
#include <QString>

namespace zimble {

// One byte per character; a character the code page cannot hold becomes '?'.
QByteArray toCp1252(const QString& text);
QString fromCp1252(const QByteArray& bytes);

// A name as it came over the wire: UTF-8 when the bytes are valid UTF-8, else Windows-1252, as
// older games send it.
QString decodeName(const QByteArray& bytes);

} // namespace zimble
