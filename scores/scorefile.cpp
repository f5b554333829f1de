#include "scorefile.h"

#include "codepage.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
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

QString describe(const QString& action, const QString& fileName, const QString& reason)
{
    return QStringLiteral("The score file \"%1\" could not be %2: %3.").arg(fileName, action, reason);
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

bool loadScores(const QString& fileName, ScoreRecord& record, QString* error)
{
    QFile file(fileName);
    if (!file.exists()) {
        // An absent file is created empty; it reads as a record of zero bytes.
        QFile created(fileName);
        if (!created.open(QIODevice::WriteOnly | QIODevice::NewOnly) && !created.exists()) {
            if (error)
                *error = describe(QStringLiteral("created"), fileName, created.errorString());
            return false;
        }
    }
    if (QFileInfo(fileName).isDir()) {
        if (error)
            *error = describe(QStringLiteral("read"), fileName, QStringLiteral("it is a directory"));
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = describe(QStringLiteral("read"), fileName, file.errorString());
        return false;
    }
    const QByteArray bytes = file.read(ScoreRecordSize);
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = describe(QStringLiteral("read"), fileName, file.errorString());
        return false;
    }
    record = decodeRecord(bytes);
    return true;
}

bool saveScores(const QString& fileName, const ScoreRecord& record, QString* error)
{
    // Keep whatever follows the record in a longer file.
    QByteArray trailing;
    QFile existing(fileName);
    if (existing.exists()) {
        if (QFileInfo(fileName).isDir() || !existing.open(QIODevice::ReadOnly)) {
            if (error)
                *error = describe(QStringLiteral("written"), fileName,
                                  QFileInfo(fileName).isDir() ? QStringLiteral("it is a directory") : existing.errorString());
            return false;
        }
        const QByteArray all = existing.readAll();
        if (existing.error() != QFileDevice::NoError) {
            if (error)
                *error = describe(QStringLiteral("written"), fileName, existing.errorString());
            return false;
        }
        if (all.size() > ScoreRecordSize)
            trailing = all.mid(ScoreRecordSize);
        existing.close();
    }

    QSaveFile out(fileName);
    if (!out.open(QIODevice::WriteOnly)) {
        if (error)
            *error = describe(QStringLiteral("written"), fileName, out.errorString());
        return false;
    }
    const QByteArray bytes = encodeRecord(record) + trailing;
    if (out.write(bytes) != bytes.size() || !out.commit()) {
        if (error)
            *error = describe(QStringLiteral("written"), fileName, out.errorString());
        out.cancelWriting();
        return false;
    }
    return true;
}

} // namespace zimble
