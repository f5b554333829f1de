#include "replayfile.h"

#include "exchange.h"
#include "filecheck.h"

#include "game/boardsize.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace zimble {

namespace {

const QByteArray Header = "Zimble replays, version ";

bool fail(QString* error, const QString& action, const QString& fileName, const QString& reason)
{
    if (error)
        *error = describeFileError(QStringLiteral("replay file"), action, fileName, reason);
    return false;
}

} // namespace

QByteArray encodeReplayRecord(const ReplayRecord& record)
{
    QByteArray out = Header + QByteArray::number(ReplayFileVersion) + '\n';
    for (int board = MinBoardSize; board <= MaxBoardSize; ++board) {
        if (const auto& r = record.byBoard[std::size_t(board)]) {
            out += QByteArray::number(board) + ' ' + QByteArray::number(r->clockCycles) + ' '
                + encodeClicks(r->clicks).toLatin1();
            if (r->hasClickCycles())
                out += ' ' + encodeClickCycles(r->clickCycles).toLatin1();
            out += '\n';
        }
    }
    return out;
}

std::optional<ReplayRecord> decodeReplayRecord(const QByteArray& bytes, QString* reason)
{
    auto refuse = [reason](const QString& why) -> std::optional<ReplayRecord> {
        if (reason)
            *reason = why;
        return std::nullopt;
    };
    QList<QByteArray> lines = bytes.split('\n');
    if (lines.isEmpty() || !lines.first().startsWith(Header))
        return refuse(QStringLiteral("it is not a replay file"));
    bool ok = false;
    const int version = lines.first().mid(Header.size()).trimmed().toInt(&ok);
    if (!ok)
        return refuse(QStringLiteral("it is not a replay file"));
    if (version != 1 && version != ReplayFileVersion)
        return refuse(QStringLiteral("it is of version %1, which this game cannot read").arg(version));
    // Version 1 kept no clock per click.
    const qsizetype maxParts = version == 1 ? 3 : 4;
    ReplayRecord record;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty())
            continue;
        const QList<QByteArray> parts = line.split(' ');
        bool boardOk = false, cyclesOk = false;
        const int board = parts.value(0).toInt(&boardOk);
        const int cycles = parts.value(1).toInt(&cyclesOk);
        const std::optional<std::vector<std::int32_t>> clicks = decodeClicks(QString::fromLatin1(parts.value(2)));
        // The game keeps one clock per click, or none.
        const std::optional<std::vector<std::int32_t>> clickCycles = parts.size() == 4 && clicks
            ? decodeClickCycles(QString::fromLatin1(parts[3]), clicks->size())
            : std::optional(std::vector<std::int32_t>());
        if (parts.size() < 3 || parts.size() > maxParts || !boardOk || !cyclesOk || !isBoardSize(board) || cycles < 0
            || !clicks || !clickCycles || (parts.size() == 4 && clickCycles->size() != clicks->size())
            || record.byBoard[std::size_t(board)])
            return refuse(QStringLiteral("line %1 is damaged").arg(i + 1));
        record.byBoard[std::size_t(board)] = GameReplay{board, cycles, *clicks, *clickCycles};
    }
    return record;
}

bool loadReplays(const QString& fileName, ReplayRecord& record, QString* error)
{
    const QString read = QStringLiteral("read");
    const QFileInfo info(fileName);
    if (!info.exists() && !info.isSymLink()) {
        record = ReplayRecord();
        return true;
    }
    if (!info.exists())
        return fail(error, read, fileName, QStringLiteral("it is a link to nothing"));
    if (const QString reason = unusableFileReason(info); !reason.isEmpty())
        return fail(error, read, fileName, reason);
    if (info.size() > MaxReplayFileSize)
        return fail(error, read, fileName, QStringLiteral("it is larger than %1 KiB").arg(MaxReplayFileSize / 1024));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, read, fileName, file.errorString());
    const QByteArray bytes = file.read(MaxReplayFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return fail(error, read, fileName, file.errorString());
    QString reason;
    const std::optional<ReplayRecord> decoded = decodeReplayRecord(bytes, &reason);
    if (!decoded)
        return fail(error, read, fileName, reason);
    record = *decoded;
    return true;
}

bool saveReplays(const QString& fileName, const ReplayRecord& record, QString* error)
{
    const QString written = QStringLiteral("written");
    const QFileInfo info(fileName);
    if (info.exists()) {
        if (const QString reason = unusableFileReason(info); !reason.isEmpty())
            return fail(error, written, fileName, reason);
    } else if (info.isSymLink()) {
        return fail(error, written, fileName, QStringLiteral("it is a link to nothing"));
    }
    QSaveFile out(fileName);
    if (!out.open(QIODevice::WriteOnly))
        return fail(error, written, fileName, out.errorString());
    const QByteArray bytes = encodeReplayRecord(record);
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return fail(error, written, fileName, out.errorString());
    }
    if (!out.commit())
        return fail(error, written, fileName, out.errorString());
    return true;
}

} // namespace zimble
