#include "csv.h"

#include <QIODevice>

namespace zimble::server {

QByteArray csvField(const QByteArray& text)
{
    if (!text.contains(',') && !text.contains('"') && !text.contains('\n') && !text.contains('\r'))
        return text;
    QByteArray quoted = text;
    quoted.replace('"', "\"\"");
    return '"' + quoted + '"';
}

bool CsvReader::fill()
{
    if (m_pos < m_buffer.size())
        return true;
    m_buffer = m_in.read(1 << 20);
    m_pos = 0;
    if (!m_started && !m_buffer.isEmpty()) {
        m_started = true;
        if (m_buffer.startsWith("\xEF\xBB\xBF"))
            m_pos = 3; // as some spreadsheets write
        return fill();
    }
    return !m_buffer.isEmpty() && m_pos < m_buffer.size();
}

bool CsvReader::take(char& c)
{
    if (++m_recordBytes > MaxRecordBytes) {
        m_error = QStringLiteral("a record is longer than %1 bytes").arg(MaxRecordBytes);
        return false;
    }
    c = m_buffer[m_pos++];
    return true;
}

// A quoted field after its opening quote, up to the closing one.
bool CsvReader::quoted(QByteArray& field)
{
    for (;;) {
        if (!fill()) {
            m_error = QStringLiteral("a quoted field is not closed");
            return false;
        }
        char q = 0;
        if (!take(q))
            return false;
        if (q == '\n')
            ++m_line;
        if (q != '"') {
            field += q;
            continue;
        }
        if (fill() && m_buffer[m_pos] == '"') {
            if (!take(q))
                return false;
            field += '"';
            continue;
        }
        break;
    }
    if (fill() && m_buffer[m_pos] != ',' && m_buffer[m_pos] != '\n' && m_buffer[m_pos] != '\r') {
        m_error = QStringLiteral("text after a quoted field's closing quote");
        return false;
    }
    return true;
}

bool CsvReader::next(QList<QByteArray>& fields)
{
    fields.clear();
    m_error.clear();
    m_recordBytes = 0;
    if (!fill())
        return false;
    m_recordLine = m_line;
    QByteArray field;
    bool fieldQuoted = false;
    for (;;) {
        if (!fill()) {
            fields.append(field); // the last record without a line break
            return true;
        }
        char c = 0;
        if (!take(c))
            return false;
        if (c == '"' && field.isEmpty() && !fieldQuoted) {
            fieldQuoted = true;
            if (!quoted(field))
                return false;
        } else if (c == ',') {
            fields.append(field);
            field.clear();
            fieldQuoted = false;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && fill() && m_buffer[m_pos] == '\n' && !take(c))
                return false;
            ++m_line;
            fields.append(field);
            return true;
        } else if (c == '"') {
            m_error = QStringLiteral("a quote inside an unquoted field");
            return false;
        } else {
            field += c;
        }
    }
}

} // namespace zimble::server
