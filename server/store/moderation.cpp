// Moderation (moderation.h), and the store's calls that run it.

#include "moderation.h"
#include "database.h"
#include "isotime.h"
#include "scorestore.h"

#include <QSqlQuery>
#include <QVariant>

namespace zimble::server {

namespace {

// Every stored name that folds like `name`, the exact one first when stored.
Status namesFolding(Database& db, const QString& name, QStringList* out)
{
    out->clear();
    const QString folded = foldName(name);
    QSqlQuery q = db.query();
    if (!q.exec(QStringLiteral("SELECT DISTINCT name FROM submissions")))
        return db.failed(q);
    while (q.next()) {
        const QString stored = q.value(0).toString();
        if (foldName(stored) == folded)
            out->append(stored);
    }
    std::sort(out->begin(), out->end());
    if (out->removeOne(name))
        out->prepend(name);
    return {};
}

QString placeholders(qsizetype n)
{
    QStringList marks(n, QStringLiteral("?"));
    return marks.join(QLatin1Char(','));
}

} // namespace

Status Moderation::list(int board, const QString& name, int limit, QList<StoredSubmission>& out)
{
    out.clear();
    QStringList names;
    if (!name.isNull()) {
        if (Status s = namesFolding(m_db, name, &names); !s)
            return s;
        if (names.isEmpty())
            return {};
    }
    QString sql = QStringLiteral("SELECT id, submitted_at, name, client, score4, score5, score6, score7 FROM submissions");
    QStringList where;
    const bool oneBoard = board >= FirstBoard && board <= LastBoard;
    if (oneBoard)
        where << QStringLiteral("score%1 > 0").arg(board);
    if (!names.isEmpty())
        where << QStringLiteral("name IN (%1)").arg(placeholders(names.size()));
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    // Newest first; by one board, highest first and the earlier of equal scores first.
    sql += oneBoard ? QStringLiteral(" ORDER BY score%1 DESC, id ASC").arg(board) : QStringLiteral(" ORDER BY id DESC");
    sql += QStringLiteral(" LIMIT ?");
    QSqlQuery q = m_db.query();
    if (Status s = m_db.prepare(q, sql); !s)
        return s;
    for (const QString& n : std::as_const(names))
        q.addBindValue(n);
    q.addBindValue(limit);
    if (Status s = m_db.run(q); !s)
        return s;
    while (q.next()) {
        StoredSubmission sub;
        sub.id = q.value(0).toLongLong();
        sub.at = fromIso(q.value(1));
        sub.name = q.value(2).toString();
        sub.client = q.value(3).toString();
        for (int i = 0; i < BoardSizeCount; ++i)
            sub.scores[i] = q.value(MinBoardSize + i).toLongLong();
        out.append(sub);
    }
    return {};
}

Status Moderation::removeName(const QString& name, int* removed, WorldRecords* before, WorldRecords* after, bool dryRun,
                              QStringList* matched)
{
    QStringList names;
    if (Status s = namesFolding(m_db, name, &names); !s)
        return s;
    if (matched)
        *matched = names;
    return m_db.retry([&] { return removeRun(names, removed, before, after, dryRun); }, 5, 100, true);
}

Status Moderation::removeRun(const QStringList& names, int* removed, WorldRecords* before, WorldRecords* after, bool dryRun)
{
    *removed = 0;
    if (Status s = m_db.beginWrite(); !s)
        return s;
    // The records locked, so submissions of other instances wait for the new ones.
    for (const char* table : {"records", "verified_records"}) {
        if (Status s = m_db.exec(QStringLiteral("SELECT board FROM %1").arg(QLatin1String(table)) + m_db.lockRows()); !s)
            return s;
    }
    if (Status s = m_records(*before); !s)
        return s;
    for (const QString& name : names) {
        for (const char* table : {"submissions", "bests", "replays"}) {
            QSqlQuery del = m_db.query();
            del.prepare(QStringLiteral("DELETE FROM %1 WHERE name = ?").arg(QLatin1String(table)));
            del.addBindValue(name);
            if (Status s = m_db.run(del); !s)
                return s;
            if (qstrcmp(table, "submissions") == 0)
                *removed += del.numRowsAffected();
        }
    }
    for (int board = FirstBoard; board <= LastBoard; ++board) {
        if (Status s = recomputeRecords(board); !s)
            return s;
    }
    // Running services read the ten best anew when they see the count move.
    if (Status s = m_db.exec(QStringLiteral("UPDATE moderation SET generation = generation + 1 WHERE id = 1")); !s)
        return s;
    if (Status s = m_records(*after); !s)
        return s;
    if (dryRun) {
        m_db.rollback();
        return {};
    }
    if (Status s = m_db.notifyOthers(); !s)
        return s;
    return m_db.commit();
}

Status Moderation::recomputeRecords(int board)
{
    // The record is the highest remaining score, the earliest of equal ones.
    QSqlQuery top = m_db.query();
    if (!top.exec(QStringLiteral("SELECT name, score%1, submitted_at FROM submissions WHERE score%1 > 0 "
                                 "ORDER BY score%1 DESC, id ASC LIMIT 1")
                      .arg(board)))
        return m_db.failed(top);
    const bool any = top.next();
    QSqlQuery set = m_db.query();
    set.prepare(QStringLiteral("UPDATE records SET score = ?, holder = ?, set_at = ? WHERE board = ?"));
    set.addBindValue(any ? top.value(1).toLongLong() : 0);
    set.addBindValue(any ? top.value(0).toString() : QStringLiteral(""));
    set.addBindValue(any ? top.value(2).toString() : QStringLiteral(""));
    set.addBindValue(board);
    top.finish();
    if (Status s = m_db.run(set); !s)
        return s;
    return recomputeVerifiedRecord(board);
}

Status Moderation::recomputeVerifiedRecord(int board)
{
    // The verified record: the highest remaining verified replay, the earliest of equal ones.
    QSqlQuery vtop = m_db.query();
    vtop.prepare(QStringLiteral("SELECT r.name, r.score, s.submitted_at, r.submission_id FROM replays r "
                                "JOIN submissions s ON s.id = r.submission_id WHERE r.verified = 1 AND r.board = ? "
                                "ORDER BY r.score DESC, r.submission_id ASC LIMIT 1"));
    vtop.addBindValue(board);
    if (Status s = m_db.run(vtop); !s)
        return s;
    const bool vany = vtop.next();
    QSqlQuery vset = m_db.query();
    vset.prepare(QStringLiteral("UPDATE verified_records SET score = ?, holder = ?, set_at = ?, submission_id = ? WHERE board = ?"));
    vset.addBindValue(vany ? vtop.value(1).toLongLong() : 0);
    vset.addBindValue(vany ? vtop.value(0).toString() : QStringLiteral(""));
    vset.addBindValue(vany ? vtop.value(2).toString() : QStringLiteral(""));
    vset.addBindValue(vany ? vtop.value(3).toLongLong() : 0);
    vset.addBindValue(board);
    vtop.finish();
    return m_db.run(vset);
}

Status ScoreStore::list(int board, const QString& name, int limit, QList<StoredSubmission>& out)
{
    return Moderation(*m_db, [this](WorldRecords& r) { return records(r); }).list(board, name, limit, out);
}

Status ScoreStore::removeName(const QString& name, int* removed, WorldRecords* before, WorldRecords* after, bool dryRun,
                              QStringList* names)
{
    m_afterBatch.reset();
    return Moderation(*m_db, [this](WorldRecords& r) { return records(r); }).removeName(name, removed, before, after, dryRun, names);
}

} // namespace zimble::server
