// Export, import and backup (transfer.h), and the store's calls that run them.

#include "transfer.h"
#include "copytarget.h"
#include "csv.h"
#include "isotime.h"
#include "database.h"
#include "scorestore.h"

#include "scores/exchange.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryFile>
#include <QUtf8StringView>

#include <cstdio>
#include <limits>

namespace zimble::server {

namespace {

const QByteArray CsvHeader = "time,board,zq,name,verified";

// A ZQ with up to four decimals, made a whole number as the game does (halves to even).
std::optional<qint64> parseZq(const QByteArray& text, QString* why)
{
    const qsizetype dot = text.indexOf('.');
    const QByteArray whole = dot < 0 ? text : text.left(dot);
    const QByteArray fraction = dot < 0 ? QByteArray() : text.mid(dot + 1);
    auto allDigits = [](const QByteArray& s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (whole.isEmpty() || whole.size() > 12 || !allDigits(whole) || (dot >= 0 && (fraction.isEmpty() || fraction.size() > 4))
        || !allDigits(fraction)) {
        *why = QStringLiteral("zq \"%1\" is not a number with at most four decimals").arg(QString::fromUtf8(text.left(40)));
        return std::nullopt;
    }
    qint64 value = whole.toLongLong();
    const int tenThousandths = fraction.leftJustified(4, '0').toInt();
    if (tenThousandths > 5000 || (tenThousandths == 5000 && value % 2 == 1))
        ++value;
    if (value <= 0) {
        *why = QStringLiteral("zq must be above zero");
        return std::nullopt;
    }
    if (value > MaxScoreValue) {
        *why = QStringLiteral("zq is larger than %1, the most the game can show").arg(MaxScoreValue);
        return std::nullopt;
    }
    return value;
}

struct ImportRow {
    qint64 ms = 0;
    QByteArray time; // ISO 8601, UTC, milliseconds
    int board = 0;
    qint64 score = 0;
    QByteArray utf8Name; // cleaned
    bool verified = false;
};

std::optional<ImportRow> parseRow(const QList<QByteArray>& f, qint64 nowMs, QString* why)
{
    if (f.size() != 5) {
        *why = QStringLiteral("expected 5 fields (time,board,zq,name,verified), found %1").arg(f.size());
        return std::nullopt;
    }
    ImportRow row;
    std::optional<qint64> ms = parseUtcIso(f[0]);
    if (!ms) {
        const QDateTime t = QDateTime::fromString(QString::fromUtf8(f[0]), Qt::ISODateWithMs);
        if (t.isValid() && t.timeSpec() != Qt::LocalTime)
            ms = t.toMSecsSinceEpoch();
    }
    if (!ms) {
        *why = QStringLiteral("time \"%1\" is not an ISO 8601 date and time such as 2026-05-04T12:30:00Z")
                   .arg(QString::fromUtf8(f[0].left(40)));
        return std::nullopt;
    }
    if (*ms > nowMs + 24 * 3600 * 1000) {
        *why = QStringLiteral("time %1 lies in the future").arg(QString::fromUtf8(f[0]));
        return std::nullopt;
    }
    row.ms = *ms;
    row.time = utcIsoLatin1(*ms);
    bool ok = false;
    row.board = f[1].toInt(&ok);
    if (!ok || row.board < FirstBoard || row.board > LastBoard || f[1].size() != 1) {
        *why = QStringLiteral("board \"%1\" is not a board size from %2 to %3").arg(QString::fromUtf8(f[1].left(40)), QString::number(MinBoardSize), QString::number(MaxBoardSize));
        return std::nullopt;
    }
    const std::optional<qint64> score = parseZq(f[2], why);
    if (!score)
        return std::nullopt;
    row.score = *score;
    if (!QUtf8StringView(f[3]).isValidUtf8()) {
        *why = QStringLiteral("the name is not UTF-8");
        return std::nullopt;
    }
    // Names are kept as the service keeps a submitted one: control and format characters gone.
    // Plain short ASCII names, most of them, are already clean.
    const QByteArray& name = f[3];
    const bool plain = !name.isEmpty() && name.size() <= MaxPlayerNameLength && name.front() != ' ' && name.back() != ' '
        && std::all_of(name.begin(), name.end(), [](char c) { return c >= ' ' && c < 127 && c != '|'; });
    row.utf8Name = plain ? name : cleanPlayerName(QString::fromUtf8(name)).toUtf8();
    if (f[4] != "true" && f[4] != "false") {
        *why = QStringLiteral("verified must be true or false, not \"%1\"").arg(QString::fromUtf8(f[4].left(40)));
        return std::nullopt;
    }
    row.verified = f[4] == "true";
    return row;
}

// Each imported name's best on each board: the highest score, the first row of equal ones.
struct ImportedBest {
    qint64 score = 0;
    qint64 id = 0;
    qint64 ms = 0;
};
using ImportedBests = QHash<QByteArray, std::array<ImportedBest, BoardSizeCount>>;

} // namespace

Status CsvExport::run(QIODevice& out, qint64* rows)
{
    *rows = 0;
    QSqlQuery q = m_db.query();
    QString sql = QStringLiteral("SELECT s.id, s.submitted_at, s.name, s.score4, s.score5, s.score6, s.score7");
    for (int board = FirstBoard; board <= LastBoard; ++board)
        sql += QStringLiteral(", EXISTS (SELECT 1 FROM replays r WHERE r.submission_id = s.id AND r.board = %1 "
                              "AND r.verified = 1)")
                   .arg(board);
    sql += QStringLiteral(" FROM submissions s WHERE s.id > ? ORDER BY s.id LIMIT 5000");
    if (Status s = m_db.prepare(q, sql); !s)
        return s;
    if (out.write(CsvHeader + "\r\n") < 0)
        return Status::badInput(out.errorString());
    qint64 from = 0;
    for (;;) {
        q.bindValue(0, from);
        if (Status s = m_db.run(q); !s)
            return s;
        int read = 0;
        QByteArray chunk;
        while (q.next()) {
            ++read;
            from = q.value(0).toLongLong();
            const QByteArray time = q.value(1).toString().toUtf8();
            const QByteArray name = csvField(q.value(2).toString().toUtf8());
            for (int i = 0; i < BoardSizeCount; ++i) {
                const qint64 score = q.value(3 + i).toLongLong();
                if (score <= 0)
                    continue;
                chunk += csvField(time) + ',' + QByteArray::number(FirstBoard + i) + ',' + QByteArray::number(score) + ','
                    + name + ',' + (q.value(7 + i).toBool() ? "true" : "false") + "\r\n";
                ++*rows;
            }
        }
        q.finish();
        if (out.write(chunk) < 0)
            return Status::badInput(out.errorString());
        if (read < 5000)
            return {};
    }
}

Status CsvImport::run(QIODevice& in, ImportOutcome* outcome, bool refuseDuplicates)
{
    *outcome = {};
    Status s = importRows(in, outcome, refuseDuplicates);
    if (s)
        return s;
    m_db.rollback();
    *outcome = {};
    return s;
}

namespace {

// The statements an import runs besides a submission's: the records locked, a verified row's
// replay, the look for the same row stored before, and the verified record raised.
struct ImportStatements {
    explicit ImportStatements(Database& db)
        : db(db), lockRecords(db.query()), lockVerified(db.query()), replay(db.query()), raiseVerified(db.query()), lastId(db.query())
    {
        for (QSqlQuery& q : stored)
            q = db.query();
    }
    Status prepare()
    {
        const QString lock = db.lockRows();
        Status s = db.prepare(lockRecords, QStringLiteral("SELECT board, score, holder, set_at FROM records ORDER BY board") + lock);
        if (s)
            s = db.prepare(lockVerified, QStringLiteral("SELECT board, score, holder, set_at FROM verified_records ORDER BY board") + lock);
        if (s)
            s = db.prepare(replay, QStringLiteral("INSERT INTO replays (submission_id, board, name, score, cycles, clicks, "
                                                  "verified, reason, client, received_at) "
                                                  "VALUES (?, ?, ?, ?, 0, '', 1, 'imported', 'import', ?)"));
        if (s)
            s = db.prepare(raiseVerified, QString::fromLatin1(sql::RaiseVerifiedRecord));
        for (int i = 0; s && i < BoardSizeCount; ++i) {
            const QString sql =
                QStringLiteral("SELECT 1 FROM submissions WHERE name = ? AND submitted_at = ? AND score%1 = ? AND id <= ? LIMIT 1")
                    .arg(FirstBoard + i);
            s = db.prepare(stored[size_t(i)], sql);
        }
        if (s)
            s = db.prepare(lastId, QStringLiteral("SELECT COALESCE(MAX(id), 0) FROM submissions"));
        if (s)
            s = db.run(lastId);
        storedUpTo = s && lastId.next() ? lastId.value(0).toLongLong() : 0;
        lastId.finish();
        return s;
    }
    // Whether the row was stored before this import began (rows of the import itself do not
    // count); no look at all into a database that was empty then, as when a backup is restored.
    Status isStored(const ImportRow& row, bool* found)
    {
        *found = false;
        if (storedUpTo == 0)
            return {};
        QSqlQuery& q = stored[size_t(row.board - FirstBoard)];
        q.bindValue(0, QString::fromUtf8(row.utf8Name));
        q.bindValue(1, QString::fromLatin1(row.time));
        q.bindValue(2, row.score);
        q.bindValue(3, storedUpTo);
        if (Status s = db.run(q); !s)
            return s;
        *found = q.next();
        q.finish();
        return {};
    }
    Status storeReplay(const ImportRow& row, qint64 id)
    {
        replay.bindValue(0, id);
        replay.bindValue(1, row.board);
        replay.bindValue(2, QString::fromUtf8(row.utf8Name));
        replay.bindValue(3, row.score);
        replay.bindValue(4, QString::fromLatin1(row.time));
        return db.run(replay);
    }
    Status raiseVerifiedRecord(int board, qint64 score, const QByteArray& name, const QByteArray& time, qint64 id)
    {
        const QVariant values[] = {score, QString::fromUtf8(name), QString::fromLatin1(time), id, board, score, score, id};
        for (int i = 0; i < int(std::size(values)); ++i)
            raiseVerified.bindValue(i, values[i]);
        return db.run(raiseVerified);
    }
    Database& db;
    QSqlQuery lockRecords, lockVerified, replay, raiseVerified, lastId;
    std::array<QSqlQuery, BoardSizeCount> stored;
    qint64 storedUpTo = 0; // the last submission stored before the import
};

// What the rows read so far raise: each board's highest (of all and of verified rows) and each
// name's best on each board, the first row of equal scores.
struct ImportTally {
    struct Candidate {
        qint64 score = 0;
        qint64 id = 0;
        QByteArray name, time;
    };
    std::array<Candidate, BoardSizeCount> best, bestVerified;
    ImportedBests bests;

    void add(const ImportRow& row, qint64 id)
    {
        const int i = row.board - FirstBoard;
        ImportedBest& mine = bests[row.utf8Name][size_t(i)];
        if (row.score > mine.score)
            mine = {row.score, id, row.ms};
        if (row.score > best[i].score)
            best[i] = {row.score, id, row.utf8Name, row.time};
        if (row.verified && row.score > bestVerified[i].score)
            bestVerified[i] = {row.score, id, row.utf8Name, row.time};
    }
};

// Stores every row after the header, each as a submission (and a replay when verified).
Status storeRows(CsvReader& csv, SubmissionWriter& writer, ImportStatements& statements, bool refuseDuplicates,
                 ImportOutcome* outcome, ImportTally& tally)
{
    QList<QByteArray> fields;
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    while (csv.next(fields)) {
        QString why;
        if (fields.size() == 1 && fields[0].isEmpty())
            continue; // a blank line
        const std::optional<ImportRow> row = parseRow(fields, nowMs, &why);
        if (!row)
            return Status::badInput(QStringLiteral("line %1: %2").arg(csv.recordLine()).arg(why));
        bool stored = false;
        if (Status s = statements.isStored(*row, &stored); !s)
            return s;
        if (stored && refuseDuplicates)
            return Status::badInput(QStringLiteral("line %1: the same row is stored already").arg(csv.recordLine()));
        outcome->duplicates += stored ? 1 : 0;
        std::array<qint64, BoardSizeCount> scores{};
        scores[size_t(row->board - FirstBoard)] = row->score;
        qint64 id = 0;
        if (Status s = writer.insert(row->utf8Name, scores, "import", row->time, &id); !s)
            return s;
        if (row->verified) {
            if (Status s = statements.storeReplay(*row, id); !s)
                return s;
        }
        ++outcome->rows;
        tally.add(*row, id);
    }
    if (!csv.error().isEmpty())
        return Status::badInput(QStringLiteral("line %1: %2").arg(csv.recordLine()).arg(csv.error()));
    return {};
}

// Each imported name's best on each board joins the bests, in the table's order (by name, then
// board), and a higher score takes the board's record (of all, of verified games).
Status raiseBestsAndRecords(const ImportTally& tally, SubmissionWriter& writer, ImportStatements& statements,
                            const WorldRecords& records, const WorldRecords& verified)
{
    std::vector<ImportedBests::const_iterator> byName;
    byName.reserve(size_t(tally.bests.size()));
    for (auto it = tally.bests.cbegin(); it != tally.bests.cend(); ++it)
        byName.push_back(it);
    std::sort(byName.begin(), byName.end(), [](const auto& a, const auto& b) { return a.key() < b.key(); });
    for (const auto& it : byName) {
        std::array<BestOffer, BoardSizeCount> offers;
        std::array<QByteArray, BoardSizeCount> times;
        size_t offered = 0;
        for (int i = 0; i < BoardSizeCount; ++i) {
            const ImportedBest& b = it.value()[size_t(i)];
            if (b.score <= 0)
                continue;
            times[offered] = utcIsoLatin1(b.ms);
            offers[offered] = {FirstBoard + i, b.score, b.id, times[offered]};
            ++offered;
        }
        if (Status s = writer.raiseBests(it.key(), std::span(offers.data(), offered)); !s)
            return s;
    }
    for (int board = FirstBoard; board <= LastBoard; ++board) {
        const int i = board - FirstBoard;
        bool raised = false;
        const ImportTally::Candidate& top = tally.best[i];
        if (top.score > records[i].score) {
            if (Status s = writer.raiseRecord(board, top.score, top.name, top.time, &raised); !s)
                return s;
        }
        const ImportTally::Candidate& v = tally.bestVerified[i];
        if (v.score > verified[i].score) {
            if (Status s = statements.raiseVerifiedRecord(board, v.score, v.name, v.time, v.id); !s)
                return s;
        }
    }
    return {};
}

} // namespace

Status CsvImport::importRows(QIODevice& in, ImportOutcome* outcome, bool refuseDuplicates)
{
    CsvReader csv(in);
    QList<QByteArray> fields;
    if (!csv.next(fields) || fields.join(',') != CsvHeader) {
        return Status::badInput(csv.error().isEmpty()
                                    ? QStringLiteral("line 1: the first line must be \"%1\"").arg(QString::fromLatin1(CsvHeader))
                                    : QStringLiteral("line 1: ") + csv.error());
    }
    if (Status s = m_db.prepareBulkWrite(); !s)
        return s;
    if (Status s = m_db.beginWrite(); !s)
        return s;
    ImportStatements statements(m_db);
    if (Status s = statements.prepare(); !s)
        return s;
    // The records are locked, as by every writer.
    WorldRecords records, verified;
    if (Status s = readRecordRows(m_db, statements.lockRecords, records); !s)
        return s;
    if (Status s = readRecordRows(m_db, statements.lockVerified, verified); !s)
        return s;
    ImportTally tally;
    if (Status s = storeRows(csv, m_writer, statements, refuseDuplicates, outcome, tally); !s)
        return s;
    if (Status s = raiseBestsAndRecords(tally, m_writer, statements, records, verified); !s)
        return s;
    // Running services read their standings anew, as after a moderation, rather than row by row.
    if (Status s = m_db.exec(QStringLiteral("UPDATE moderation SET generation = generation + 1 WHERE id = 1")); !s)
        return s;
    if (Status s = m_db.notifyOthers(); !s)
        return s;
    return m_db.commit();
}

Status Backup::to(const QString& file)
{
    // The copy must replace neither the database it copies nor its write-ahead log, shared memory
    // or journal (services would go on writing a deleted file, or lose committed transactions).
    if (const QString problem = copyTargetProblem(file, m_location); !problem.isEmpty())
        return Status::badInput(problem);
    return m_db.backup(file);
}

Status ScoreStore::exportCsv(QIODevice& out, qint64* rows)
{
    return CsvExport(*m_db).run(out, rows);
}

Status ScoreStore::importCsv(QIODevice& in, ImportOutcome* outcome, bool refuseDuplicates)
{
    m_afterBatch.reset();
    return CsvImport(*m_db, *m_writer).run(in, outcome, refuseDuplicates);
}

Status ScoreStore::backup(const QString& file)
{
    return Backup(*m_db, m_location).to(file);
}

} // namespace zimble::server
