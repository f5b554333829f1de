#include "scorestore.h"
#include "database.h"
#include "isotime.h"
#include "schema.h"

#include <QSqlQuery>
#include <QVariant>

#include <malloc.h>

namespace zimble::server {

QString printableLocation(const QString& location)
{
    // Read as text rather than through QUrl, so that even a URL QUrl cannot parse loses its
    // password: the user part ends at the last '@', and the password starts at its first ':'.
    const qsizetype schemeEnd = location.indexOf(QLatin1String("://"));
    const QString scheme = location.left(schemeEnd).toLower();
    if (schemeEnd < 0 || (scheme != QLatin1String("postgresql") && scheme != QLatin1String("postgres")))
        return location;
    const qsizetype start = schemeEnd + 3;
    const qsizetype at = location.lastIndexOf(QLatin1Char('@'));
    if (at < start)
        return location;
    const qsizetype colon = location.indexOf(QLatin1Char(':'), start);
    if (colon < 0 || colon > at)
        return location;
    return location.left(colon) + location.mid(at);
}

ScoreStore::ScoreStore(const QString& location, bool verifiedOnly, Migration migration)
    : m_location(location)
    , m_verifiedOnly(verifiedOnly)
    , m_boards(verifiedOnly)
{
    m_db = Database::open(location, &m_openError);
    if (!m_db)
        return;
    // A database of a newer program is left exactly as it is (not even its journal mode changed).
    Status s = refuseNewerSchema(*m_db);
    if (s)
        s = m_db->configure();
    if (s && migration == Migration::Now)
        s = migrate();
    m_openError = s.reason();
    m_open = s.ok();
}

ScoreStore::~ScoreStore()
{
    m_writer.reset();
    m_readRecords.reset();
    m_lockRecords.reset();
    m_since.reset();
    m_generation.reset();
    m_replaysSince.reset();
    m_insertReplay.reset();
    m_updateVerified.reset();
    m_readVerified.reset();
    m_lockVerified.reset();
    m_submissionExists.reset();
    m_db.reset();
}

QString ScoreStore::connectionName() const
{
    return m_db ? m_db->connectionName() : QString();
}

Status ScoreStore::migrate()
{
    m_afterBatch.reset();
    if (Status s = migrateSchema(*m_db); !s)
        return s;
    if (Status s = prepareStatements(); !s)
        return s;
    m_migrated = true;
    return {};
}

bool ScoreStore::connectionLost() const
{
    return m_db->isLost();
}

Status ScoreStore::probe()
{
    return m_db->probe();
}

void ScoreStore::diskWorkInBackground()
{
    m_db->diskWorkInBackground();
}

void ScoreStore::whenDurable(std::function<void(const Status&)> done)
{
    m_db->whenDurable(std::move(done));
}

Status ScoreStore::ensureStandings()
{
    if (m_boards.isRead())
        return {};
    return catchUp();
}

Status ScoreStore::reconnect()
{
    m_afterBatch.reset();
    if (Status s = m_db->reopen(); !s)
        return s;
    if (Status s = prepareStatements(); !s)
        return s;
    // What others stored while this connection was away (no notification told of it).
    return catchUp();
}

bool ScoreStore::listenForChanges(std::function<void()> changed)
{
    return m_db->listen(std::move(changed));
}

Status ScoreStore::prepareStatements()
{
    Status status;
    m_writer = m_db->submissionWriter(&status);
    if (!status)
        return status;
    auto make = [&](std::unique_ptr<QSqlQuery>& q, const QString& sql) {
        q = std::make_unique<QSqlQuery>(m_db->query());
        status = m_db->prepare(*q, sql);
        return status.ok();
    };
    const QString lock = m_db->lockRows();
    make(m_readRecords, QStringLiteral("SELECT board, score, holder, set_at FROM records ORDER BY board"))
        // Every transaction takes the records in one order and holds them to its end.
        && make(m_lockRecords, QStringLiteral("SELECT board, score, holder, set_at FROM records ORDER BY board") + lock)
        && make(m_since, QStringLiteral("SELECT id, name, score4, score5, score6, score7, submitted_at FROM submissions "
                                        "WHERE id > ? ORDER BY id LIMIT 5000"))
        && make(m_generation, QStringLiteral("SELECT generation FROM moderation WHERE id = 1"))
        && make(m_replaysSince, QStringLiteral("SELECT r.id, r.submission_id, r.board, r.name, r.score, s.submitted_at "
                                               "FROM replays r JOIN submissions s ON s.id = r.submission_id "
                                               "WHERE r.id > ? AND r.verified = 1 ORDER BY r.id LIMIT 5000"))
        && make(m_insertReplay, QStringLiteral("INSERT INTO replays (submission_id, board, name, score, cycles, clicks, "
                                               "verified, reason, client, received_at, click_cycles) "
                                               "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"))
        && make(m_updateVerified, QString::fromLatin1(sql::RaiseVerifiedRecord))
        && make(m_submissionExists, QStringLiteral("SELECT id FROM submissions WHERE id = ?"))
        && make(m_readVerified, QStringLiteral("SELECT board, score, holder, set_at FROM verified_records ORDER BY board"))
        && make(m_lockVerified, QStringLiteral("SELECT board, score, holder, set_at FROM verified_records ORDER BY board") + lock);
    return status;
}

Status ScoreStore::submitBatch(const QList<Submission>& batch, QList<QList<int>>* won, WorldRecords* after, QDeadlineTimer deadline)
{
    // Waiting for a busy database happens here, on the storage thread, never where requests are served.
    if (m_db->isLost())
        return Status::lost(QStringLiteral("the connection to the database is lost; reconnecting"));
    // The standings come first: without them a batch would take in every stored submission.
    if (Status s = ensureStandings(); !s)
        return s;
    return m_db->retry([&] { return runBatch(batch, won, after); }, 5, 25, true, deadline);
}

Status ScoreStore::runBatch(const QList<Submission>& batch, QList<QList<int>>* won, WorldRecords* after)
{
    // Taken now: a batch that fails, or any other write on this connection, leaves nothing behind.
    const std::optional<AfterBatch> last = std::exchange(m_afterBatch, std::nullopt);
    if (Status s = m_db->beginWrite(); !s)
        return s;
    // The records are locked for the whole transaction (SQLite's write lock, PostgreSQL's row
    // locks), so the ones read here stay true and an update that cannot win is skipped. As every
    // writer takes them first, submission ids also grow in commit order.
    // While no other connection has committed since the last batch, the records, the
    // submissions since and the moderation count are as that batch left them.
    const std::optional<qint64> version = m_db->commitsElsewhere();
    const bool unchanged = last && version && *version == last->version;
    // What other writers stored before this transaction, then this batch: the ten best take
    // both in once the commit has succeeded.
    // Each name's best in memory is never above the table's while no moderation or import has
    // happened since it was read (those raise the count): a score not above it needs no upsert.
    WorldRecords current;
    QList<StoredSubmission> stored;
    qint64 generation = 0;
    if (unchanged) {
        current = last->records;
        generation = last->generation;
    } else {
        Status s = readRecords(*m_lockRecords, current);
        if (s)
            s = readSince(m_boards, &stored);
        if (s)
            s = readGeneration(&generation);
        if (!s)
            return s;
    }
    const bool memoryBelowTable = generation == m_seenGeneration;
    QList<QList<int>> wins;
    const QString now = isoNow();
    const QByteArray at = now.toLatin1();
    const QDateTime nowTime = QDateTime::fromString(now, Qt::ISODateWithMs);
    for (const Submission& sub : batch) {
        const QByteArray name = sub.name.toUtf8();
        qint64 id = 0;
        if (Status s = m_writer->insert(name, sub.scores, sub.client.toUtf8(), at, &id); !s)
            return s;
        stored.append({id, nowTime, sub.name, sub.client, sub.scores});
        QList<int> mine;
        std::array<BestOffer, BoardSizeCount> offers;
        size_t offered = 0;
        for (int i = 0; i < BoardSizeCount; ++i) {
            if (sub.scores[i] <= 0)
                continue;
            const std::optional<Standings::Best> known = memoryBelowTable ? m_boards.best(i, sub.name) : std::nullopt;
            if (!known || known->score < sub.scores[i])
                offers[offered++] = {FirstBoard + i, sub.scores[i], id, at};
        }
        if (Status s = m_writer->raiseBests(name, std::span(offers.data(), offered)); !s)
            return s;
        for (int i = 0; i < BoardSizeCount; ++i) {
            if (sub.scores[i] <= 0 || sub.scores[i] <= current[i].score)
                continue;
            bool raised = false;
            if (Status s = m_writer->raiseRecord(FirstBoard + i, sub.scores[i], name, at, &raised); !s)
                return s;
            if (raised) {
                mine.append(FirstBoard + i);
                current[i] = {sub.scores[i], sub.name, nowTime};
            }
        }
        wins.append(mine);
    }
    // The records as this transaction leaves them: the locked rows with this batch's raises.
    WorldRecords result = current;
    if (m_verifiedOnly) {
        if (Status s = readRecords(*m_readVerified, result); !s)
            return s;
    }
    markVerified(result);
    if (Status s = m_db->notifyOthers(); !s)
        return s;
    if (Status s = m_db->commitUnsynced(); !s)
        return s;
    for (const StoredSubmission& sub : stored)
        m_boards.stored(sub);
    (void)followWeek(m_boards); // tried again at the next read when it fails
    if (version)
        m_afterBatch = AfterBatch{*version, current, generation};
    // Counting verified games only, a bare submission sets no record; its replay may.
    if (m_verifiedOnly)
        wins = QList<QList<int>>(batch.size());
    if (won)
        *won = wins;
    if (after)
        *after = result;
    return {};
}

Status ScoreStore::records(WorldRecords& out)
{
    if (Status s = readRecords(m_verifiedOnly ? *m_readVerified : *m_readRecords, out); !s)
        return s;
    markVerified(out);
    return {};
}

void ScoreStore::markVerified(WorldRecords& out) const
{
    for (int i = 0; i < BoardSizeCount; ++i) {
        out[i].replay = m_boards.replayOf(FirstBoard + i, out[i].holder, out[i].score);
        out[i].verified = m_verifiedOnly ? !out[i].holder.isEmpty() : out[i].replay != 0;
    }
}

Status ScoreStore::readRecords(QSqlQuery& q, WorldRecords& out)
{
    return readRecordRows(*m_db, q, out);
}

Status readRecordRows(Database& db, QSqlQuery& q, WorldRecords& out)
{
    if (Status s = db.run(q); !s)
        return s;
    out = WorldRecords();
    while (q.next()) {
        const int board = q.value(0).toInt();
        if (board < FirstBoard || board > LastBoard)
            continue;
        WorldRecord& r = out[board - FirstBoard];
        r.score = q.value(1).toLongLong();
        r.holder = q.value(2).toString();
        r.setAt = fromIso(q.value(3));
    }
    q.finish();
    return {};
}

Status ScoreStore::readSince(Leaderboards& into, QList<StoredSubmission>* pending)
{
    // In chunks, so that a whole table is never held at once (PostgreSQL sends all rows of a
    // result). With `pending`, the rows wait there for the commit of the transaction at hand.
    qint64 from = into.lastId();
    for (;;) {
        m_since->bindValue(0, from);
        if (Status s = m_db->run(*m_since); !s)
            return s;
        int rows = 0;
        while (m_since->next()) {
            ++rows;
            StoredSubmission sub;
            sub.id = m_since->value(0).toLongLong();
            sub.name = m_since->value(1).toString();
            for (int i = 0; i < BoardSizeCount; ++i)
                sub.scores[i] = m_since->value(2 + i).toLongLong();
            sub.at = fromIso(m_since->value(6));
            from = sub.id;
            if (pending)
                pending->append(sub);
            else
                into.stored(sub);
        }
        m_since->finish();
        if (rows < 5000)
            return {};
    }
}

Status ScoreStore::loadStandings(Leaderboards& into)
{
    // One snapshot: the bests and the last submission they include.
    if (Status s = m_db->beginSnapshot(); !s)
        return s;
    auto end = [&](Status s) {
        if (s)
            return m_db->commit();
        m_db->rollback();
        return s;
    };
    QSqlQuery last = m_db->query();
    if (!last.exec(QStringLiteral("SELECT COALESCE(MAX(id), 0) FROM submissions")) || !last.next())
        return end(m_db->failed(last));
    const qint64 lastId = last.value(0).toLongLong();
    last.finish();
    // Each board's count in one pass over the table (keyed by name, so grouping by board would sort).
    QStringList perBoard;
    for (int board = FirstBoard; board <= LastBoard; ++board)
        perBoard << QStringLiteral("count(*) FILTER (WHERE board = %1)").arg(board);
    QSqlQuery counts = m_db->query();
    if (!counts.exec(QStringLiteral("SELECT %1 FROM bests").arg(perBoard.join(QStringLiteral(", ")))) || !counts.next())
        return end(m_db->failed(counts));
    for (int i = 0; i < BoardSizeCount; ++i)
        into.reserveLoad(i, counts.value(i).toLongLong());
    counts.finish();
    const Status read = m_db->readBests([&into](int board, QByteArrayView name, qint64 score, qint64 id, QByteArrayView at) {
        std::optional<qint64> ms = parseUtcIso(at);
        if (!ms)
            ms = QDateTime::fromString(QString::fromUtf8(at), Qt::ISODateWithMs).toMSecsSinceEpoch();
        into.load(board - FirstBoard, name, score, id, *ms);
    });
    if (!read)
        return end(read);
    into.finishLoad(lastId);
    // What loading used for a while goes back to the system, not only to the allocator.
    ::malloc_trim(0);
    return end({});
}

Status ScoreStore::readGeneration(qint64* out)
{
    if (Status s = m_db->run(*m_generation); !s)
        return s;
    if (!m_generation->next())
        return m_db->failed(*m_generation);
    *out = m_generation->value(0).toLongLong();
    m_generation->finish();
    return {};
}

Status ScoreStore::catchUp()
{
    m_afterBatch.reset();
    qint64 generation = 0;
    if (Status s = readGeneration(&generation); !s)
        return s;
    if (generation != m_seenGeneration || !m_boards.isRead()) {
        // First use, or names were removed or imported: read the leaderboards anew. The old ones
        // go first (memory for one set only); a failed read leaves them unread, to be read again.
        m_boards = Leaderboards(m_verifiedOnly);
        Leaderboards fresh(m_verifiedOnly);
        for (const auto& step : {std::function<Status()>([&] { return loadStandings(fresh); }),
                                 std::function<Status()>([&] { return readSince(fresh, nullptr); }),
                                 std::function<Status()>([&] { return readReplaysSince(fresh); }),
                                 std::function<Status()>([&] { return followWeek(fresh); })}) {
            if (Status s = step(); !s)
                return s;
        }
        fresh.markRead();
        m_boards = std::move(fresh);
        m_seenGeneration = generation;
        return {};
    }
    if (Status s = readSince(m_boards, nullptr); !s)
        return s;
    if (Status s = readReplaysSince(m_boards); !s)
        return s;
    return followWeek(m_boards);
}

Status ScoreStore::pageData(PageData& out)
{
    if (Status s = ensureStandings(); !s)
        return s;
    WorldRecords r;
    if (Status s = followWeek(m_boards); !s)
        return s;
    if (Status s = records(r); !s)
        return s;
    out = m_boards.page(r);
    return {};
}

bool ScoreStore::changedElsewhere()
{
    return m_db->changedElsewhere();
}

Status ScoreStore::followWeek(Leaderboards& into)
{
    const QDateTime start = weekStart(QDateTime::currentDateTimeUtc());
    if (start == into.weekStart())
        return {};
    // A new week: its ten best start from this week's submissions and verified replays. The
    // week moves on only once they have been read, so a failed read is tried again.
    Leaderboards::Week week = into.newWeek(start);
    const QString from = start.toString(Qt::ISODateWithMs);
    QSqlQuery q = m_db->query();
    q.prepare(QStringLiteral("SELECT id, name, score4, score5, score6, score7, submitted_at FROM submissions "
                             "WHERE submitted_at >= ? AND id <= ?"));
    q.addBindValue(from);
    q.addBindValue(into.lastId());
    if (Status s = m_db->run(q); !s)
        return s;
    while (q.next()) {
        StoredSubmission sub;
        sub.id = q.value(0).toLongLong();
        sub.name = q.value(1).toString();
        for (int i = 0; i < BoardSizeCount; ++i)
            sub.scores[i] = q.value(2 + i).toLongLong();
        sub.at = fromIso(q.value(6));
        week.stored(sub);
    }
    QSqlQuery v = m_db->query();
    v.prepare(QStringLiteral("SELECT r.board, r.name, r.score, r.submission_id, s.submitted_at FROM replays r "
                             "JOIN submissions s ON s.id = r.submission_id "
                             "WHERE r.verified = 1 AND s.submitted_at >= ? AND r.id <= ?"));
    v.addBindValue(from);
    v.addBindValue(into.lastReplayId());
    if (Status s = m_db->run(v); !s)
        return s;
    while (v.next()) {
        week.verified({0, v.value(3).toLongLong(), v.value(0).toInt(), v.value(1).toString(), v.value(2).toLongLong(),
                       fromIso(v.value(4))});
    }
    into.turnWeek(std::move(week));
    return {};
}

Status ScoreStore::readReplaysSince(Leaderboards& into)
{
    for (;;) {
        m_replaysSince->bindValue(0, into.lastReplayId());
        if (Status s = m_db->run(*m_replaysSince); !s)
            return s;
        int rows = 0;
        while (m_replaysSince->next()) {
            ++rows;
            into.verified({m_replaysSince->value(0).toLongLong(), m_replaysSince->value(1).toLongLong(),
                           m_replaysSince->value(2).toInt(), m_replaysSince->value(3).toString(),
                           m_replaysSince->value(4).toLongLong(), fromIso(m_replaysSince->value(5))});
        }
        m_replaysSince->finish();
        if (rows < 5000)
            return {};
    }
}

} // namespace zimble::server
