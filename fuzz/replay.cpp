// Replays the fuzzers' seed corpus (and anything found since) through the request parser with the
// rules of parsercheck.h, and every replay request in it through the replay submission parser.
// Run by CTest in every build; needs no clang.
#include "parsercheck.h"

#include "game/gamestate.h"
#include "scores/exchange.h"

#include <QDirIterator>
#include <QFile>

#include <cstdio>

namespace {

bool sameReplays(const std::vector<zimble::SubmittedReplay>& a, const std::vector<zimble::SubmittedReplay>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const zimble::GameReplay &x = a[i].replay, &y = b[i].replay;
        if (a[i].whole != b[i].whole || x.boardSize != y.boardSize || x.clockCycles != y.clockCycles
            || x.clicks != y.clicks || x.clickCycles != y.clickCycles)
            return false;
    }
    return true;
}

// An empty text when the replay submission parser, given the query of a replay request, refuses
// it with a sentence or takes at most four replays of at most a full game each, no more clock
// values than clicks, that read back the same when sent again.
QByteArray checkReplaySubmission(const QByteArray& query)
{
    using namespace zimble;
    QString refusal;
    const std::optional<ReplaySubmission> s = parseReplaySubmission(query, &refusal);
    if (!s)
        return refusal.startsWith(QStringLiteral("Your replays were not checked: ")) ? QByteArray() : "a refusal without its sentence";
    if (s->replays.size() > std::size_t(MaxReplaysPerRequest))
        return "more replays than boards";
    for (const SubmittedReplay& r : s->replays) {
        if (r.replay.clicks.size() > std::size_t(HitsToRemoveTile * TilePoolSize))
            return "more clicks than a game has";
        if (r.replay.clickCycles.size() > r.replay.clicks.size())
            return "more clock values than clicks";
    }
    const QByteArray again = replayRequestTarget(QString(), s->replays).toLatin1();
    const std::optional<ReplaySubmission> back = parseReplaySubmission(again.mid(again.indexOf('?') + 1), nullptr);
    return back && sameReplays(back->replays, s->replays) ? QByteArray() : "replays that do not read back as sent";
}

} // namespace

int main(int argc, char* argv[])
{
    int files = 0, failed = 0, replayRequests = 0;
    for (int i = 1; i < argc; ++i) {
        QDirIterator it(QString::fromLocal8Bit(argv[i]), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            if (!f.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(f.fileName()));
                ++failed;
                continue;
            }
            ++files;
            const QByteArray data = f.readAll();
            QByteArray failure = zimble::fuzz::checkParser(data);
            const zimble::fuzz::ParseResult parsed = zimble::fuzz::parseRequest(data);
            if (failure.isEmpty() && parsed.kind == zimble::fuzz::ParseResult::Kind::Request
                && parsed.request.path == "/zr.asp") {
                ++replayRequests;
                failure = checkReplaySubmission(parsed.request.query);
            }
            if (!failure.isEmpty()) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(f.fileName()), failure.constData());
                ++failed;
            }
        }
    }
    std::printf("%d corpus files replayed (%d replay requests), %d failed\n", files, replayRequests, failed);
    return failed == 0 && files > 0 ? 0 : 1;
}
