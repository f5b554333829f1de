#pragma once
// CSV (RFC 4180) as the export writes it and the import reads it, without the database.

#include <QByteArray>
#include <QList>
#include <QString>

class QIODevice;

namespace zimble::server {

// A field as written: quoted when it holds a comma, a quote or a line break.
QByteArray csvField(const QByteArray& text);

// Invariant: it never holds more than one block of input and one record of at most
// MaxRecordBytes bytes, so a file that is not CSV (a device that never ends, a quote never
// closed, a line of millions of fields) costs no more memory than a good one. A byte order mark
// at the very start is skipped.
class CsvReader {
public:
    static constexpr qsizetype MaxRecordBytes = 64 * 1024;

    explicit CsvReader(QIODevice& in) : m_in(in) {}
    // The next record's fields. False at the end, or on a malformed record (error() then says why).
    bool next(QList<QByteArray>& fields);
    // The line the last record read starts on.
    qint64 recordLine() const { return m_recordLine; }
    QString error() const { return m_error; }

private:
    bool fill();
    // Takes the next byte of the record; false past the record's limit (error() says so).
    bool take(char& c);
    bool quoted(QByteArray& field);

    QIODevice& m_in;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_started = false;
    qint64 m_line = 1;
    qint64 m_recordLine = 1;
    qsizetype m_recordBytes = 0;
    QString m_error;
};

} // namespace zimble::server
