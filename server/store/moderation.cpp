// Moderation queries: listing stored submissions and removing a name with everything it set.

#include "isotime.h"
#include "scorestore.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace zimble::server {

bool ScoreStore::list(int board, const QString& name, int limit, QList<StoredSubmission>& out)
{
    out.clear();
    QString sql = QStringLiteral("SELECT id, submitted_at, name, client, score4, score5, score6, score7 FROM submissions");
    QStringList where;
    if (board >= FirstBoard && board <= LastBoard)
        where << QStringLiteral("score%1 > 0").arg(board);
    if (!name.isNull())
        where << QStringLiteral("name = ?");
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += board >= FirstBoard && board <= LastBoard ? QStringLiteral(" ORDER BY score%1 DESC, id ASC").arg(board)
                                                     : QStringLiteral(" ORDER BY id DESC");
    sql += QStringLiteral(" LIMIT ?");
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(sql);
    if (!name.isNull())
        q.addBindValue(name);
    q.addBindValue(limit);
    if (!q.exec())
        return fail(q);
    while (q.next()) {
        StoredSubmission s;
        s.id = q.value(0).toLongLong();
        s.at = fromIso(q.value(1));
        s.name = q.value(2).toString();
        s.client = q.value(3).toString();
        for (int i = 0; i < BoardSizeCount; ++i)
            s.scores[i] = q.value(MinBoardSize + i).toLongLong();
        out.append(s);
    }
    return true;
}

bool ScoreStore::removeName(const QString& name, int* removed, WorldRecords* before, WorldRecords* after)
{
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    auto run = [&]() -> bool {
        if (!exec(m_sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN")))
            return false;
        // PostgreSQL: lock the records, so submissions of other instances wait for the new ones.
        if (!m_sqlite
            && !(exec(QStringLiteral("SELECT board FROM records FOR UPDATE"))
                 && exec(QStringLiteral("SELECT board FROM verified_records FOR UPDATE"))))
            return false;
        if (!records(*before))
            return false;
        QSqlQuery del(db);
        del.prepare(QStringLiteral("DELETE FROM submissions WHERE name = ?"));
        del.addBindValue(name);
        if (!del.exec())
            return fail(del);
        *removed = del.numRowsAffected();
        QSqlQuery delBests(db);
        delBests.prepare(QStringLiteral("DELETE FROM bests WHERE name = ?"));
        delBests.addBindValue(name);
        if (!delBests.exec())
            return fail(delBests);
        QSqlQuery delReplays(db);
        delReplays.prepare(QStringLiteral("DELETE FROM replays WHERE name = ?"));
        delReplays.addBindValue(name);
        if (!delReplays.exec())
            return fail(delReplays);
        for (int board = FirstBoard; board <= LastBoard; ++board) {
            // The record is the highest remaining score, the earliest of equal ones.
            QSqlQuery top(db);
            top.setForwardOnly(true);
            if (!top.exec(QStringLiteral("SELECT name, score%1, submitted_at FROM submissions WHERE score%1 > 0 "
                                         "ORDER BY score%1 DESC, id ASC LIMIT 1")
                              .arg(board)))
                return fail(top);
            const bool any = top.next();
            const QString holder = any ? top.value(0).toString() : QStringLiteral("");
            const qint64 score = any ? top.value(1).toLongLong() : 0;
            const QString at = any ? top.value(2).toString() : QStringLiteral("");
            top.finish();
            QSqlQuery set(db);
            set.prepare(QStringLiteral("UPDATE records SET score = ?, holder = ?, set_at = ? WHERE board = ?"));
            set.addBindValue(score);
            set.addBindValue(holder);
            set.addBindValue(at);
            set.addBindValue(board);
            if (!set.exec())
                return fail(set);
            // The verified record: the highest remaining verified replay, the earliest of equal ones.
            QSqlQuery vtop(db);
            vtop.setForwardOnly(true);
            vtop.prepare(QStringLiteral("SELECT r.name, r.score, s.submitted_at, r.submission_id FROM replays r "
                                        "JOIN submissions s ON s.id = r.submission_id WHERE r.verified = 1 AND r.board = ? "
                                        "ORDER BY r.score DESC, r.submission_id ASC LIMIT 1"));
            vtop.addBindValue(board);
            if (!vtop.exec())
                return fail(vtop);
            const bool vany = vtop.next();
            QSqlQuery vset(db);
            vset.prepare(QStringLiteral("UPDATE verified_records SET score = ?, holder = ?, set_at = ?, submission_id = ? "
                                        "WHERE board = ?"));
            vset.addBindValue(vany ? vtop.value(1).toLongLong() : 0);
            vset.addBindValue(vany ? vtop.value(0).toString() : QStringLiteral(""));
            vset.addBindValue(vany ? vtop.value(2).toString() : QStringLiteral(""));
            vset.addBindValue(vany ? vtop.value(3).toLongLong() : 0);
            vset.addBindValue(board);
            vtop.finish();
            if (!vset.exec())
                return fail(vset);
        }
        // Running services read the ten best anew when they see the count move.
        return exec(QStringLiteral("UPDATE moderation SET generation = generation + 1 WHERE id = 1")) && records(*after)
            && notifyOthers() && exec(QStringLiteral("COMMIT"));
    };
    return retry(run, 5, 100);
}

} // namespace zimble::server
