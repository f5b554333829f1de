// Export, import and backup: the moderation commands' siblings, run against the database while
// services may be using it.

#include "copytarget.h"
#include "csv.h"
#include "isotime.h"
#include "scorestore.h"
#include "sqlitehandle.h"

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

// The statements an import runs for each row: SQLite's own interface where the database is
// SQLite (several times faster than Qt's per-value variants), Qt's elsewhere.
class RowWriter {
public:
    RowWriter(const QSqlDatabase& db, bool sqlite) : m_db(db), m_handle(sqlite ? sqliteHandle(db) : nullptr) {}
    ~RowWriter()
    {
        sqlite3_finalize(m_submission);
        sqlite3_finalize(m_replay);
        sqlite3_finalize(m_best);
    }
    bool prepare(QString* error)
    {
        const char* submission = "INSERT INTO submissions (name, score4, score5, score6, score7, client, submitted_at) "
                                 "VALUES (?, ?, ?, ?, ?, 'import', ?) RETURNING id";
        const char* replay = "INSERT INTO replays (submission_id, board, name, score, cycles, clicks, verified, reason, "
                             "client, received_at) VALUES (?, ?, ?, ?, 0, '', 1, 'imported', 'import', ?)";
        // Strictly higher replaces a best; an equal score keeps the earlier submission.
        const char* best = "INSERT INTO bests (board, name, score, submission_id, set_at) VALUES (?, ?, ?, ?, ?) "
                           "ON CONFLICT (board, name) DO UPDATE SET score = excluded.score, "
                           "submission_id = excluded.submission_id, set_at = excluded.set_at "
                           "WHERE excluded.score > bests.score";
        if (m_handle && sqlite3_prepare_v2(m_handle, best, -1, &m_best, nullptr) != SQLITE_OK) {
            *error = QString::fromUtf8(sqlite3_errmsg(m_handle));
            return false;
        }
        if (!m_handle) {
            m_qBest = std::make_unique<QSqlQuery>(m_db);
            if (!m_qBest->prepare(QString::fromLatin1(best))) {
                *error = m_qBest->lastError().text();
                return false;
            }
        }
        if (m_handle) {
            const QByteArray plain = QByteArray(submission).replace(" RETURNING id", "");
            if (sqlite3_prepare_v2(m_handle, plain.constData(), -1, &m_submission, nullptr) != SQLITE_OK
                || sqlite3_prepare_v2(m_handle, replay, -1, &m_replay, nullptr) != SQLITE_OK) {
                *error = QString::fromUtf8(sqlite3_errmsg(m_handle));
                return false;
            }
            return true;
        }
        m_qSubmission = std::make_unique<QSqlQuery>(m_db);
        m_qReplay = std::make_unique<QSqlQuery>(m_db);
        if (!m_qSubmission->prepare(QString::fromLatin1(submission))) {
            *error = m_qSubmission->lastError().text();
            return false;
        }
        if (!m_qReplay->prepare(QString::fromLatin1(replay))) {
            *error = m_qReplay->lastError().text();
            return false;
        }
        return true;
    }
    // Stores the row; its submission's id, 0 on failure.
    qint64 write(const ImportRow& row, QString* error)
    {
        if (m_handle) {
            const QByteArray& name = row.utf8Name;
            const QByteArray& time = row.time;
            sqlite3_reset(m_submission);
            sqlite3_bind_text(m_submission, 1, name.constData(), int(name.size()), SQLITE_STATIC);
            for (int i = 0; i < BoardSizeCount; ++i)
                sqlite3_bind_int64(m_submission, 2 + i, FirstBoard + i == row.board ? row.score : 0);
            sqlite3_bind_text(m_submission, 6, time.constData(), int(time.size()), SQLITE_STATIC);
            if (sqlite3_step(m_submission) != SQLITE_DONE) {
                *error = QString::fromUtf8(sqlite3_errmsg(m_handle));
                return 0;
            }
            const qint64 id = sqlite3_last_insert_rowid(m_handle);
            sqlite3_reset(m_submission);
            if (row.verified) {
                sqlite3_reset(m_replay);
                sqlite3_bind_int64(m_replay, 1, id);
                sqlite3_bind_int(m_replay, 2, row.board);
                sqlite3_bind_text(m_replay, 3, name.constData(), int(name.size()), SQLITE_STATIC);
                sqlite3_bind_int64(m_replay, 4, row.score);
                sqlite3_bind_text(m_replay, 5, time.constData(), int(time.size()), SQLITE_STATIC);
                if (sqlite3_step(m_replay) != SQLITE_DONE) {
                    *error = QString::fromUtf8(sqlite3_errmsg(m_handle));
                    return 0;
                }
                sqlite3_reset(m_replay);
            }
            return id;
        }
        m_qSubmission->bindValue(0, QString::fromUtf8(row.utf8Name));
        for (int i = 0; i < BoardSizeCount; ++i)
            m_qSubmission->bindValue(1 + i, FirstBoard + i == row.board ? row.score : 0);
        m_qSubmission->bindValue(5, QString::fromLatin1(row.time));
        if (!m_qSubmission->exec() || !m_qSubmission->next()) {
            *error = m_qSubmission->lastError().text();
            return 0;
        }
        const qint64 id = m_qSubmission->value(0).toLongLong();
        m_qSubmission->finish();
        if (row.verified) {
            m_qReplay->bindValue(0, id);
            m_qReplay->bindValue(1, row.board);
            m_qReplay->bindValue(2, QString::fromUtf8(row.utf8Name));
            m_qReplay->bindValue(3, row.score);
            m_qReplay->bindValue(4, QString::fromLatin1(row.time));
            if (!m_qReplay->exec()) {
                *error = m_qReplay->lastError().text();
                return 0;
            }
        }
        return id;
    }

    bool writeBest(int board, const QByteArray& name, qint64 score, qint64 id, const QByteArray& time, QString* error)
    {
        if (m_handle) {
            sqlite3_reset(m_best);
            sqlite3_bind_int(m_best, 1, board);
            sqlite3_bind_text(m_best, 2, name.constData(), int(name.size()), SQLITE_STATIC);
            sqlite3_bind_int64(m_best, 3, score);
            sqlite3_bind_int64(m_best, 4, id);
            sqlite3_bind_text(m_best, 5, time.constData(), int(time.size()), SQLITE_STATIC);
            if (sqlite3_step(m_best) != SQLITE_DONE) {
                *error = QString::fromUtf8(sqlite3_errmsg(m_handle));
                return false;
            }
            return true;
        }
        m_qBest->bindValue(0, board);
        m_qBest->bindValue(1, QString::fromUtf8(name));
        m_qBest->bindValue(2, score);
        m_qBest->bindValue(3, id);
        m_qBest->bindValue(4, QString::fromLatin1(time));
        if (!m_qBest->exec()) {
            *error = m_qBest->lastError().text();
            return false;
        }
        return true;
    }

private:
    QSqlDatabase m_db;
    sqlite3* m_handle;
    sqlite3_stmt* m_submission = nullptr;
    sqlite3_stmt* m_replay = nullptr;
    sqlite3_stmt* m_best = nullptr;
    std::unique_ptr<QSqlQuery> m_qSubmission, m_qReplay, m_qBest;
};

// Each imported name's best on each board: the highest score, the first row of equal ones.
struct ImportedBest {
    qint64 score = 0;
    qint64 id = 0;
    qint64 ms = 0;
};
using ImportedBests = QHash<QByteArray, std::array<ImportedBest, BoardSizeCount>>;

} // namespace

bool ScoreStore::exportCsv(QIODevice& out, qint64* rows)
{
    *rows = 0;
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    QString sql = QStringLiteral("SELECT s.id, s.submitted_at, s.name, s.score4, s.score5, s.score6, s.score7");
    for (int board = FirstBoard; board <= LastBoard; ++board)
        sql += QStringLiteral(", EXISTS (SELECT 1 FROM replays r WHERE r.submission_id = s.id AND r.board = %1 "
                              "AND r.verified = 1)")
                   .arg(board);
    sql += QStringLiteral(" FROM submissions s WHERE s.id > ? ORDER BY s.id LIMIT 5000");
    if (!q.prepare(sql))
        return fail(q);
    if (out.write(CsvHeader + "\r\n") < 0) {
        m_error = out.errorString();
        return false;
    }
    qint64 from = 0;
    for (;;) {
        q.bindValue(0, from);
        if (!q.exec())
            return fail(q);
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
        if (out.write(chunk) < 0) {
            m_error = out.errorString();
            return false;
        }
        if (read < 5000)
            return true;
    }
}

bool ScoreStore::importCsv(QIODevice& in, qint64* rows)
{
    *rows = 0;
    if (importRows(in, rows))
        return true;
    const QString error = m_error;
    exec(QStringLiteral("ROLLBACK"));
    m_error = error;
    *rows = 0;
    return false;
}

bool ScoreStore::importRows(QIODevice& in, qint64* rows)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    CsvReader csv(in);
    QList<QByteArray> fields;
    if (!csv.next(fields) || fields.join(',') != CsvHeader) {
        m_error = csv.error().isEmpty() ? QStringLiteral("line 1: the first line must be \"%1\"").arg(QString::fromLatin1(CsvHeader))
                                        : QStringLiteral("line 1: ") + csv.error();
        return false;
    }
    // A large page cache and in-memory sorting keep a big import from spilling pages early.
    if (m_sqlite && !(exec(QStringLiteral("PRAGMA cache_size=-262144")) && exec(QStringLiteral("PRAGMA temp_store=MEMORY"))))
        return false;
    if (!exec(m_sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN")))
        return false;
    // The records are locked, as by every writer.
    WorldRecords records, verified;
    if (!readRecords(*m_lockRecords, records) || !readRecords(*m_lockVerified, verified))
        return false;
    RowWriter writer(db, m_sqlite);
    if (!writer.prepare(&m_error))
        return false;
    struct Candidate {
        qint64 score = 0;
        qint64 id = 0;
        QString name, time;
    };
    std::array<Candidate, BoardSizeCount> best, bestVerified;
    ImportedBests bests;
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    while (csv.next(fields)) {
        QString why;
        if (fields.size() == 1 && fields[0].isEmpty())
            continue; // a blank line
        const std::optional<ImportRow> row = parseRow(fields, nowMs, &why);
        if (!row) {
            m_error = QStringLiteral("line %1: %2").arg(csv.recordLine()).arg(why);
            return false;
        }
        const qint64 id = writer.write(*row, &m_error);
        if (id == 0)
            return false;
        ++*rows;
        const int i = row->board - FirstBoard;
        ImportedBest& mine = bests[row->utf8Name][size_t(i)];
        if (row->score > mine.score)
            mine = {row->score, id, row->ms};
        if (row->score > best[i].score)
            best[i] = {row->score, id, QString::fromUtf8(row->utf8Name), QString::fromLatin1(row->time)};
        if (row->verified && row->score > bestVerified[i].score)
            bestVerified[i] = {row->score, id, QString::fromUtf8(row->utf8Name), QString::fromLatin1(row->time)};
    }
    if (!csv.error().isEmpty()) {
        m_error = QStringLiteral("line %1: %2").arg(csv.recordLine()).arg(csv.error());
        return false;
    }
    // Each imported name's best on each board joins the bests, in the table's order (names
    // sorted within each board), and a higher score takes the board's record.
    std::vector<ImportedBests::const_iterator> byName;
    byName.reserve(size_t(bests.size()));
    for (auto it = bests.cbegin(); it != bests.cend(); ++it)
        byName.push_back(it);
    std::sort(byName.begin(), byName.end(), [](const auto& a, const auto& b) { return a.key() < b.key(); });
    for (int board = FirstBoard; board <= LastBoard; ++board) {
        for (const auto& it : byName) {
            const ImportedBest& b = it.value()[size_t(board - FirstBoard)];
            if (b.score > 0 && !writer.writeBest(board, it.key(), b.score, b.id, utcIsoLatin1(b.ms), &m_error))
                return false;
        }
        const int i = board - FirstBoard;
        if (best[i].score > records[i].score) {
            m_update->bindValue(0, best[i].score);
            m_update->bindValue(1, best[i].name);
            m_update->bindValue(2, best[i].time);
            m_update->bindValue(3, board);
            m_update->bindValue(4, best[i].score);
            if (!m_update->exec())
                return fail(*m_update);
        }
        if (bestVerified[i].score > verified[i].score) {
            const Candidate& c = bestVerified[i];
            m_updateVerified->bindValue(0, c.score);
            m_updateVerified->bindValue(1, c.name);
            m_updateVerified->bindValue(2, c.time);
            m_updateVerified->bindValue(3, c.id);
            m_updateVerified->bindValue(4, board);
            m_updateVerified->bindValue(5, c.score);
            m_updateVerified->bindValue(6, c.score);
            m_updateVerified->bindValue(7, c.id);
            if (!m_updateVerified->exec())
                return fail(*m_updateVerified);
        }
    }
    // Running services read their standings anew, as after a moderation, rather than row by row.
    return exec(QStringLiteral("UPDATE moderation SET generation = generation + 1 WHERE id = 1")) && notifyOthers()
        && exec(QStringLiteral("COMMIT"));
}

bool ScoreStore::backup(const QString& file)
{
    if (!m_sqlite) {
        m_error = QStringLiteral("--backup copies SQLite databases; back up PostgreSQL with pg_dump");
        return false;
    }
    sqlite3* source = sqliteHandle(QSqlDatabase::database(m_connection, false));
    if (!source) {
        m_error = QStringLiteral("the SQLite driver does not give its connection");
        return false;
    }
    // The copy must replace neither the database it copies nor its write-ahead log, shared memory
    // or journal (services would go on writing a deleted file, or lose committed transactions).
    if (const QString problem = copyTargetProblem(file, m_location); !problem.isEmpty()) {
        m_error = problem;
        return false;
    }
    // Written beside the target under a name of its own, then renamed over it: the target is the
    // old copy or the new one, and no other file is touched.
    QTemporaryFile reserved(file + QStringLiteral(".partial-XXXXXX"));
    reserved.setAutoRemove(false);
    if (!reserved.open()) {
        m_error = QStringLiteral("cannot write beside %1: %2").arg(file, reserved.errorString());
        return false;
    }
    const QString partial = reserved.fileName();
    reserved.close();
    sqlite3* copy = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(partial).constData(), &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
        != SQLITE_OK) {
        m_error = QStringLiteral("cannot write %1: %2").arg(partial, QString::fromUtf8(sqlite3_errmsg(copy)));
        sqlite3_close(copy);
        return false;
    }
    int rc = SQLITE_ERROR;
    if (sqlite3_backup* b = sqlite3_backup_init(copy, "main", source, "main")) {
        // Every page in one step, so in one read transaction: a consistent copy, made while the
        // services go on writing (WAL lets readers and one writer work at once).
        while ((rc = sqlite3_backup_step(b, -1)) == SQLITE_BUSY || rc == SQLITE_LOCKED)
            sqlite3_sleep(50);
        sqlite3_backup_finish(b);
    }
    if (rc == SQLITE_DONE)
        rc = sqlite3_exec(copy, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr) == SQLITE_OK ? SQLITE_DONE : SQLITE_ERROR;
    if (rc != SQLITE_DONE)
        m_error = QString::fromUtf8(sqlite3_errmsg(copy));
    if (sqlite3_close(copy) != SQLITE_OK && rc == SQLITE_DONE) {
        rc = SQLITE_ERROR;
        m_error = QStringLiteral("closing the copy failed");
    }
    if (rc != SQLITE_DONE) {
        QFile::remove(partial);
        return false;
    }
    if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(file).constData()) != 0) {
        m_error = QStringLiteral("cannot rename %1 to %2").arg(partial, file);
        QFile::remove(partial);
        return false;
    }
    return true;
}

} // namespace zimble::server
