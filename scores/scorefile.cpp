#include "scorefile.h"

#include "codepage.h"
#include "filecheck.h"

#include "game/boardsize.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <QtEndian>

namespace zimble {

namespace {

constexpr int NumbersOffset = 0;
constexpr int WorldOffset = 88;
constexpr int HoldersOffset = 176;
constexpr int NameOffset = 726;

QString nulText()
{
    return QString(FixedTextLength, QChar(0));
}

} // namespace

ScoreRecord::ScoreRecord()
{
    holders.fill(nulText());
    playerName = nulText();
}

QString fixedText(const QString& text)
{
    QList<uint> cps = text.toUcs4();
    if (cps.size() > FixedTextLength)
        cps.resize(FixedTextLength);
    while (cps.size() < FixedTextLength)
        cps.append(' ');
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(cps.constData()), cps.size());
}

bool isShowableScore(FixedPoint value)
{
    return value.raw() >= 0 && value.raw() < MaxShownScore * FixedPoint::Scale + FixedPoint::Scale / 2;
}

namespace {

// Whether a stored name holds a control character other than the NUL padding at its end.
bool hasControlCharacters(const QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QChar(0))
        --end;
    for (qsizetype i = 0; i < end; ++i) {
        const char16_t u = text.at(i).unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0))
            return true;
    }
    return false;
}

QString boardName(int board)
{
    return QStringLiteral("%1 x %1").arg(board);
}

} // namespace

namespace {

// One value of the record that the game uses, and what is wrong with it, if anything.
struct Checked {
    QString name;   // "the 5 x 5 best"
    QString damage; // "is negative", or empty when sound
};

QString numberDamage(FixedPoint value)
{
    if (value.raw() < 0)
        return QStringLiteral("is negative");
    if (!isShowableScore(value))
        return QStringLiteral("is larger than the displays can show");
    return {};
}

QString textDamage(const QString& text)
{
    return hasControlCharacters(text) ? QStringLiteral("holds control characters") : QString();
}

// Checks every used value in the file's order and hands it to `visit` with its verdict.
template <typename Visit>
void checkRecord(ScoreRecord& record, Visit visit)
{
    for (int board = MinBoardSize; board <= MaxBoardSize; ++board)
        visit(Checked{QStringLiteral("the %1 best").arg(boardName(board)), numberDamage(record.bests[board])},
              [&] { record.bests[board] = FixedPoint(); });
    for (int board = MinBoardSize; board <= MaxBoardSize; ++board)
        visit(Checked{QStringLiteral("the %1 world high").arg(boardName(board)), numberDamage(record.worldHighs[board])},
              [&] { record.worldHighs[board] = FixedPoint(); });
    for (int board = MinBoardSize; board <= MaxBoardSize; ++board)
        visit(Checked{QStringLiteral("the %1 record holder's name").arg(boardName(board)), textDamage(record.holders[board])},
              [&] { record.holders[board] = nulText(); });
    visit(Checked{QStringLiteral("your name"), textDamage(record.playerName)}, [&] { record.playerName = nulText(); });
}

} // namespace

QString recordDamage(const ScoreRecord& record)
{
    QStringList found;
    ScoreRecord copy = record;
    checkRecord(copy, [&](const Checked& c, auto) {
        if (!c.damage.isEmpty())
            found << c.name + QLatin1Char(' ') + c.damage;
    });
    return found.join(QStringLiteral("; "));
}

QStringList resetDamagedValues(ScoreRecord& record)
{
    QStringList reset;
    checkRecord(record, [&](const Checked& c, auto resetValue) {
        if (!c.damage.isEmpty()) {
            resetValue();
            reset << c.name;
        }
    });
    return reset;
}

QString keepDamagedCopy(const QString& fileName, const QDateTime& when, QString* error)
{
    const QString base = fileName + QStringLiteral(".damaged-") + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QFile source(fileName);
    for (int n = 1; n <= 1000; ++n) {
        const QString copy = n == 1 ? base : base + QStringLiteral("-%1").arg(n);
        const QFileInfo taken(copy);
        if (taken.exists() || taken.isSymLink())
            continue;
        // QFile::copy never replaces an existing file, so a copy made meanwhile is kept too.
        if (source.copy(copy))
            return copy;
        if (QFileInfo::exists(copy))
            continue;
        break;
    }
    if (error)
        *error = describeFileError(QStringLiteral("score file"), QStringLiteral("copied aside"), fileName,
                                   source.errorString());
    return {};
}

QString shownText(const QString& stored)
{
    QString s = stored;
    const qsizetype nul = s.indexOf(QChar(0));
    if (nul >= 0)
        s.truncate(nul);
    return trimSpaces(s);
}

QString trimSpaces(const QString& s)
{
    qsizetype begin = 0, end = s.size();
    while (begin < end && s.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && s.at(end - 1) == QLatin1Char(' '))
        --end;
    return s.mid(begin, end - begin);
}

QByteArray encodeRecord(const ScoreRecord& r)
{
    QByteArray out(ScoreRecordSize, '\0');
    char* p = out.data();
    for (int i = 0; i < ScoreSlots; ++i) {
        qToLittleEndian<qint64>(r.bests[i].raw(), p + NumbersOffset + 8 * i);
        qToLittleEndian<qint64>(r.worldHighs[i].raw(), p + WorldOffset + 8 * i);
        const QByteArray holder = toCp1252(fixedText(r.holders[i]));
        std::copy(holder.begin(), holder.end(), p + HoldersOffset + FixedTextLength * i);
    }
    const QByteArray name = toCp1252(fixedText(r.playerName));
    std::copy(name.begin(), name.end(), p + NameOffset);
    return out;
}

ScoreRecord decodeRecord(const QByteArray& bytes)
{
    QByteArray b = bytes.left(ScoreRecordSize);
    b.append(QByteArray(ScoreRecordSize - b.size(), '\0'));
    const char* p = b.constData();
    ScoreRecord r;
    for (int i = 0; i < ScoreSlots; ++i) {
        r.bests[i] = FixedPoint::fromRaw(qFromLittleEndian<qint64>(p + NumbersOffset + 8 * i));
        r.worldHighs[i] = FixedPoint::fromRaw(qFromLittleEndian<qint64>(p + WorldOffset + 8 * i));
        r.holders[i] = fromCp1252(b.mid(HoldersOffset + FixedTextLength * i, FixedTextLength));
    }
    r.playerName = fromCp1252(b.mid(NameOffset, FixedTextLength));
    return r;
}

namespace {

bool fail(QString* error, const QString& action, const QString& fileName, const QString& reason)
{
    if (error)
        *error = describeFileError(QStringLiteral("score file"), action, fileName, reason);
    return false;
}

} // namespace

QString unusableFileReason(const QFileInfo& info)
{
    if (info.isDir())
        return QStringLiteral("it is a directory");
    if (!info.isFile())
        return QStringLiteral("it is not a regular file");
    if (info.size() > MaxScoreFileSize)
        return QStringLiteral("it is larger than %1 MiB").arg(MaxScoreFileSize / (1024 * 1024));
    return {};
}

QString describeFileError(const QString& what, const QString& action, const QString& fileName, const QString& reason)
{
    return QStringLiteral("The %1 \"%2\" could not be %3: %4.")
        .arg(what, fileName, action, reason.isEmpty() ? QStringLiteral("unknown error") : reason);
}

bool loadScores(const QString& fileName, ScoreRecord& record, QString* error)
{
    const QString read = QStringLiteral("read");
    QFileInfo info(fileName);
    if (!info.exists() && !info.isSymLink()) {
        // An absent file is created empty; it reads as a record of zero bytes.
        QFile created(fileName);
        if (!created.open(QIODevice::WriteOnly | QIODevice::NewOnly) && !created.exists())
            return fail(error, QStringLiteral("created"), fileName, created.errorString());
        info.refresh();
    }
    if (!info.exists())
        return fail(error, read, fileName, QStringLiteral("it is a link to nothing"));
    if (const QString reason = unusableFileReason(info); !reason.isEmpty())
        return fail(error, read, fileName, reason);
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, read, fileName, file.errorString());
    const QByteArray bytes = file.read(ScoreRecordSize);
    if (file.error() != QFileDevice::NoError)
        return fail(error, read, fileName, file.errorString());
    record = decodeRecord(bytes);
    return true;
}

bool saveScores(const QString& fileName, const ScoreRecord& record, QString* error)
{
    const QString written = QStringLiteral("written");
    const QFileInfo info(fileName);
    QFile existing(fileName);
    if (info.exists()) {
        if (const QString reason = unusableFileReason(info); !reason.isEmpty())
            return fail(error, written, fileName, reason);
        if (!existing.open(QIODevice::ReadOnly))
            return fail(error, written, fileName, existing.errorString());
    } else if (info.isSymLink()) {
        return fail(error, written, fileName, QStringLiteral("it is a link to nothing"));
    }

    QSaveFile out(fileName);
    if (!out.open(QIODevice::WriteOnly))
        return fail(error, written, fileName, out.errorString());
    auto abandon = [&](const QString& reason) {
        out.cancelWriting();
        return fail(error, written, fileName, reason);
    };
    const QByteArray bytes = encodeRecord(record);
    if (out.write(bytes) != bytes.size())
        return abandon(out.errorString());
    // Keep whatever follows the record in a longer file, copied in pieces so memory stays small.
    if (existing.isOpen() && existing.size() > ScoreRecordSize) {
        if (!existing.seek(ScoreRecordSize))
            return abandon(existing.errorString());
        qint64 copied = ScoreRecordSize;
        QByteArray chunk;
        while (!existing.atEnd()) {
            chunk = existing.read(64 * 1024);
            if (existing.error() != QFileDevice::NoError)
                return abandon(existing.errorString());
            if (chunk.isEmpty())
                break;
            copied += chunk.size();
            if (copied > MaxScoreFileSize)
                return abandon(QStringLiteral("it grew beyond %1 MiB").arg(MaxScoreFileSize / (1024 * 1024)));
            if (out.write(chunk) != chunk.size())
                return abandon(out.errorString());
        }
    }
    if (!out.commit())
        return fail(error, written, fileName, out.errorString());
    return true;
}

} // namespace zimble
