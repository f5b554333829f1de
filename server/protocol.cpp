#include "protocol.h"

#include "scores/codepage.h"

#include <QStringList>
#include <QUrl>

namespace zimble::server {

namespace {

// A whole number from 0 to 2^31 - 1 written in plain decimal digits.
std::optional<qint64> parseScore(const QByteArray& text)
{
    if (text.isEmpty() || text.size() > 10)
        return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    const qint64 v = text.toLongLong();
    if (v > 2147483647LL)
        return std::nullopt;
    return v;
}

QString joinBoards(const QList<int>& boards)
{
    QStringList parts;
    for (int b : boards)
        parts << QStringLiteral("%1 x %1").arg(b);
    if (parts.size() == 1)
        return parts.first();
    const QString last = parts.takeLast();
    return parts.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

} // namespace

QString cleanPlayerName(const QString& raw)
{
    QString s;
    s.reserve(raw.size());
    for (QChar ch : raw) {
        const char16_t u = ch.unicode();
        const bool control = u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029;
        s.append(control || ch == QLatin1Char('|') ? QLatin1Char(' ') : ch);
    }
    s = s.trimmed();
    QList<uint> cps = s.toUcs4();
    if (cps.size() > MaxNameLength) {
        cps.resize(MaxNameLength);
        s = QString::fromUcs4(reinterpret_cast<const char32_t*>(cps.constData()), cps.size()).trimmed();
    }
    return s.isEmpty() ? QStringLiteral("Anonymous") : s;
}

std::optional<ParsedSubmission> parseSubmission(const QByteArray& rawQuery, QString* refusal)
{
    const QList<QByteArray> values = rawQuery.split('&');
    if (values.size() != 6) {
        if (refusal)
            *refusal = QStringLiteral("Your scores were not recorded: the request must carry exactly six values.");
        return std::nullopt;
    }
    ParsedSubmission s;
    for (int i = 0; i < 4; ++i) {
        const auto v = parseScore(QByteArray::fromPercentEncoding(values[i]));
        if (!v) {
            if (refusal)
                *refusal = QStringLiteral("Your scores were not recorded: each score must be a whole number from 0 to 2147483647.");
            return std::nullopt;
        }
        s.scores[i] = *v;
    }
    const QByteArray checkText = QByteArray::fromPercentEncoding(values[5]);
    bool ok = checkText.size() <= 12 && !checkText.isEmpty();
    for (char c : checkText)
        ok = ok && c >= '0' && c <= '9';
    const qint64 expected = 2 * s.scores[0] + 3 * s.scores[1] + 5 * s.scores[2] + 4 * s.scores[3];
    if (!ok || checkText.toLongLong() != expected) {
        if (refusal)
            *refusal = QStringLiteral("Your scores were not recorded: the check value does not match the scores.");
        return std::nullopt;
    }
    s.name = cleanPlayerName(QString::fromUtf8(QByteArray::fromPercentEncoding(values[4])));
    return s;
}

QByteArray formatReply(const WorldRecords& records, const QString& message)
{
    QStringList fields;
    fields << QStringLiteral("Zimble World Scores");
    for (const WorldRecord& r : records)
        fields << QString::number(r.score);
    for (const WorldRecord& r : records)
        fields << QString(r.holder).replace(QLatin1Char('|'), QLatin1Char(' ')).replace(QLatin1Char(' '), QStringLiteral("%20"));
    fields << QString(message).replace(QLatin1Char('|'), QLatin1Char(' '));
    return toCp1252(fields.join(QLatin1Char('|')));
}

QString thanksMessage(const QString& name, const QList<int>& newRecords)
{
    if (newRecords.isEmpty())
        return QStringLiteral("Thank you, %1. Your scores have been recorded.").arg(name);
    return QStringLiteral("Congratulations, %1! You set the new world record for the %2 board%3.")
        .arg(name, joinBoards(newRecords), newRecords.size() > 1 ? QStringLiteral("s") : QString());
}

} // namespace zimble::server
