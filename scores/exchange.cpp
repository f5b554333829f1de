#include "exchange.h"

#include "codepage.h"
#include "scorefile.h"

#include "game/gamestate.h"

#include <QRegularExpression>
#include <QStringList>

#include <cmath>
#include <limits>

namespace zimble {

namespace {

// A score in a request: a whole number from 0 to MaxScoreValue in plain decimal digits.
std::optional<qint64> parseWholeScore(const QByteArray& text)
{
    if (text.isEmpty() || text.size() > 10)
        return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    const qint64 v = text.toLongLong();
    if (v > MaxScoreValue)
        return std::nullopt;
    return v;
}

// A number in a reply: plain decimal, optional sign and fraction.
std::optional<double> parseReplyNumber(const QString& field)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*[-+]?(\\d+(\\.\\d*)?|\\.\\d+)\\s*$"));
    if (!pattern.match(field).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = field.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

qint64 checkValue(const BoardScores& b)
{
    return 2 * b[0] + 3 * b[1] + 5 * b[2] + 4 * b[3];
}

QString requestTarget(const BoardScores& b, const QString& name)
{
    return QStringLiteral("/zm2.asp?%1&%2&%3&%4&%5&%6").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]).arg(name).arg(checkValue(b));
}

QString replaceReservedCharacters(const QString& name)
{
    QString s = name;
    for (QChar& ch : s) {
        if (ch == QLatin1Char('|') || ch == QLatin1Char('<') || ch == QLatin1Char('>') || ch == QLatin1Char('&')
            || ch == QLatin1Char(','))
            ch = QLatin1Char(' ');
    }
    return s;
}

QString replaceControlCharacters(const QString& text)
{
    QString s = text;
    for (QChar& ch : s) {
        const char16_t u = ch.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029)
            ch = QLatin1Char(' ');
    }
    return s;
}

QString cleanPlayerName(const QString& raw)
{
    QString s;
    s.reserve(raw.size());
    bool visible = false;
    for (const char32_t c : raw.toUcs4()) {
        const QChar::Category cat = QChar::category(c);
        const bool control = cat == QChar::Other_Control || c == 0x2028 || c == 0x2029;
        // Format characters (bidi overrides and isolates, zero-width spaces, ...) are dropped:
        // they would reorder or hide what others see. Joiners stay inside visible text.
        if (cat == QChar::Other_Format && c != 0x200C && c != 0x200D)
            continue;
        const bool blank = control || cat == QChar::Separator_Space || cat == QChar::Other_Format
            || cat == QChar::Other_NotAssigned || cat == QChar::Other_Surrogate || c == 0x115F || c == 0x1160
            || c == 0x3164 || c == 0xFFA0 || c == 0x2800;
        visible = visible || (!blank && c != U'|');
        if (control || c == U'|')
            s.append(QLatin1Char(' '));
        else
            s.append(QString::fromUcs4(&c, 1));
    }
    // A name of nothing but blanks and invisible characters is no name.
    s = visible ? s.trimmed() : QString();
    QList<uint> cps = s.toUcs4();
    if (cps.size() > MaxPlayerNameLength) {
        cps.resize(MaxPlayerNameLength);
        s = QString::fromUcs4(reinterpret_cast<const char32_t*>(cps.constData()), cps.size()).trimmed();
    }
    return s.isEmpty() ? QStringLiteral("Anonymous") : s;
}

std::optional<ScoreReply> parseReply(const QString& body)
{
    const QStringList fields = body.split(QLatin1Char('|'));
    if (fields.size() < ReplyFieldCount)
        return std::nullopt;
    ScoreReply r;
    for (int i = 0; i < BoardCount; ++i) {
        // A world high is a score the displays can show; anything else is no reply of a score service.
        const auto high = parseReplyNumber(fields[1 + i]);
        if (!high || !isShowableScore(FixedPoint::fromDouble(*high)))
            return std::nullopt;
        r.highs[i] = *high;
        const QString holder = QString(fields[5 + i]).replace(QStringLiteral("%20"), QStringLiteral(" "));
        r.holders[i] = replaceReservedCharacters(replaceControlCharacters(holder));
    }
    r.message = replaceControlCharacters(fields[9]);
    return r;
}

QByteArray formatReplyHead(const BoardScores& highs, const std::array<QString, BoardCount>& holders)
{
    QStringList fields;
    fields << QStringLiteral("Zimble World Scores");
    for (qint64 h : highs)
        fields << QString::number(h);
    for (const QString& holder : holders)
        fields << QString(holder).replace(QLatin1Char('|'), QLatin1Char(' ')).replace(QLatin1Char(' '), QStringLiteral("%20"));
    fields << QString();
    return toCp1252(fields.join(QLatin1Char('|')));
}

QByteArray formatReply(const QByteArray& head, const QString& message)
{
    return head + toCp1252(QString(message).replace(QLatin1Char('|'), QLatin1Char(' ')));
}

QByteArray formatReply(const BoardScores& highs, const std::array<QString, BoardCount>& holders, const QString& message)
{
    return formatReply(formatReplyHead(highs, holders), message);
}

std::optional<ScoreSubmission> parseSubmission(const QByteArray& rawQuery, QString* refusal)
{
    auto refuse = [refusal](const QString& why) -> std::optional<ScoreSubmission> {
        if (refusal)
            *refusal = why;
        return std::nullopt;
    };
    const QList<QByteArray> values = rawQuery.split('&');
    if (values.size() != 6)
        return refuse(QStringLiteral("Your scores were not recorded: the request must carry exactly six values."));
    ScoreSubmission s;
    for (int i = 0; i < BoardCount; ++i) {
        const auto v = parseWholeScore(QByteArray::fromPercentEncoding(values[i]));
        if (!v)
            return refuse(QStringLiteral("Your scores were not recorded: each score must be a whole number from 0 to 999999999."));
        s.scores[i] = *v;
    }
    const QByteArray checkText = QByteArray::fromPercentEncoding(values[5]);
    bool ok = checkText.size() <= 12 && !checkText.isEmpty();
    for (char c : checkText)
        ok = ok && c >= '0' && c <= '9';
    if (!ok || checkText.toLongLong() != checkValue(s.scores))
        return refuse(QStringLiteral("Your scores were not recorded: the check value does not match the scores."));
    s.name = cleanPlayerName(decodeName(QByteArray::fromPercentEncoding(values[4])));
    return s;
}

namespace {

const QString ClickLetters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvw");
constexpr int MaxReplayClicks = HitsToRemoveTile * TilePoolSize;

} // namespace

QString encodeClicks(const std::vector<std::int32_t>& clicks)
{
    QString out;
    out.reserve(qsizetype(clicks.size()));
    for (std::int32_t tile : clicks)
        out.append(tile >= 0 && tile < ClickLetters.size() ? ClickLetters.at(tile) : QLatin1Char('?'));
    return out;
}

std::optional<std::vector<std::int32_t>> decodeClicks(const QString& letters)
{
    if (letters.size() > MaxReplayClicks)
        return std::nullopt;
    std::vector<std::int32_t> clicks;
    clicks.reserve(std::size_t(letters.size()));
    for (QChar ch : letters) {
        const qsizetype tile = ClickLetters.indexOf(ch);
        if (tile < 0)
            return std::nullopt;
        clicks.push_back(std::int32_t(tile));
    }
    return clicks;
}

QString encodeClickCycles(const std::vector<std::int32_t>& cycles)
{
    QString out;
    out.reserve(qsizetype(cycles.size()));
    std::int64_t previous = 0;
    for (std::int32_t c : cycles) {
        const std::int64_t step = std::int64_t(c) - previous;
        previous = c;
        if (step < 0)
            out.append(QLatin1Char('-'));
        const QByteArray digits = QByteArray::number(step < 0 ? -step : step);
        for (qsizetype i = 0; i + 1 < digits.size(); ++i)
            out.append(QLatin1Char(char('a' + (digits[i] - '0'))));
        out.append(QLatin1Char(digits.back()));
    }
    return out;
}

std::optional<std::vector<std::int32_t>> decodeClickCycles(QStringView steps, std::size_t maxValues)
{
    constexpr int MaxStepDigits = 9; // a step below 10^9, so no sum of two overflows 64 bits
    std::vector<std::int32_t> cycles;
    std::int64_t clock = 0, step = 0;
    int digits = 0;
    bool back = false;
    for (QChar ch : steps) {
        const char16_t u = ch.unicode();
        if (u == u'-' && digits == 0 && !back) {
            back = true;
            continue;
        }
        const bool last = u >= u'0' && u <= u'9';
        if (!last && !(u >= u'a' && u <= u'j'))
            return std::nullopt;
        if (++digits > MaxStepDigits)
            return std::nullopt;
        step = step * 10 + (last ? u - u'0' : u - u'a');
        if (!last)
            continue;
        clock += back ? -step : step;
        if (clock < std::numeric_limits<std::int32_t>::min() || clock > std::numeric_limits<std::int32_t>::max()
            || cycles.size() >= maxValues)
            return std::nullopt;
        cycles.push_back(std::int32_t(clock));
        step = 0, digits = 0, back = false;
    }
    if (digits != 0 || back)
        return std::nullopt; // a step begun but never ended by its digit
    return cycles;
}

QString replayRequestTarget(const QString& name, const std::vector<SubmittedReplay>& replays)
{
    QString target = QStringLiteral("/zr.asp?") + name;
    for (const SubmittedReplay& r : replays) {
        target += QStringLiteral("&%1.%2.%3.%4")
                      .arg(r.replay.boardSize)
                      .arg(r.whole)
                      .arg(r.replay.clockCycles)
                      .arg(encodeClicks(r.replay.clicks));
        if (r.replay.hasClickCycles())
            target += QLatin1Char('.') + encodeClickCycles(r.replay.clickCycles);
    }
    return target;
}

std::optional<ReplaySubmission> parseReplaySubmission(const QByteArray& rawQuery, QString* refusal)
{
    auto refuse = [refusal](const QString& why) -> std::optional<ReplaySubmission> {
        if (refusal)
            *refusal = why;
        return std::nullopt;
    };
    const QList<QByteArray> values = rawQuery.split('&');
    if (values.size() > 1 + MaxReplaysPerRequest)
        return refuse(QStringLiteral("Your replays were not checked: the request carries too many of them."));
    ReplaySubmission s;
    s.name = cleanPlayerName(decodeName(QByteArray::fromPercentEncoding(values.value(0))));
    for (int i = 1; i < values.size(); ++i) {
        const QList<QByteArray> parts = QByteArray::fromPercentEncoding(values[i]).split('.');
        bool boardOk = false, wholeOk = false, cyclesOk = false;
        const int board = parts.value(0).toInt(&boardOk);
        const qint64 whole = parts.value(1).toLongLong(&wholeOk);
        const int cycles = parts.value(2).toInt(&cyclesOk);
        const auto clicks = decodeClicks(QString::fromLatin1(parts.value(3)));
        // Each click's clock, when sent; a replay kept before the game recorded them has none.
        const auto clickCycles = parts.size() == 5 ? decodeClickCycles(QString::fromLatin1(parts[4]), MaxReplayClicks)
                                                   : std::optional(std::vector<std::int32_t>());
        if ((parts.size() != 4 && parts.size() != 5) || !boardOk || !wholeOk || !cyclesOk || !clicks
            || !isBoardSize(board) || !clickCycles || (parts.size() == 5 && clickCycles->empty()))
            return refuse(QStringLiteral("Your replays were not checked: a replay could not be read."));
        if (clickCycles->size() > clicks->size())
            return refuse(QStringLiteral("Your replays were not checked: a replay has more clock values than clicks."));
        for (const SubmittedReplay& earlier : s.replays) {
            if (earlier.replay.boardSize == board)
                return refuse(QStringLiteral("Your replays were not checked: a board was sent twice."));
        }
        s.replays.push_back({whole, GameReplay{board, cycles, *clicks, *clickCycles}});
    }
    return s;
}

} // namespace zimble
